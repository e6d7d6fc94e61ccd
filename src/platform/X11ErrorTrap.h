#pragma once

typedef struct _XDisplay Display;

namespace platform {

// While it lives, X protocol errors of one connection are counted instead of
// reaching Xlib's default handler, which ends the process (a key grab on an
// input device that was unplugged a moment ago must not end the application).
// Errors of other connections go to the handler that was there before. One
// trap at a time; main thread.
class X11ErrorTrap {
public:
    explicit X11ErrorTrap(Display* display);
    ~X11ErrorTrap();
    X11ErrorTrap(const X11ErrorTrap&) = delete;
    X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

    // Waits until the server has handled every request sent so far and
    // tells whether any of them failed since the trap was set.
    bool failed();

private:
    Display* display_;
};

} // namespace platform
