#include "platform/X11DragMonitor.h"

#include <QSocketNotifier>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <cmath>

namespace platform {

std::unique_ptr<X11DragMonitor> X11DragMonitor::open(const QByteArray& displayName)
{
    Display* display = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    if (!display)
        return nullptr;
    int opcode = 0, event = 0, error = 0;
    int major = 2, minor = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error)
        || XIQueryVersion(display, &major, &minor) != Success) {
        XCloseDisplay(display);
        return nullptr;
    }
    return std::unique_ptr<X11DragMonitor>(new X11DragMonitor(display, opcode));
}

X11DragMonitor::X11DragMonitor(Display* display, int opcode)
    : display_(display)
    , opcode_(opcode)
{
    notifier_ = new QSocketNotifier(ConnectionNumber(display_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &X11DragMonitor::readEvents);
}

X11DragMonitor::~X11DragMonitor()
{
    delete notifier_;
    XCloseDisplay(display_);
}

void X11DragMonitor::select(bool on)
{
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    if (on) {
        XISetMask(bits, XI_RawButtonPress);
        XISetMask(bits, XI_RawButtonRelease);
        XISetMask(bits, XI_RawMotion);
    }
    XIEventMask mask { XIAllMasterDevices, int(sizeof(bits)), bits };
    XISelectEvents(display_, DefaultRootWindow(display_), &mask, 1);
    XFlush(display_);
}

bool X11DragMonitor::start(Handler handler)
{
    handler_ = std::move(handler);
    pressed_ = false;
    select(true);
    return true;
}

void X11DragMonitor::stop()
{
    handler_ = nullptr;
    select(false);
}

void X11DragMonitor::readEvents()
{
    while (XPending(display_)) {
        XEvent event;
        XNextEvent(display_, &event);
        XGenericEventCookie* cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != opcode_ || !XGetEventData(display_, cookie))
            continue;
        const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
        switch (cookie->evtype) {
        case XI_RawButtonPress:
            if (raw->detail == 1) {
                pressed_ = true;
                moved_ = 0;
            }
            break;
        case XI_RawMotion:
            if (pressed_) {
                // The first two valuators are x and y, each present or not.
                const double* value = raw->raw_values;
                for (int axis = 0; axis < 2 && axis < raw->valuators.mask_len * 8; ++axis) {
                    if (XIMaskIsSet(raw->valuators.mask, axis))
                        moved_ += std::abs(*value++);
                }
            }
            break;
        case XI_RawButtonRelease:
            if (raw->detail == 1 && pressed_) {
                pressed_ = false;
                if (moved_ >= kDragDistance && handler_) {
                    const Handler handler = handler_;
                    handler();
                }
            }
            break;
        default:
            break;
        }
        XFreeEventData(display_, cookie);
    }
}

} // namespace platform
