#pragma once

#include "platform/ScreenGrabber.h"

#include <QByteArray>

#include <memory>
#include <vector>

typedef struct _XDisplay Display;

namespace platform {

// Reads the X root window, so every screen of a multi-monitor desktop is one
// read away. Where the server shares memory with this process (MIT-SHM) the
// server writes the pixels straight into a segment the picture then wraps
// without a copy; the segments are kept for the next read. Elsewhere (a
// remote display) it reads with XGetImage.
class X11ScreenGrabber final : public ScreenGrabber {
public:
    // Null when the display cannot be opened.
    static std::unique_ptr<X11ScreenGrabber> open(const QByteArray& displayName = {});
    ~X11ScreenGrabber() override;
    X11ScreenGrabber(const X11ScreenGrabber&) = delete;
    X11ScreenGrabber& operator=(const X11ScreenGrabber&) = delete;

    bool isAvailable() const override { return true; }
    QImage grab(const QRect& devicePixels) override;
    // The RandR monitor of the screen's name (else the one at its top left
    // corner, where Qt keeps a scaled screen's origin); the root window when
    // the server lists no monitors.
    QRect screenArea(const QScreen& screen) override;

    // Whether reads go through shared memory.
    bool usesSharedMemory() const { return sharedMemory_; }

private:
    struct SharedImage;

    explicit X11ScreenGrabber(Display* display);
    QImage grabShared(const QRect& area);
    QImage grabCopied(const QRect& area);
    // A segment of this size no picture holds any more, else a new one; null
    // when the server refuses to attach it.
    std::shared_ptr<SharedImage> freeSharedImage(const QSize& size);

    Display* display_;
    bool sharedMemory_ = false;
    // Every segment the server has attached. A picture holds its segment
    // while it lives, so a segment is written again only once no picture
    // shows it.
    std::vector<std::shared_ptr<SharedImage>> sharedImages_;
};

} // namespace platform
