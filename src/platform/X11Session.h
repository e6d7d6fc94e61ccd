#pragma once

namespace platform {

// Whether the desktop session is an X server the application may use for
// key grabs, synthetic keys and screen reads. A Wayland session is never one,
// even when X clients run under it through XWayland (grabs there only see
// keys while an X window has the focus).
class X11Session {
public:
    static bool isX11();
};

} // namespace platform
