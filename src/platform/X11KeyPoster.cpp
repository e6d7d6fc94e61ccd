#include "platform/X11KeyPoster.h"

#include <QMutexLocker>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <vector>

namespace platform {

namespace {

KeySym keySymbol(Key key)
{
    switch (key) {
    case Key::V:
        return XK_v;
    case Key::C:
        return XK_c;
    case Key::Backspace:
        return XK_BackSpace;
    case Key::Return:
        return XK_Return;
    case Key::PageUp:
        return XK_Prior;
    case Key::PageDown:
        return XK_Next;
    }
    return NoSymbol;
}

} // namespace

std::unique_ptr<X11KeyPoster> X11KeyPoster::open(const QByteArray& displayName)
{
    Display* display = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    if (!display)
        return nullptr;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor)) {
        XCloseDisplay(display);
        return nullptr;
    }
    return std::unique_ptr<X11KeyPoster>(new X11KeyPoster(display));
}

X11KeyPoster::X11KeyPoster(Display* display)
    : display_(display)
{
}

X11KeyPoster::~X11KeyPoster()
{
    XCloseDisplay(display_);
}

void X11KeyPoster::refreshKeyboardMap()
{
    // The connection reads no events otherwise; a changed layout announces
    // itself here, and the cached map must follow it.
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == MappingNotify)
            XRefreshKeyboardMapping(&event.xmapping);
    }
}

bool X11KeyPoster::press(Key key, Modifiers modifiers)
{
    QMutexLocker lock(&mutex_);
    refreshKeyboardMap();
    const KeyCode code = XKeysymToKeycode(display_, keySymbol(key));
    if (code == 0)
        return false;
    std::vector<KeyCode> held;
    if (modifiers.testFlag(Modifier::Command)) {
        const KeyCode control = XKeysymToKeycode(display_, XK_Control_L);
        if (control == 0)
            return false;
        held.push_back(control);
    }
    for (KeyCode modifier : held)
        XTestFakeKeyEvent(display_, modifier, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    for (auto it = held.rbegin(); it != held.rend(); ++it)
        XTestFakeKeyEvent(display_, *it, False, CurrentTime);
    XSync(display_, False);
    return true;
}

} // namespace platform
