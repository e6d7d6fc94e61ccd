#pragma once

#include <QImage>
#include <QRect>
#include <QString>

#include <memory>

class QScreen;

namespace platform {

// Reads what a screen shows, in the screen's own device pixels. Main thread.
class ScreenGrabber {
public:
    virtual ~ScreenGrabber() = default;

    // Whether this session lets the application read the screen at all.
    virtual bool isAvailable() const = 0;
    // The picture of the area, given in the desktop's device pixels (the X
    // root window's coordinates). Null when the screen cannot be read.
    virtual QImage grab(const QRect& devicePixels) = 0;
    // Where a screen lies in those device pixels, as the session places it.
    // A fractional scale rounds the logical size, so the logical size times
    // the ratio is not the screen's size. Empty when the session does not
    // know the screen.
    virtual QRect screenArea(const QScreen& screen) = 0;

    // The backend of this session: X11 in an X session, the desktop portal
    // where the session bus offers it (Wayland), else the null backend.
    // PRAVIK_SCREENGRABBER=x11|portal|null overrides the probe.
    static ScreenGrabber& shared();
    static std::unique_ptr<ScreenGrabber> create(const QString& choice);
};

} // namespace platform
