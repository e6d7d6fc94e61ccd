#pragma once

#include "platform/Executor.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace platform {
class Clock;
class SerialQueue;
} // namespace platform

// A named one-shot timer whose work runs on a serial queue. The delay is
// measured by an injected executor and clock (the queue itself and the
// system clock in the application, virtual time in tests). The firing is due
// at a wall-clock moment: after the machine slept through it, it comes within
// a minute of waking; it never comes later than the delay on the executor's
// own time. Arming replaces a pending firing, so there is never more than
// one. All calls come from the queue the alarm fires on.
class APMAlarm {
public:
    // The timer task waits for the queue to run the firing; the executor may
    // be the queue itself. An empty name is shown as "Timer".
    APMAlarm(platform::SerialQueue& queue, platform::Executor& timer, platform::Clock& clock, const QString& name);
    // An alarm whose work runs in the timer's own task, for an executor that
    // is itself the queue the work belongs on (the main queue). All calls
    // then come from that executor's thread.
    APMAlarm(platform::Executor& timer, platform::Clock& clock, const QString& name);
    ~APMAlarm();

    APMAlarm(const APMAlarm&) = delete;
    APMAlarm& operator=(const APMAlarm&) = delete;

    const QString& name() const;
    // No work: level 1, code 2000, and a pending firing stays pending.
    void runAfterDelay(double delay, std::function<void()> block);
    void cancel();
    bool hasActiveTimer() const;
    // Seconds since 1970 at which the pending firing is due; none when idle.
    std::optional<double> scheduledTimestamp() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};
