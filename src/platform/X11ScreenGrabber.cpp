#include "platform/X11ScreenGrabber.h"

#include "platform/X11ErrorTrap.h"

#include <QDebug>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace platform {

std::unique_ptr<X11ScreenGrabber> X11ScreenGrabber::open(const QByteArray& displayName)
{
    Display* display = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    if (!display)
        return nullptr;
    return std::unique_ptr<X11ScreenGrabber>(new X11ScreenGrabber(display));
}

X11ScreenGrabber::X11ScreenGrabber(Display* display)
    : display_(display)
{
}

X11ScreenGrabber::~X11ScreenGrabber()
{
    XCloseDisplay(display_);
}

QImage X11ScreenGrabber::grab(const QRect& devicePixels)
{
    const Window root = DefaultRootWindow(display_);
    XWindowAttributes rootAttributes {};
    if (!XGetWindowAttributes(display_, root, &rootAttributes))
        return {};
    const QRect area = devicePixels & QRect(0, 0, rootAttributes.width, rootAttributes.height);
    if (area.isEmpty())
        return {};

    XImage* image = nullptr;
    {
        // A read of an area the server will not give (BadMatch) must not end
        // the application through Xlib's default handler.
        X11ErrorTrap trap(display_);
        image = XGetImage(display_, root, area.x(), area.y(), static_cast<unsigned>(area.width()),
            static_cast<unsigned>(area.height()), AllPlanes, ZPixmap);
        if (trap.failed() && image) {
            XDestroyImage(image);
            image = nullptr;
        }
    }
    if (!image)
        return {};

    // 24 and 32-bit visuals with the usual masks hold one 32-bit word per
    // pixel in the server's byte order, which QImage's RGB32 reads directly.
    const bool direct = image->bits_per_pixel == 32 && image->red_mask == 0xff0000
        && image->green_mask == 0xff00 && image->blue_mask == 0xff && image->byte_order == LSBFirst;
    if (direct) {
        // The picture keeps Xlib's buffer (read-only, so a change copies it
        // first): no copy of a whole screen.
        return QImage(
            reinterpret_cast<const uchar*>(image->data), area.width(), area.height(), image->bytes_per_line,
            QImage::Format_RGB32, [](void* xImage) { XDestroyImage(static_cast<XImage*>(xImage)); }, image);
    }
    // Other visuals (16-bit, other masks): slower, pixel by pixel.
    QImage result(area.size(), QImage::Format_RGB32);
    auto channel = [](unsigned long pixel, unsigned long mask) -> int {
        if (!mask)
            return 0;
        int shift = 0;
        while (!((mask >> shift) & 1))
            ++shift;
        const unsigned long bits = mask >> shift;
        return static_cast<int>(((pixel >> shift) & bits) * 255 / bits);
    };
    for (int y = 0; y < area.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < area.width(); ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            line[x] = qRgb(channel(pixel, image->red_mask), channel(pixel, image->green_mask),
                channel(pixel, image->blue_mask));
        }
    }
    XDestroyImage(image);
    return result;
}

} // namespace platform
