#pragma once

#include "platform/KeyTap.h"

#include <QObject>
#include <QString>

#include <map>
#include <memory>

struct udev_device;

namespace platform {

class UdevDeviceMonitor;

// Takes the mouse's keys from the kernel's input devices, for sessions
// without an X server (Wayland). The compositor reads the same devices, and
// the kernel can only hand a device over whole (EVIOCGRAB), so every device
// that can send F18 to F20 is grabbed and mirrored: a uinput twin with the
// same name, ids and capabilities carries every other event on to the
// compositor, and the compositor's LED changes travel back to the device.
//
// Grabbing only "the mouse's own keyboard interface" is not sound: its USB
// receiver calls itself by a generic product name and its keyboard interface
// usually declares the whole key range, so it cannot be told from a real
// keyboard; guessing wrong either leaks the keys or swallows a keyboard.
// Hence the mirror, and hence no grab at all without a writable /dev/uinput.
//
// A device is grabbed only at a moment when none of its keys is held, so no
// key stays stuck down in the compositor. Devices created through uinput
// (our mirrors among them) are never taken. Hot-plugged devices are followed
// through udev. Main thread only.
class EvdevKeyTap final : public KeyTap {
public:
    // Null when /dev/uinput is not writable, no input device is readable,
    // or udev cannot be reached.
    static std::unique_ptr<EvdevKeyTap> open();
    ~EvdevKeyTap() override;

    bool isAvailable() const override { return true; }
    bool start(Handler handler) override;

private:
    struct Keyboard;

    explicit EvdevKeyTap(std::unique_ptr<UdevDeviceMonitor> monitor);
    void add(udev_device* device);
    void remove(udev_device* device);
    void grabWhenIdle(Keyboard& keyboard);
    void read(Keyboard& keyboard);
    void forwardLeds(Keyboard& keyboard);
    void dropLater(const Keyboard* keyboard);

    std::unique_ptr<UdevDeviceMonitor> monitor_;
    bool started_ = false;
    QObject dropContext_; // runs the queued removal of a keyboard that went away
    Handler handler_;
    std::map<QString, std::unique_ptr<Keyboard>> keyboards_; // by device node
};

} // namespace platform
