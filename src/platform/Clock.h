#pragma once

namespace platform {

// Wall time as seconds since 1970 and a monotonic time in seconds: the boot
// clock (seconds since boot, time asleep included), which wall-clock changes
// do not move and which starts again near 0 after a reboot.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double now() const = 0;
    virtual double monotonic() const = 0;

    // The real clock of the process.
    static Clock& system();
};

} // namespace platform
