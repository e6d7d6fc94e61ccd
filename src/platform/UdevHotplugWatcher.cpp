#include "platform/UdevHotplugWatcher.h"

#include "platform/UdevDeviceMonitor.h"

#include <QByteArray>

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
    std::unique_ptr<UdevDeviceMonitor> monitor = UdevDeviceMonitor::open(kUdevSubsystem);
    if (!monitor)
        return nullptr;
    return std::unique_ptr<UdevHotplugWatcher>(new UdevHotplugWatcher(std::move(monitor)));
}

UdevHotplugWatcher::UdevHotplugWatcher(std::unique_ptr<UdevDeviceMonitor> monitor)
    : monitor_(std::move(monitor))
{
}

UdevHotplugWatcher::~UdevHotplugWatcher() = default;

bool UdevHotplugWatcher::start(Handler attached, Handler removed)
{
    if (started_)
        return false;
    started_ = true;
    attached_ = std::move(attached);
    removed_ = std::move(removed);
    // A node seen twice (present at the scan and reported by the monitor) is
    // reported once.
    return monitor_->start(
        nullptr, [this](udev_device* device) { add(device); }, [this](udev_device* device) { remove(device); });
}

void UdevHotplugWatcher::remove(udev_device* device)
{
    const auto it = known_.constFind(QString::fromUtf8(udev_device_get_syspath(device)));
    if (it == known_.cend())
        return;
    const HidHotplugDevice gone = it.value();
    known_.erase(it);
    if (removed_)
        removed_(gone);
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
