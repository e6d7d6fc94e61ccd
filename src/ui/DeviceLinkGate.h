#pragma once

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class MMpermiWC;
class MMpermissionCheck;

namespace platform {
class Executor;
class NotificationCenter;
} // namespace platform

// Starts each of the mouse's links as soon as what it needs is there (the
// receiver watcher with input-device access, the Bluetooth link with an
// adapter), each once, and says what is still missing: the tip bar's text
// and the permission guide, which opens by itself only when what the mouse
// itself needs is missing. Main thread.
class DeviceLinkGate {
public:
    struct Hooks {
        // A fresh permission checker for each check; none means the session
        // is not checked (every permission counts as granted).
        std::function<std::shared_ptr<MMpermissionCheck>()> makePermissionCheck;
        std::function<void()> startUsbWatcher;
        std::function<void()> startBluetoothLink;
        // The tip bar's text (an interface-string key); empty: no tip.
        std::function<void(const QString& key)> showTip;
    };

    // The tip bar: what the mouse itself needs is missing; or only what the
    // capture tool and selection translation need (lookup keys).
    static const QString kTipMouse, kTipScreen;

    DeviceLinkGate(Hooks hooks, platform::Executor& mainQueue, platform::NotificationCenter& center);
    ~DeviceLinkGate();
    DeviceLinkGate(const DeviceLinkGate&) = delete;
    DeviceLinkGate& operator=(const DeviceLinkGate&) = delete;

    // Runs the probes and starts what they allow; `mayOpenGuide` lets a
    // missing need of the mouse open the guide.
    void checkPermission(bool mayOpenGuide = true);
    // Opens (or brings forward) the guide.
    void showpermissionCheckWindow();

    int guideWindowShows() const { return guideWindowShows_; }
    MMpermiWC* permissionWindow() const;

private:
    void applyPermissions(const MMpermissionCheck& check, bool mayOpenGuide);
    void showTip(const QString& key);
    void canUSB();
    void startBluetoothLink();
    void startOnce(bool& started, const char* road, const std::function<void()>& start);

    Hooks hooks_;
    platform::Executor& mainQueue_;
    platform::NotificationCenter& center_;
    // The last checker stays the key tap's target until the next check.
    std::shared_ptr<MMpermissionCheck> permissionCheck_;
    QPointer<MMpermiWC> pmsWC_;
    QString tipKey_; // the tip last given
    bool usbStarted_ = false;
    bool bluetoothStarted_ = false;
    int guideWindowShows_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
