#pragma once

#include <QList>
#include <QRect>
#include <QString>

#include <memory>

namespace platform {

// One window on screen.
struct WindowInfo {
    // Outer frame (decorations included) in the desktop's device pixels.
    QRect frame;
    // 0 for ordinary windows; negative for the desktop, positive for docks,
    // panels and windows kept above the others.
    int layer = 0;
};

// The windows the session shows, front to back. Main thread.
class WindowList {
public:
    virtual ~WindowList() = default;

    // Empty where the session does not tell.
    virtual QList<WindowInfo> windows() = 0;

    // The backend of this session: X11 in an X session, else the null
    // backend. PRAVIK_WINDOWLIST=x11|null overrides the probe.
    static WindowList& shared();
    static std::unique_ptr<WindowList> create(const QString& choice);
};

} // namespace platform
