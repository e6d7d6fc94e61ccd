#include "platform/X11ScreenGrabber.h"

#include "platform/X11ErrorTrap.h"

#include <QDebug>
#include <QScreen>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>

namespace platform {

namespace {

// Segments kept for later reads: one per screen of a usual desktop.
constexpr std::size_t kKeptSharedImages = 4;

// 24 and 32-bit visuals with the usual masks hold one 32-bit word per pixel
// in the server's byte order, which QImage's RGB32 reads directly.
bool x11GrabIsRgb32(const XImage& image)
{
    return image.bits_per_pixel == 32 && image.red_mask == 0xff0000 && image.green_mask == 0xff00
        && image.blue_mask == 0xff && image.byte_order == LSBFirst;
}

// Other visuals (16-bit, other masks): slower, pixel by pixel.
QImage x11GrabConverted(XImage& image, const QSize& size)
{
    QImage result(size, QImage::Format_RGB32);
    auto channel = [](unsigned long pixel, unsigned long mask) -> int {
        if (!mask)
            return 0;
        int shift = 0;
        while (!((mask >> shift) & 1))
            ++shift;
        const unsigned long bits = mask >> shift;
        return static_cast<int>(((pixel >> shift) & bits) * 255 / bits);
    };
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const unsigned long pixel = XGetPixel(&image, x, y);
            line[x] = qRgb(
                channel(pixel, image.red_mask), channel(pixel, image.green_mask), channel(pixel, image.blue_mask));
        }
    }
    return result;
}

} // namespace

// One shared-memory segment the server has attached, with the XImage that
// describes it.
struct X11ScreenGrabber::SharedImage {
    SharedImage(Display* display, const QSize& size)
        : display(display)
    {
        const int screen = DefaultScreen(display);
        image = XShmCreateImage(display, DefaultVisual(display, screen),
            static_cast<unsigned>(DefaultDepth(display, screen)), ZPixmap, nullptr, &info,
            static_cast<unsigned>(size.width()), static_cast<unsigned>(size.height()));
        if (!image)
            return;
        info.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * size.height(),
            IPC_CREAT | 0600);
        if (info.shmid < 0)
            return;
        void* memory = shmat(info.shmid, nullptr, 0);
        // Removed at once: the segment goes when both sides have let go of
        // it, even if this process ends abruptly.
        shmctl(info.shmid, IPC_RMID, nullptr);
        if (memory == reinterpret_cast<void*>(-1))
            return;
        info.shmaddr = image->data = static_cast<char*>(memory);
        info.readOnly = False;
        X11ErrorTrap trap(display);
        attached = XShmAttach(display, &info) && !trap.failed();
    }
    ~SharedImage()
    {
        if (attached && display)
            XShmDetach(display, &info);
        if (image) {
            if (image->data)
                shmdt(image->data);
            image->data = nullptr;
            XDestroyImage(image);
        }
    }
    SharedImage(const SharedImage&) = delete;
    SharedImage& operator=(const SharedImage&) = delete;

    QSize size() const { return image ? QSize(image->width, image->height) : QSize(); }

    // Null once the connection has closed (the server then let go itself).
    Display* display;
    XShmSegmentInfo info {};
    XImage* image = nullptr;
    bool attached = false;
};

std::unique_ptr<X11ScreenGrabber> X11ScreenGrabber::open(const QByteArray& displayName)
{
    Display* display = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    if (!display)
        return nullptr;
    return std::unique_ptr<X11ScreenGrabber>(new X11ScreenGrabber(display));
}

X11ScreenGrabber::X11ScreenGrabber(Display* display)
    : display_(display)
    , sharedMemory_(XShmQueryExtension(display))
{
}

X11ScreenGrabber::~X11ScreenGrabber()
{
    for (const std::shared_ptr<SharedImage>& shared : sharedImages_) {
        if (shared->attached)
            XShmDetach(display_, &shared->info);
        // A picture that still holds the segment keeps its memory, not the
        // connection.
        shared->display = nullptr;
    }
    sharedImages_.clear();
    XCloseDisplay(display_);
}

QRect X11ScreenGrabber::screenArea(const QScreen& screen)
{
    const Window root = DefaultRootWindow(display_);
    XWindowAttributes rootAttributes {};
    if (!XGetWindowAttributes(display_, root, &rootAttributes))
        return {};
    const QRect rootArea(0, 0, rootAttributes.width, rootAttributes.height);
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XRRQueryExtension(display_, &eventBase, &errorBase) || !XRRQueryVersion(display_, &major, &minor)
        || major * 100 + minor < 105)
        return rootArea;
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display_, root, True, &count);
    if (!monitors || count <= 0) {
        if (monitors)
            XRRFreeMonitors(monitors);
        return rootArea;
    }
    QRect byName, byCorner;
    for (int i = 0; i < count; ++i) {
        const XRRMonitorInfo& m = monitors[i];
        const QRect area = QRect(m.x, m.y, m.width, m.height) & rootArea;
        char* name = XGetAtomName(display_, m.name);
        if (name && QString::fromUtf8(name) == screen.name())
            byName = area;
        if (name)
            XFree(name);
        if (area.topLeft() == screen.geometry().topLeft() && byCorner.isEmpty())
            byCorner = area;
    }
    XRRFreeMonitors(monitors);
    return byName.isEmpty() ? byCorner : byName;
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
    if (sharedMemory_) {
        QImage picture = grabShared(area);
        if (!picture.isNull())
            return picture;
    }
    return grabCopied(area);
}

std::shared_ptr<X11ScreenGrabber::SharedImage> X11ScreenGrabber::freeSharedImage(const QSize& size)
{
    // Held only here: no picture shows it any more.
    auto isFree = [](const std::shared_ptr<SharedImage>& shared) { return shared.use_count() == 1; };
    for (const std::shared_ptr<SharedImage>& shared : sharedImages_) {
        if (isFree(shared) && shared->size() == size)
            return shared;
    }
    // Free segments of other sizes make room first (a screen changed size).
    while (sharedImages_.size() >= kKeptSharedImages) {
        const auto unused = std::find_if(sharedImages_.begin(), sharedImages_.end(), isFree);
        if (unused == sharedImages_.end())
            break;
        sharedImages_.erase(unused);
    }
    auto shared = std::make_shared<SharedImage>(display_, size);
    if (!shared->attached) {
        // A server on another machine, or one that will not share memory.
        sharedMemory_ = false;
        return nullptr;
    }
    sharedImages_.push_back(shared);
    return shared;
}

QImage X11ScreenGrabber::grabShared(const QRect& area)
{
    const std::shared_ptr<SharedImage> shared = freeSharedImage(area.size());
    if (!shared)
        return {};
    {
        // An area the server will not give (BadMatch) must not end the
        // application through Xlib's default handler.
        X11ErrorTrap trap(display_);
        const bool read = XShmGetImage(display_, DefaultRootWindow(display_), shared->image, area.x(), area.y(),
            AllPlanes);
        if (trap.failed() || !read)
            return {};
    }
    XImage& image = *shared->image;
    if (!x11GrabIsRgb32(image))
        return x11GrabConverted(image, area.size());
    // The picture holds the segment until it goes (read-only: a change
    // copies it first), so no read writes over a picture still shown.
    return QImage(
        reinterpret_cast<const uchar*>(image.data), image.width, image.height, image.bytes_per_line,
        QImage::Format_RGB32,
        [](void* holder) { delete static_cast<std::shared_ptr<SharedImage>*>(holder); },
        new std::shared_ptr<SharedImage>(shared));
}

QImage X11ScreenGrabber::grabCopied(const QRect& area)
{
    XImage* image = nullptr;
    {
        X11ErrorTrap trap(display_);
        image = XGetImage(display_, DefaultRootWindow(display_), area.x(), area.y(),
            static_cast<unsigned>(area.width()), static_cast<unsigned>(area.height()), AllPlanes, ZPixmap);
        if (trap.failed() && image) {
            XDestroyImage(image);
            image = nullptr;
        }
    }
    if (!image)
        return {};
    if (x11GrabIsRgb32(*image)) {
        // The picture keeps Xlib's buffer (read-only, so a change copies it
        // first): no copy of a whole screen.
        return QImage(
            reinterpret_cast<const uchar*>(image->data), area.width(), area.height(), image->bytes_per_line,
            QImage::Format_RGB32, [](void* xImage) { XDestroyImage(static_cast<XImage*>(xImage)); }, image);
    }
    QImage result = x11GrabConverted(*image, area.size());
    XDestroyImage(image);
    return result;
}

} // namespace platform
