#pragma once

#include <functional>

namespace platform {

// What the session lets the application do. There are no per-application
// grants to ask for here as on some desktops; the answers reflect whether
// the session offers the means at all. Each answer gates only what needs
// it: input access the USB receiver and the mouse's keys, a Bluetooth
// adapter the Bluetooth link, screen capture the capture tool and selection
// translation. The answers may change while the session runs (a Bluetooth
// adapter plugged in, a udev rule added) and are read anew on each call.
// Main thread.
class Permissions {
public:
    virtual ~Permissions() = default;

    // The mouse's keys can be taken and synthetic keys posted.
    virtual bool inputAccess() const = 0;
    // The screen's contents can be read (an X session, or a Wayland session
    // whose desktop portal offers screenshots).
    virtual bool screenCapture() const = 0;
    // A Bluetooth adapter is present.
    virtual bool bluetoothAdapter() const = 0;
    // Called on the main thread when an answer changed by itself (an
    // adapter came or went). One listener; an empty one removes it.
    virtual void setChangeListener(std::function<void()> listener) = 0;

    // The answers for this session, over the shared key tap, key poster and
    // screen grabber and the system bus.
    static Permissions& shared();
};

} // namespace platform
