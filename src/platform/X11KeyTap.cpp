#include "platform/X11KeyTap.h"

#include "platform/X11ErrorTrap.h"

#include <QDebug>
#include <QSocketNotifier>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <optional>

namespace platform {

namespace {

// X key codes are the evdev codes plus 8.
constexpr int kFirstKeyCode = 196; // F18
constexpr int kLastKeyCode = 198; // F20

std::optional<MouseKey> mouseKey(int keyCode)
{
    switch (keyCode) {
    case 196:
        return MouseKey::F18;
    case 197:
        return MouseKey::F19;
    case 198:
        return MouseKey::F20;
    default:
        return std::nullopt;
    }
}

} // namespace

std::unique_ptr<X11KeyTap> X11KeyTap::open(const QByteArray& displayName)
{
    Display* display = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    if (!display)
        return nullptr;
    int opcode = 0, event = 0, error = 0;
    int major = 2, minor = 2;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error)
        || XIQueryVersion(display, &major, &minor) != Success || major < 2 || (major == 2 && minor < 2)) {
        XCloseDisplay(display);
        return nullptr;
    }
    return std::unique_ptr<X11KeyTap>(new X11KeyTap(display, opcode));
}

X11KeyTap::X11KeyTap(Display* display, int xiOpcode)
    : display_(display)
    , xiOpcode_(xiOpcode)
{
}

X11KeyTap::~X11KeyTap()
{
    notifier_.reset();
    // Closing the connection releases its grabs.
    XCloseDisplay(display_);
}

bool X11KeyTap::start(Handler handler)
{
    handler_ = std::move(handler);
    const bool first = !notifier_;

    // Hot-plugged keyboards first, so none slips in between the scan and the selection.
    if (first) {
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XISetMask(bits, XI_HierarchyChanged);
        XIEventMask mask { XIAllDevices, int(sizeof bits), bits };
        XISelectEvents(display_, DefaultRootWindow(display_), &mask, 1);
    }

    // A later call (after no keyboard could be grabbed) tries the keyboards not grabbed yet.
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(display_, XIAllDevices, &count);
    for (int i = 0; i < count; ++i) {
        if (devices[i].use == XISlaveKeyboard && !grabbed_.contains(devices[i].deviceid))
            grabKeyboard(devices[i].deviceid);
    }
    XIFreeDeviceInfo(devices);

    if (first) {
        notifier_ = std::make_unique<QSocketNotifier>(ConnectionNumber(display_), QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { receive(); });
    }
    receive(); // events Xlib has already read from the socket
    if (first && grabbed_.isEmpty())
        qWarning() << "The mouse's keys could not be taken from any keyboard of this X session";
    return !grabbed_.isEmpty();
}

void X11KeyTap::grabKeyboard(int deviceId)
{
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_KeyPress);
    XISetMask(bits, XI_KeyRelease);
    XIEventMask mask { deviceId, int(sizeof bits), bits };
    XIGrabModifiers modifiers { int(XIAnyModifier), 0 };

    X11ErrorTrap trap(display_);
    bool complete = true;
    for (int keyCode = kFirstKeyCode; keyCode <= kLastKeyCode; ++keyCode) {
        // Owner events off: the events go to the grab, never to one of our own windows.
        const int failedModifiers = XIGrabKeycode(display_, deviceId, keyCode, DefaultRootWindow(display_),
            XIGrabModeAsync, XIGrabModeAsync, False, &mask, 1, &modifiers);
        if (failedModifiers != 0)
            complete = false;
    }
    if (trap.failed()) // the device went away meanwhile
        return;
    if (!complete)
        qWarning() << "Another program holds a grab on the mouse's keys of input device" << deviceId;
    grabbed_.insert(deviceId);
}

void X11KeyTap::receive()
{
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        XGenericEventCookie* cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != xiOpcode_
            || !XGetEventData(display_, cookie))
            continue;
        if (cookie->evtype == XI_KeyPress || cookie->evtype == XI_KeyRelease) {
            const auto* key = static_cast<const XIDeviceEvent*>(cookie->data);
            const std::optional<MouseKey> mouse = mouseKey(key->detail);
            if (mouse && handler_)
                handler_(*mouse, cookie->evtype == XI_KeyPress ? KeyAction::Down : KeyAction::Up);
        } else if (cookie->evtype == XI_HierarchyChanged) {
            const auto* change = static_cast<const XIHierarchyEvent*>(cookie->data);
            for (int i = 0; i < change->num_info; ++i) {
                const XIHierarchyInfo& info = change->info[i];
                if ((info.flags & XISlaveRemoved) != 0)
                    grabbed_.remove(info.deviceid);
                else if ((info.flags & (XISlaveAdded | XISlaveAttached)) != 0 && info.use == XISlaveKeyboard
                    && !grabbed_.contains(info.deviceid))
                    grabKeyboard(info.deviceid);
            }
        }
        XFreeEventData(display_, cookie);
    }
}

} // namespace platform
