#pragma once

#include <QtGlobal>

#include <functional>

namespace platform {

using TaskId = quint64;

// Something that runs work later: the main queue, a serial queue, or a
// virtual-time executor in tests. Everything that schedules takes one by
// injection so tests never sleep.
class Executor {
public:
    virtual ~Executor() = default;

    virtual void async(std::function<void()> task) = 0;
    // Runs the task after the delay (seconds; negative counts as 0).
    // The returned id can be passed to cancel() until the task has started.
    virtual TaskId asyncAfter(double seconds, std::function<void()> task) = 0;
    // Cancelling an unknown, finished or already cancelled task does nothing.
    virtual void cancel(TaskId id) = 0;
};

} // namespace platform
