#pragma once

#include "platform/BluezAdapterWatcher.h"
#include "platform/Permissions.h"

class QDBusConnection;

namespace platform {

class KeyPoster;
class KeyTap;
class ScreenGrabber;

// The permissions of the running session: input access is whatever the
// chosen key tap and key poster can do; screen capture whatever the chosen
// screen grabber can do (X11, or the desktop portal on Wayland); a Bluetooth
// adapter is what BlueZ lists on the given bus, followed as adapters come
// and go without ever waiting on the bus.
class SessionPermissions final : public Permissions {
public:
    SessionPermissions(
        const KeyTap& tap, const KeyPoster& poster, const ScreenGrabber& grabber, const QDBusConnection& bus);

    bool inputAccess() const override;
    bool screenCapture() const override;
    bool bluetoothAdapter() const override;
    void setChangeListener(std::function<void()> listener) override;

private:
    const KeyTap& tap_;
    const KeyPoster& poster_;
    const ScreenGrabber& grabber_;
    BluezAdapterWatcher adapters_;
    std::function<void()> listener_;
};

} // namespace platform
