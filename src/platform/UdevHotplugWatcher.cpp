#include "platform/UdevHotplugWatcher.h"

#include <QSocketNotifier>

#include <libudev.h>

namespace platform {

namespace {

const char* const kUdevSubsystem = "hidraw";

quint16 hexId(const char* text)
{
    bool ok = false;
    const uint value = text ? QByteArray(text).trimmed().toUInt(&ok, 16) : 0;
    return ok && value <= 0xFFFF ? quint16(value) : 0;
}

} // namespace

std::unique_ptr<UdevHotplugWatcher> UdevHotplugWatcher::open()
{
    udev* context = udev_new();
    if (!context)
        return nullptr;
    // The "udev" source reports a node after its rules ran, so its permissions are in place.
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor, kUdevSubsystem, nullptr) < 0
        || udev_monitor_enable_receiving(monitor) < 0 || udev_monitor_get_fd(monitor) < 0) {
        if (monitor)
            udev_monitor_unref(monitor);
        udev_unref(context);
        return nullptr;
    }
    return std::unique_ptr<UdevHotplugWatcher>(new UdevHotplugWatcher(context, monitor));
}

UdevHotplugWatcher::UdevHotplugWatcher(udev* context, udev_monitor* monitor)
    : udev_(context)
    , monitor_(monitor)
{
}

UdevHotplugWatcher::~UdevHotplugWatcher()
{
    notifier_.reset();
    udev_monitor_unref(monitor_);
    udev_unref(udev_);
}

bool UdevHotplugWatcher::start(Handler attached, Handler removed)
{
    if (notifier_)
        return false;
    attached_ = std::move(attached);
    removed_ = std::move(removed);

    // The monitor already receives, so nothing attached during this scan is
    // lost; a node seen twice is reported once.
    udev_enumerate* scan = udev_enumerate_new(udev_);
    if (scan) {
        udev_enumerate_add_match_subsystem(scan, kUdevSubsystem);
        udev_enumerate_scan_devices(scan);
        udev_list_entry* entry;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan))
        {
            if (udev_device* device = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry))) {
                add(device);
                udev_device_unref(device);
            }
        }
        udev_enumerate_unref(scan);
    }

    notifier_ = std::make_unique<QSocketNotifier>(udev_monitor_get_fd(monitor_), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { receive(); });
    return true;
}

void UdevHotplugWatcher::receive()
{
    udev_device* device = udev_monitor_receive_device(monitor_);
    if (!device)
        return;
    const QByteArray action = udev_device_get_action(device);
    if (action == "add") {
        add(device);
    } else if (action == "remove") {
        const auto it = known_.constFind(QString::fromUtf8(udev_device_get_syspath(device)));
        if (it != known_.cend()) {
            const HidHotplugDevice gone = it.value();
            known_.erase(it);
            if (removed_)
                removed_(gone);
        }
    }
    udev_device_unref(device);
}

void UdevHotplugWatcher::add(udev_device* device)
{
    const QString node = QString::fromUtf8(udev_device_get_syspath(device));
    if (known_.contains(node))
        return;
    const HidHotplugDevice info = describe(device);
    known_.insert(node, info);
    if (attached_)
        attached_(info);
}

HidHotplugDevice UdevHotplugWatcher::describe(udev_device* device)
{
    HidHotplugDevice info;
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
    if (!usb) {
        // Bluetooth or I2C HID: no USB product string; the node stands for itself.
        info.key = QString::fromUtf8(udev_device_get_syspath(device));
        return info;
    }
    info.key = QString::fromUtf8(udev_device_get_syspath(usb));
    if (const char* product = udev_device_get_sysattr_value(usb, "product")) {
        info.product = QString::fromUtf8(product);
        info.hasProduct = true;
    }
    info.vendorId = hexId(udev_device_get_sysattr_value(usb, "idVendor"));
    info.productId = hexId(udev_device_get_sysattr_value(usb, "idProduct"));
    return info;
}

} // namespace platform
