#pragma once

#include "device/RepeatingTimer.h"

#include <functional>

class MMDeviceInfo;

// The battery poll of a device link: every 300 s while the link is up it
// asks for the battery (chaDianchi over the active link), and it stops by
// itself once the user switched the low-battery reminder off.
class LowPowerTimer {
public:
    static constexpr double kInterval = 300.0;

    LowPowerTimer(platform::Executor& executor, const MMDeviceInfo& device, std::function<void()> chaDianchi);

    // Starts the poll unless it runs.
    void start();
    void stop() { timer_.stop(); }
    bool isActive() const { return timer_.isActive(); }

private:
    RepeatingTimer timer_;
    const MMDeviceInfo& device_;
    std::function<void()> chaDianchi_;
};
