#include "platform/UinputKeyPoster.h"

#include <QMutexLocker>

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <vector>

namespace platform {

namespace {

unsigned keyCode(Key key)
{
    switch (key) {
    case Key::V:
        return KEY_V;
    case Key::C:
        return KEY_C;
    case Key::Backspace:
        return KEY_BACKSPACE;
    case Key::Return:
        return KEY_ENTER;
    case Key::PageUp:
        return KEY_PAGEUP;
    case Key::PageDown:
        return KEY_PAGEDOWN;
    }
    return KEY_RESERVED;
}

const unsigned kAllKeys[]
    = { KEY_V, KEY_C, KEY_BACKSPACE, KEY_ENTER, KEY_PAGEUP, KEY_PAGEDOWN, KEY_LEFTCTRL };

} // namespace

std::unique_ptr<UinputKeyPoster> UinputKeyPoster::open()
{
    libevdev* description = libevdev_new();
    if (!description)
        return nullptr;
    libevdev_set_name(description, "PraVik synthetic keys");
    libevdev_enable_event_type(description, EV_KEY);
    for (unsigned code : kAllKeys)
        libevdev_enable_event_code(description, EV_KEY, code, nullptr);
    libevdev_uinput* device = nullptr;
    const int rc = libevdev_uinput_create_from_device(description, LIBEVDEV_UINPUT_OPEN_MANAGED, &device);
    libevdev_free(description);
    if (rc < 0)
        return nullptr;
    // Made once at start-up: a compositor needs a moment to take a new device
    // in, and keys sent before that are lost.
    return std::unique_ptr<UinputKeyPoster>(new UinputKeyPoster(device));
}

UinputKeyPoster::UinputKeyPoster(libevdev_uinput* device)
    : device_(device)
{
}

UinputKeyPoster::~UinputKeyPoster()
{
    libevdev_uinput_destroy(device_);
}

bool UinputKeyPoster::write(unsigned code, int value)
{
    return libevdev_uinput_write_event(device_, EV_KEY, code, value) == 0
        && libevdev_uinput_write_event(device_, EV_SYN, SYN_REPORT, 0) == 0;
}

bool UinputKeyPoster::press(Key key, Modifiers modifiers)
{
    QMutexLocker lock(&mutex_);
    const unsigned code = keyCode(key);
    std::vector<unsigned> held;
    if (modifiers.testFlag(Modifier::Command))
        held.push_back(KEY_LEFTCTRL);
    bool ok = true;
    for (unsigned modifier : held)
        ok = write(modifier, 1) && ok;
    ok = write(code, 1) && ok;
    // Releases go out even after a failure, so nothing stays held.
    ok = write(code, 0) && ok;
    for (auto it = held.rbegin(); it != held.rend(); ++it)
        ok = write(*it, 0) && ok;
    return ok;
}

} // namespace platform
