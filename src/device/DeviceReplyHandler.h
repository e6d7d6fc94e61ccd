#pragma once

#include "device/DeviceLink.h"

#include <QString>

struct DeviceLinkHooks;
struct DeviceReplyFrame;
class DeviceBattery;
class MMDeviceInfo;
class MMwebconfig;

namespace platform {
class NotificationCenter;
}

// Applies a recognised reply to the application's state: settings, device
// state, battery, identification of the mouse and the connection notice.
class DeviceReplyHandler {
public:
    DeviceReplyHandler(MMDeviceInfo& device, MMwebconfig& config, platform::NotificationCenter& center,
        DeviceBattery& battery, const DeviceLinkHooks& hooks);

    void handle(const DeviceReplyFrame& reply, DeviceLink link);

    // The link-mode text the back end is told for a link byte text.
    static QString linkModeText(const QString& linkText);

private:
    void identify(const DeviceReplyFrame& reply, DeviceLink link);

    MMDeviceInfo& device_;
    MMwebconfig& config_;
    platform::NotificationCenter& center_;
    DeviceBattery& battery_;
    const DeviceLinkHooks& hooks_;
};
