#include "platform/UdevDeviceMonitor.h"

#include <QByteArray>
#include <QSocketNotifier>

#include <libudev.h>

namespace platform {

std::unique_ptr<UdevDeviceMonitor> UdevDeviceMonitor::open(const char* subsystem)
{
    udev* context = udev_new();
    if (!context)
        return nullptr;
    // The "udev" source reports a node after its rules ran, so its permissions are in place.
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor, subsystem, nullptr) < 0
        || udev_monitor_enable_receiving(monitor) < 0 || udev_monitor_get_fd(monitor) < 0) {
        if (monitor)
            udev_monitor_unref(monitor);
        udev_unref(context);
        return nullptr;
    }
    return std::unique_ptr<UdevDeviceMonitor>(new UdevDeviceMonitor(context, monitor, subsystem));
}

UdevDeviceMonitor::UdevDeviceMonitor(udev* context, udev_monitor* monitor, const char* subsystem)
    : udev_(context)
    , monitor_(monitor)
    , subsystem_(subsystem)
{
}

UdevDeviceMonitor::~UdevDeviceMonitor()
{
    notifier_.reset();
    udev_monitor_unref(monitor_);
    udev_unref(udev_);
}

bool UdevDeviceMonitor::start(const char* sysnamePattern, Handler added, Handler removed)
{
    if (notifier_)
        return false;
    added_ = std::move(added);
    removed_ = std::move(removed);

    udev_enumerate* scan = udev_enumerate_new(udev_);
    if (scan) {
        udev_enumerate_add_match_subsystem(scan, subsystem_);
        if (sysnamePattern)
            udev_enumerate_add_match_sysname(scan, sysnamePattern);
        udev_enumerate_scan_devices(scan);
        udev_list_entry* entry;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan))
        {
            if (udev_device* device = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry))) {
                if (added_)
                    added_(device);
                udev_device_unref(device);
            }
        }
        udev_enumerate_unref(scan);
    }

    notifier_ = std::make_unique<QSocketNotifier>(udev_monitor_get_fd(monitor_), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { receive(); });
    return true;
}

void UdevDeviceMonitor::receive()
{
    udev_device* device = udev_monitor_receive_device(monitor_);
    if (!device)
        return;
    const QByteArray action = udev_device_get_action(device);
    if (action == "add" && added_)
        added_(device);
    else if (action == "remove" && removed_)
        removed_(device);
    udev_device_unref(device);
}

} // namespace platform
