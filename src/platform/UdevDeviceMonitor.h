#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;
struct udev;
struct udev_device;
struct udev_monitor;

namespace platform {

// The devices of one udev subsystem: those present when started, then each
// one added or removed, read on the main thread through a socket notifier.
// The monitor receives before the present devices are listed, so nothing
// attached meanwhile is lost (a device may then be reported twice; users
// keep what they already know). A reported device lives only for the call.
class UdevDeviceMonitor {
public:
    using Handler = std::function<void(udev_device*)>;

    // Null when udev or its monitor cannot be set up.
    static std::unique_ptr<UdevDeviceMonitor> open(const char* subsystem);
    ~UdevDeviceMonitor();
    UdevDeviceMonitor(const UdevDeviceMonitor&) = delete;
    UdevDeviceMonitor& operator=(const UdevDeviceMonitor&) = delete;

    // Reports each present device whose system name matches the pattern
    // (every device for null) to `added`, then follows the subsystem. False
    // when already started.
    bool start(const char* sysnamePattern, Handler added, Handler removed);

private:
    UdevDeviceMonitor(udev* context, udev_monitor* monitor, const char* subsystem);
    void receive();

    udev* udev_;
    udev_monitor* monitor_;
    const char* subsystem_;
    std::unique_ptr<QSocketNotifier> notifier_;
    Handler added_, removed_;
};

} // namespace platform
