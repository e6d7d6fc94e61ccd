#include "platform/X11WindowList.h"

#include "platform/X11ErrorTrap.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <vector>

namespace platform {

namespace {

// A property of 32-bit items (Xlib hands them out as longs); empty when the
// window does not have it.
std::vector<unsigned long> x11WindowListProperty(Display* display, Window window, Atom property, Atom type)
{
    Atom actualType = 0;
    int actualFormat = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> items;
    if (XGetWindowProperty(display, window, property, 0, 4096, False, type, &actualType, &actualFormat,
            &count, &remaining, &data)
            == Success
        && data && actualFormat == 32) {
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        items.assign(values, values + count);
    }
    if (data)
        XFree(data);
    return items;
}

struct X11WindowListAtoms {
    Atom stacking, frameExtents, windowType, typeDesktop, typeDock, state, stateAbove, stateHidden;
};

int x11WindowLayer(Display* display, Window window, const X11WindowListAtoms& atoms)
{
    for (unsigned long type : x11WindowListProperty(display, window, atoms.windowType, XA_ATOM)) {
        if (type == atoms.typeDesktop)
            return -1;
        if (type == atoms.typeDock)
            return 1;
    }
    for (unsigned long state : x11WindowListProperty(display, window, atoms.state, XA_ATOM)) {
        if (state == atoms.stateAbove)
            return 1;
    }
    return 0;
}

bool x11WindowHidden(Display* display, Window window, const X11WindowListAtoms& atoms)
{
    for (unsigned long state : x11WindowListProperty(display, window, atoms.state, XA_ATOM)) {
        if (state == atoms.stateHidden)
            return true;
    }
    return false;
}

} // namespace

std::unique_ptr<X11WindowList> X11WindowList::open(const QByteArray& displayName)
{
    Display* display = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    if (!display)
        return nullptr;
    return std::unique_ptr<X11WindowList>(new X11WindowList(display));
}

X11WindowList::X11WindowList(Display* display)
    : display_(display)
{
}

X11WindowList::~X11WindowList()
{
    XCloseDisplay(display_);
}

QList<WindowInfo> X11WindowList::windows()
{
    const X11WindowListAtoms atoms {
        XInternAtom(display_, "_NET_CLIENT_LIST_STACKING", False),
        XInternAtom(display_, "_NET_FRAME_EXTENTS", False),
        XInternAtom(display_, "_NET_WM_WINDOW_TYPE", False),
        XInternAtom(display_, "_NET_WM_WINDOW_TYPE_DESKTOP", False),
        XInternAtom(display_, "_NET_WM_WINDOW_TYPE_DOCK", False),
        XInternAtom(display_, "_NET_WM_STATE", False),
        XInternAtom(display_, "_NET_WM_STATE_ABOVE", False),
        XInternAtom(display_, "_NET_WM_STATE_HIDDEN", False),
    };
    const Window root = DefaultRootWindow(display_);
    // Windows may close while they are read; their errors only drop them
    // (the trap syncs and swallows them when it goes).
    X11ErrorTrap trap(display_);

    // Bottom to top, as both the window manager and the server list them.
    std::vector<unsigned long> stack = x11WindowListProperty(display_, root, atoms.stacking, XA_WINDOW);
    const bool managed = !stack.empty();
    if (!managed) {
        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(display_, root, &rootReturn, &parent, &children, &count) && children)
            stack.assign(children, children + count);
        if (children)
            XFree(children);
    }

    QList<WindowInfo> result;
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        const Window window = *it;
        XWindowAttributes attributes {};
        if (!XGetWindowAttributes(display_, window, &attributes) || attributes.map_state != IsViewable)
            continue;
        // Without a window manager, menus and tool tips (override-redirect)
        // are no windows a user would pick.
        if (!managed && attributes.override_redirect)
            continue;
        if (managed && x11WindowHidden(display_, window, atoms))
            continue;
        int x = 0, y = 0;
        Window child = 0;
        if (!XTranslateCoordinates(display_, window, root, 0, 0, &x, &y, &child))
            continue;
        QRect frame(x, y, attributes.width, attributes.height);
        const std::vector<unsigned long> extents
            = x11WindowListProperty(display_, window, atoms.frameExtents, XA_CARDINAL);
        if (extents.size() == 4) {
            // left, right, top, bottom; a hostile value must not overflow.
            auto side = [](unsigned long v) { return static_cast<int>(qMin<unsigned long>(v, 4096)); };
            frame.adjust(-side(extents[0]), -side(extents[2]), side(extents[1]), side(extents[3]));
        }
        result.append(WindowInfo { frame, x11WindowLayer(display_, window, atoms) });
    }
    return result;
}

} // namespace platform
