#pragma once

namespace platform {

// What the session lets the application do. There are no per-application
// grants to ask for here as on some desktops; the answers reflect whether
// the session offers the means at all, and may change while it runs (a
// Bluetooth adapter plugged in, a udev rule added), so they are read anew on
// each call. Main thread.
class Permissions {
public:
    virtual ~Permissions() = default;

    // The mouse's keys can be taken and synthetic keys posted.
    virtual bool inputAccess() const = 0;
    // The screen's contents can be read (an X session; a Wayland session
    // keeps them from ordinary clients).
    virtual bool screenCapture() const = 0;
    // A Bluetooth adapter is present.
    virtual bool bluetoothAdapter() const = 0;

    // The answers for this session, over the shared key tap and key poster.
    static Permissions& shared();
};

} // namespace platform
