#include "device/UWUsbInfoManager.h"

#include "core/MMDeviceInfo.h"
#include "core/MMUserInfo.h"
#include "core/Notifications.h"
#include "device/UWHidapiManager.h"
#include "platform/NotificationCenter.h"

#include <cstdio>

namespace {

const QString kUsbModeKey = QStringLiteral("mode");
constexpr quint64 kUsbReceiverConnection = 4;

} // namespace

const QString UWUsbInfoManager::kReceiverProduct = QStringLiteral("USB Composite Device");

UWUsbInfoManager& UWUsbInfoManager::sharedUWUsbInfoManager()
{
    static UWUsbInfoManager manager(platform::HidHotplugWatcher::create(),
        UWHidapiManager::sharedUWHidapiManager(), MMUserInfo::sharedMMUserInfo().deviceInfo(),
        platform::NotificationCenter::defaultCenter());
    return manager;
}

UWUsbInfoManager::UWUsbInfoManager(std::unique_ptr<platform::HidHotplugWatcher> watcher,
    UWHidapiManager& link, MMDeviceInfo& device, platform::NotificationCenter& center)
    : watcher_(std::move(watcher))
    , link_(link)
    , device_(device)
    , center_(center)
{
    watching_ = watcher_->start([this](const platform::HidHotplugDevice& d) { deviceAttached(d); },
        [this](const platform::HidHotplugDevice& d) { usbDeviceRemoved(d); });
    if (!watching_)
        std::printf("USB receiver watching is not available\n");
}

bool UWUsbInfoManager::FilterDevicesByCheckingUsbNames(const platform::HidHotplugDevice& device)
{
    return device.hasProduct && device.product == kReceiverProduct;
}

void UWUsbInfoManager::deviceAttached(const platform::HidHotplugDevice& device)
{
    if (deviceRef_) {
        // A receiver shows one node per interface and they arrive one after
        // another; while the held receiver's link is not open yet, a later
        // node of the same receiver tries again, as its vendor interface may
        // only just have appeared. Anything else waits for a removal.
        if (deviceRef_->key == device.key && !link_.hidConnected())
            link_.hidRequestReadMouseInfoVid(deviceRef_->vendorId, deviceRef_->productId, {});
        return;
    }
    usbDeviceMatched(device);
}

void UWUsbInfoManager::usbDeviceMatched(const platform::HidHotplugDevice& device)
{
    if (!FilterDevicesByCheckingUsbNames(device))
        return;
    deviceRef_ = device;
    link_.hidRequestReadMouseInfoVid(device.vendorId, device.productId, {});
}

void UWUsbInfoManager::usbDeviceRemoved(const platform::HidHotplugDevice& device)
{
    if (!FilterDevicesByCheckingUsbNames(device))
        return;
    // Only the receiver being held closes the link; another receiver of the
    // same name leaving does not.
    if (!deviceRef_ || deviceRef_->key != device.key)
        return;
    link_.hidRequestClose();
    deviceRef_.reset();
    if (device_.DeviceConnectionMode() == kUsbReceiverConnection) {
        device_.setDeviceConnectionMode(0);
        center_.post(notifications::kHadReloadConnectImage,
            QVariantMap { { kUsbModeKey, QVariant::fromValue(quint64(0)) } });
    }
}
