#include "device/RepeatingTimer.h"

void RepeatingTimer::start(double interval, std::function<void()> tick)
{
    stop();
    interval_ = interval;
    tick_ = std::move(tick);
    schedule();
}

void RepeatingTimer::stop()
{
    if (pending_ != 0) {
        executor_.cancel(pending_);
        pending_ = 0;
    }
    tick_ = nullptr;
}

void RepeatingTimer::schedule()
{
    pending_ = executor_.asyncAfter(interval_, [this] {
        // The next firing is booked before the tick, so a tick that stops
        // the timer also cancels it; the tick runs from a copy because it
        // may replace or clear tick_.
        auto tick = tick_;
        schedule();
        if (tick)
            tick();
    });
}
