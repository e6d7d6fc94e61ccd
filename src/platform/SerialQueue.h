#pragma once

#include "platform/Executor.h"

#include <QString>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace platform {

// A named queue that runs its tasks one at a time, in order, on its own
// thread. sync() waits for the task; called from a task of the same queue it
// runs the task inline instead of deadlocking.
class SerialQueue final : public Executor {
public:
    explicit SerialQueue(QString name);
    // Finishes the tasks already due and drops delayed ones. Must not be
    // called from one of the queue's own tasks (it joins the queue's thread).
    ~SerialQueue() override;

    // What the destructor does, for a queue that lives as long as the process
    // and must be quiet before static destruction begins. Afterwards the
    // queue has no thread: async() and sync() run the task on the caller,
    // delayed tasks are dropped. Same restriction as the destructor.
    void stop();

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const QString& name() const { return name_; }
    bool isCurrent() const;

    void async(std::function<void()> task) override;
    TaskId asyncAfter(double seconds, std::function<void()> task) override;
    void cancel(TaskId id) override;
    void sync(const std::function<void()>& task);

private:
    using TimePoint = std::chrono::steady_clock::time_point;
    struct Key {
        TimePoint due;
        TaskId id;
        bool operator<(const Key& o) const { return due != o.due ? due < o.due : id < o.id; }
    };

    void run();

    QString name_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<Key, std::function<void()>> tasks_;
    TaskId nextId_ = 1;
    bool stopping_ = false;
    bool stopped_ = false; // the thread is joined; tasks run on the caller
    std::thread thread_;
};

} // namespace platform
