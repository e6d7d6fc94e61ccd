#pragma once

#include "platform/HidHotplugWatcher.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class MMDeviceInfo;
class UWHidapiManager;

namespace platform {
class NotificationCenter;
}

// Watches the machine's HID devices for the mouse's USB receiver: opens the
// USB link when one arrives, closes it when that receiver leaves and, if it
// was the active connection, reports the mouse as gone. Main thread only.
class UWUsbInfoManager {
public:
    // The receiver's product string; nothing else identifies it.
    static const QString kReceiverProduct; // "USB Composite Device"

    // The watcher of the process, created and started on first use.
    static UWUsbInfoManager& sharedUWUsbInfoManager();

    // Starts watching at once.
    UWUsbInfoManager(std::unique_ptr<platform::HidHotplugWatcher> watcher, UWHidapiManager& link,
        MMDeviceInfo& device, platform::NotificationCenter& center);
    UWUsbInfoManager(const UWUsbInfoManager&) = delete;
    UWUsbInfoManager& operator=(const UWUsbInfoManager&) = delete;

    // False when the session has no hot-plug source.
    bool isWatching() const { return watching_; }
    bool holdsDevice() const { return deviceRef_.has_value(); }

    void usbDeviceMatched(const platform::HidHotplugDevice& device);
    void usbDeviceRemoved(const platform::HidHotplugDevice& device);
    static bool FilterDevicesByCheckingUsbNames(const platform::HidHotplugDevice& device);

private:
    void deviceAttached(const platform::HidHotplugDevice& device);

    std::unique_ptr<platform::HidHotplugWatcher> watcher_;
    UWHidapiManager& link_;
    MMDeviceInfo& device_;
    platform::NotificationCenter& center_;
    std::optional<platform::HidHotplugDevice> deviceRef_;
    bool watching_ = false;
};
