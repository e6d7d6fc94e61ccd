#include "platform/X11DesktopWatch.h"

#include <QPointer>
#include <QSocketNotifier>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace platform {

std::unique_ptr<X11DesktopWatch> X11DesktopWatch::open(const QByteArray& displayName)
{
    Display* display = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    if (!display)
        return nullptr;
    return std::unique_ptr<X11DesktopWatch>(new X11DesktopWatch(display));
}

X11DesktopWatch::X11DesktopWatch(Display* display)
    : display_(display)
    , atom_(XInternAtom(display, "_NET_CURRENT_DESKTOP", False))
{
    XSelectInput(display_, DefaultRootWindow(display_), PropertyChangeMask);
    current_ = currentDesktop();
    notifier_ = new QSocketNotifier(ConnectionNumber(display_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &X11DesktopWatch::readEvents);
    XFlush(display_);
}

X11DesktopWatch::~X11DesktopWatch()
{
    delete notifier_;
    XCloseDisplay(display_);
}

std::optional<long> X11DesktopWatch::currentDesktop() const
{
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display_, DefaultRootWindow(display_), atom_, 0, 1, False,
        XA_CARDINAL, &type, &format, &count, &after, &data);
    std::optional<long> desktop;
    // Format 32 comes as longs, whatever the machine's word size.
    if (status == Success && type == XA_CARDINAL && format == 32 && count == 1 && data)
        desktop = *reinterpret_cast<const long*>(data);
    if (data)
        XFree(data);
    return desktop;
}

void X11DesktopWatch::readEvents()
{
    // Reading the property is a round trip, during which Xlib may take the
    // next change's event off the socket into its own queue; the socket
    // then stays quiet and that event would wait for some later traffic. So
    // the queue is drained until a round trip leaves nothing behind.
    const QPointer<X11DesktopWatch> alive(this); // the handler may end the watch
    do {
        bool changed = false;
        while (XPending(display_)) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type == PropertyNotify && event.xproperty.atom == atom_)
                changed = true;
        }
        if (!changed)
            return;
        const std::optional<long> now = currentDesktop();
        if (now != current_) {
            current_ = now;
            if (handler_)
                handler_();
            if (!alive)
                return;
        }
    } while (XEventsQueued(display_, QueuedAlready) > 0);
}

} // namespace platform
