#pragma once

#include "platform/HidHotplugWatcher.h"

#include <QHash>

#include <memory>

struct udev_device;

namespace platform {

class UdevDeviceMonitor;

// Hot-plug reports from a libudev monitor on the "hidraw" subsystem, read on
// the main thread. A device is described by its
// USB parent (product string and ids); the description of each node is kept
// so its removal, when sysfs is already gone, can still be reported.
class UdevHotplugWatcher final : public HidHotplugWatcher {
public:
    // Null when udev or its monitor cannot be set up.
    static std::unique_ptr<UdevHotplugWatcher> open();
    ~UdevHotplugWatcher() override;

    bool start(Handler attached, Handler removed) override;

private:
    explicit UdevHotplugWatcher(std::unique_ptr<UdevDeviceMonitor> monitor);
    void add(udev_device* device);
    void remove(udev_device* device);
    static HidHotplugDevice describe(udev_device* device);

    std::unique_ptr<UdevDeviceMonitor> monitor_;
    bool started_ = false;
    Handler attached_, removed_;
    QHash<QString, HidHotplugDevice> known_; // by the hidraw node's sysfs path
};

} // namespace platform
