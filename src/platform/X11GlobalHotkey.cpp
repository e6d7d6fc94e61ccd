#include "platform/X11GlobalHotkey.h"

#include "platform/X11ErrorTrap.h"

#include <QSocketNotifier>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace platform {

std::unique_ptr<X11GlobalHotkey> X11GlobalHotkey::open(const QByteArray& displayName)
{
    Display* display = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    if (!display)
        return nullptr;
    return std::unique_ptr<X11GlobalHotkey>(new X11GlobalHotkey(display));
}

X11GlobalHotkey::X11GlobalHotkey(Display* display)
    : display_(display)
{
    notifier_ = new QSocketNotifier(ConnectionNumber(display_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &X11GlobalHotkey::readEvents);
}

X11GlobalHotkey::~X11GlobalHotkey()
{
    unregisterHotkey();
    delete notifier_;
    XCloseDisplay(display_);
}

unsigned int X11GlobalHotkey::numLockMask() const
{
    // Num Lock sits on whichever modifier the keyboard map gives it.
    const KeyCode numLock = XKeysymToKeycode(display_, XK_Num_Lock);
    unsigned int mask = 0;
    XModifierKeymap* map = XGetModifierMapping(display_);
    if (!map)
        return Mod2Mask;
    for (int modifier = 0; modifier < 8 && numLock; ++modifier) {
        for (int k = 0; k < map->max_keypermod; ++k) {
            if (map->modifiermap[modifier * map->max_keypermod + k] == numLock)
                mask = 1u << modifier;
        }
    }
    XFreeModifiermap(map);
    return mask ? mask : Mod2Mask;
}

GlobalHotkey::Result X11GlobalHotkey::registerHotkey(const Hotkey& hotkey, Action action)
{
    unregisterHotkey();
    const unsigned long symbol = hotkey.keySymbol();
    const KeyCode code = symbol ? XKeysymToKeycode(display_, symbol) : 0;
    if (!code)
        return Result::UnknownKey;
    unsigned int modifiers = 0;
    // Command is Ctrl here; the stored Control flag is the Super key.
    if (hotkey.modifierFlags & Hotkey::kCommand)
        modifiers |= ControlMask;
    if (hotkey.modifierFlags & Hotkey::kControl)
        modifiers |= Mod4Mask;
    if (hotkey.modifierFlags & Hotkey::kShift)
        modifiers |= ShiftMask;
    if (hotkey.modifierFlags & Hotkey::kOption)
        modifiers |= Mod1Mask;

    const Window root = DefaultRootWindow(display_);
    const unsigned int numLock = numLockMask();
    bool taken = false;
    {
        // Another client's grab of the same combination fails with BadAccess.
        X11ErrorTrap trap(display_);
        for (unsigned int locks : { 0u, unsigned(LockMask), numLock, unsigned(LockMask) | numLock })
            XGrabKey(display_, code, modifiers | locks, root, False, GrabModeAsync, GrabModeAsync);
        taken = trap.failed();
    }
    grabbedKeyCode_ = code;
    grabbedModifiers_ = modifiers;
    if (taken) {
        unregisterHotkey();
        return Result::Taken;
    }
    action_ = std::move(action);
    return Result::Registered;
}

void X11GlobalHotkey::unregisterHotkey()
{
    if (!grabbedKeyCode_)
        return;
    const unsigned int numLock = numLockMask();
    X11ErrorTrap trap(display_);
    for (unsigned int locks : { 0u, unsigned(LockMask), numLock, unsigned(LockMask) | numLock })
        XUngrabKey(display_, grabbedKeyCode_, grabbedModifiers_ | locks, DefaultRootWindow(display_));
    grabbedKeyCode_ = 0;
    action_ = nullptr;
}

void X11GlobalHotkey::readEvents()
{
    while (XPending(display_)) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type != KeyPress || !action_)
            continue;
        const unsigned int state = event.xkey.state & (ShiftMask | ControlMask | Mod1Mask | Mod4Mask);
        if (int(event.xkey.keycode) == grabbedKeyCode_ && state == grabbedModifiers_) {
            // The action may register another key; keep this one alive.
            const Action action = action_;
            action();
        }
    }
}

} // namespace platform
