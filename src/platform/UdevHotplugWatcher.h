#pragma once

#include "platform/HidHotplugWatcher.h"

#include <QHash>

#include <memory>

class QSocketNotifier;
struct udev;
struct udev_device;
struct udev_monitor;

namespace platform {

// Hot-plug reports from a libudev monitor on the "hidraw" subsystem, read on
// the main thread through a socket notifier. A device is described by its
// USB parent (product string and ids); the description of each node is kept
// so its removal, when sysfs is already gone, can still be reported.
class UdevHotplugWatcher final : public HidHotplugWatcher {
public:
    // Null when udev or its monitor cannot be set up.
    static std::unique_ptr<UdevHotplugWatcher> open();
    ~UdevHotplugWatcher() override;

    bool start(Handler attached, Handler removed) override;

private:
    UdevHotplugWatcher(udev* context, udev_monitor* monitor);
    void receive();
    void add(udev_device* device);
    static HidHotplugDevice describe(udev_device* device);

    udev* udev_;
    udev_monitor* monitor_;
    std::unique_ptr<QSocketNotifier> notifier_;
    Handler attached_, removed_;
    QHash<QString, HidHotplugDevice> known_; // by the hidraw node's sysfs path
};

} // namespace platform
