#pragma once

#include "platform/Clock.h"
#include "platform/Executor.h"

#include <atomic>
#include <map>
#include <mutex>

namespace fakes {

// A clock and an executor on virtual time. Nothing runs until the test calls
// advance() or runPending(); tasks due at the same moment run in the order
// they were scheduled. Tasks may be posted from other threads (a serial
// queue handing work back); they run on the thread that advances time.
class VirtualTime final : public platform::Clock, public platform::Executor {
public:
    explicit VirtualTime(double start = 1'700'000'000.0)
        : now_(start)
    {
    }

    double now() const override { return now_; }
    double monotonic() const override { return now_ - start_ + 1000.0; }

    void async(std::function<void()> task) override { asyncAfter(0, std::move(task)); }
    platform::TaskId asyncAfter(double seconds, std::function<void()> task) override;
    void cancel(platform::TaskId id) override;

    // Moves time forward, running every task that falls due on the way at
    // its own moment (tasks scheduled by tasks included).
    void advance(double seconds);
    // Runs what is due now, without moving time.
    void runPending() { advance(0); }
    size_t pendingCount() const
    {
        std::lock_guard lock(mutex_);
        return tasks_.size();
    }

private:
    struct Key {
        double due;
        platform::TaskId id;
        bool operator<(const Key& o) const { return due != o.due ? due < o.due : id < o.id; }
    };
    std::atomic<double> now_;
    const double start_ = now_;
    mutable std::mutex mutex_;
    platform::TaskId nextId_ = 1;
    std::map<Key, std::function<void()>> tasks_;
};

} // namespace fakes
