#pragma once

#include "platform/Executor.h"

#include <functional>

// A repeating timer on an executor: the tick runs every interval until
// stop(). Stopping or restarting from inside the tick is allowed.
class RepeatingTimer {
public:
    explicit RepeatingTimer(platform::Executor& executor)
        : executor_(executor)
    {
    }
    ~RepeatingTimer() { stop(); }
    RepeatingTimer(const RepeatingTimer&) = delete;
    RepeatingTimer& operator=(const RepeatingTimer&) = delete;

    void start(double interval, std::function<void()> tick);
    void stop();
    bool isActive() const { return pending_ != 0; }

private:
    void schedule();

    platform::Executor& executor_;
    double interval_ = 0;
    std::function<void()> tick_;
    platform::TaskId pending_ = 0;
};
