#pragma once

#include "device/RepeatingTimer.h"

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>

class KeyEventTap;
class MMDeviceInfo;
class MMHidManager;

namespace platform {
class Executor;
class Permissions;
}

// Checks what the application needs of the session — input access (which
// also installs the tap on the mouse's keys), screen capture and a Bluetooth
// adapter — and filters the tap's key events on their way to the press
// classifier. Each caller makes its own checker; the latest one to run a
// full check becomes the tap's target. Main thread.
//
// While the mouse's keys cannot be taken (no input access, or the session
// refused the tap) every input-access check tells the user through the
// once-per-run notices, and tries to install the tap again.
class MMpermissionCheck : public std::enable_shared_from_this<MMpermissionCheck> {
public:
    using Handler = std::function<void(bool granted)>;
    using Tip = std::function<void(const QString& text)>;

    // The notice that the mouse's keys do not work.
    static const QString kKeyTapNoticeKey; // "keyTapUnavailable"
    static const QString kKeyTapNoticeText; // an interface-string key
    // Input access is checked again this often while the keys cannot be taken.
    static constexpr double kKeyTapRetryInterval = 1.0;

    struct Services {
        platform::Permissions& permissions;
        KeyEventTap& tap;
        MMHidManager& classifier;
        MMDeviceInfo& device; // the connected mouse, read anew for each key event
    };

    // Over the process-wide services.
    static std::shared_ptr<MMpermissionCheck> create();
    static std::shared_ptr<MMpermissionCheck> create(const Services& services);

    // Becomes the tap target, keeps the handler and runs the input-access,
    // screen-capture and Bluetooth probes in this order: the handler is
    // called three times, once per probe, in that order.
    void permissionCheckCallback(Handler handler);
    // The application's start-up check: the full check and, while the
    // mouse's keys cannot be taken, the tip window (a short text for `tip`)
    // and an input-access check every kKeyTapRetryInterval seconds on the
    // executor until the tap runs.
    void startupCheck(platform::Executor& executor, const Tip& tip);
    // Input-access probe; installs the key tap when granted.
    bool canSystemAccessibility();
    // Installs the key tap (once per process).
    void requestAccessibilityAuth();
    bool canRecordScreen();
    bool checkBluetoothPermission();

    // One key event of the tap: remaps the key by device model, drops an
    // event identical to the one before it (the auto-repeats of a held key)
    // and hands the rest to the press classifier. Events of other keys or
    // types are not the tap's and are left alone.
    void postNotificationWithKeyCode(quint16 keyCode, quint32 eventType);

    // Key code of a mouse key after the correction for the device model:
    // model 4 sends its voice key as F18 as well, model 5 has the two swapped.
    static quint16 remappedKeyCode(quint16 keyCode, quint64 deviceModel);

    // Results of the last run of each probe; false until it has run.
    bool permissionOfAccessibility() const { return permissionOfAccessibility_; }
    bool permissionOfcScreen() const { return permissionOfcScreen_; }
    bool permissionOfBluetooth() const { return permissionOfBluetooth_; }
    // The mouse's keys reach the press classifier.
    bool keysTaken() const;
    // The last event handed to the classifier (0 before the first).
    quint16 myKeycode() const { return myKeycode_; }
    quint32 myEventType() const { return myEventType_; }

private:
    explicit MMpermissionCheck(const Services& services);
    void report(bool granted);

    Services services_;
    Handler callbackBlock_;
    std::optional<RepeatingTimer> keyTapRetry_;
    bool permissionOfAccessibility_ = false;
    bool permissionOfcScreen_ = false;
    bool permissionOfBluetooth_ = false;
    quint16 myKeycode_ = 0;
    quint32 myEventType_ = 0;
};
