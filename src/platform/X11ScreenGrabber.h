#pragma once

#include "platform/ScreenGrabber.h"

#include <QByteArray>

typedef struct _XDisplay Display;

namespace platform {

// Reads the X root window with XGetImage (through MIT-SHM when the server
// offers it), so every screen of a multi-monitor desktop is one read away.
class X11ScreenGrabber final : public ScreenGrabber {
public:
    // Null when the display cannot be opened.
    static std::unique_ptr<X11ScreenGrabber> open(const QByteArray& displayName = {});
    ~X11ScreenGrabber() override;
    X11ScreenGrabber(const X11ScreenGrabber&) = delete;
    X11ScreenGrabber& operator=(const X11ScreenGrabber&) = delete;

    bool isAvailable() const override { return true; }
    QImage grab(const QRect& devicePixels) override;

private:
    explicit X11ScreenGrabber(Display* display);
    Display* display_;
};

} // namespace platform
