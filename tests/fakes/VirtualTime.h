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

    // Tasks never run are dropped; what they hold may still cancel others.
    ~VirtualTime() override
    {
        auto tasks = std::move(tasks_);
        tasks_.clear();
    }

    double now() const override { return now_ + wallOffset_; }
    double monotonic() const override { return now_ - start_ + bootBase_; }

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
    // Someone sets the wall clock: now() jumps by the seconds (either way);
    // the boot clock and the tasks' due times stay where they are.
    void jumpWallClock(double seconds) { wallOffset_ = wallOffset_ + seconds; }
    // The boot clock reads `seconds` from here on (a reboot: lower than
    // before), moving on with time as usual.
    void setBootClock(double seconds) { bootBase_ = seconds - (now_ - start_); }

private:
    struct Key {
        double due;
        platform::TaskId id;
        bool operator<(const Key& o) const { return due != o.due ? due < o.due : id < o.id; }
    };
    std::atomic<double> now_;
    const double start_ = now_;
    mutable std::mutex mutex_;
    std::atomic<double> wallOffset_ = 0;
    std::atomic<double> bootBase_ = 1000.0;
    platform::TaskId nextId_ = 1;
    std::map<Key, std::function<void()>> tasks_;
};

} // namespace fakes
