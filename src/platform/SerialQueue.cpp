#include "platform/SerialQueue.h"

#include <cmath>
#include <future>

namespace platform {
namespace {
thread_local const SerialQueue* tlsCurrentQueue = nullptr;
}

SerialQueue::SerialQueue(QString name)
    : name_(std::move(name))
    , thread_([this] { run(); })
{
}

SerialQueue::~SerialQueue()
{
    stop();
}

void SerialQueue::stop()
{
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    // A task posted while the thread was leaving is still owed a run; only
    // work that is not yet due is dropped.
    std::map<Key, std::function<void()>> left;
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        left.swap(tasks_);
    }
    const auto now = std::chrono::steady_clock::now();
    for (auto& [key, task] : left) {
        if (key.due <= now)
            task();
    }
}

bool SerialQueue::isCurrent() const
{
    return tlsCurrentQueue == this;
}

void SerialQueue::async(std::function<void()> task)
{
    asyncAfter(0, std::move(task));
}

TaskId SerialQueue::asyncAfter(double seconds, std::function<void()> task)
{
    auto delay = std::chrono::steady_clock::duration::zero();
    if (seconds > 0) {
        const double capped = std::min(seconds, 1e9); // about 30 years
        delay = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(capped));
    }
    TaskId id;
    {
        std::unique_lock lock(mutex_);
        id = nextId_++;
        if (stopped_) {
            lock.unlock();
            if (delay == std::chrono::steady_clock::duration::zero())
                task(); // nothing is lost once the thread is gone
            return id;
        }
        tasks_.emplace(Key{std::chrono::steady_clock::now() + delay, id}, std::move(task));
    }
    wake_.notify_all();
    return id;
}

void SerialQueue::cancel(TaskId id)
{
    std::lock_guard lock(mutex_);
    for (auto it = tasks_.begin(); it != tasks_.end(); ++it) {
        if (it->first.id == id) {
            tasks_.erase(it);
            return;
        }
    }
}

void SerialQueue::sync(const std::function<void()>& task)
{
    bool stopped;
    {
        std::lock_guard lock(mutex_);
        stopped = stopped_;
    }
    if (isCurrent() || stopped) {
        task();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    async([&task, &done] {
        task();
        done.set_value();
    });
    finished.wait();
}

void SerialQueue::run()
{
    tlsCurrentQueue = this;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (tasks_.empty()) {
            if (stopping_)
                return;
            wake_.wait(lock);
            continue;
        }
        auto first = tasks_.begin();
        const auto now = std::chrono::steady_clock::now();
        if (first->first.due > now) {
            if (stopping_)
                return; // delayed work is dropped at destruction
            // A copy: a cancel() on another thread may erase the task while we wait.
            const auto due = first->first.due;
            wake_.wait_until(lock, due);
            continue;
        }
        auto task = std::move(first->second);
        tasks_.erase(first);
        lock.unlock();
        task();
        lock.lock();
    }
}

} // namespace platform
