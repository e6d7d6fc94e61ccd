#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace platform {

// Tells when the user switches to another virtual desktop (workspace), so
// that what covers the screens of the one left can end. Main thread.
class DesktopWatch {
public:
    using Handler = std::function<void()>;

    virtual ~DesktopWatch() = default;

    virtual bool isAvailable() const = 0;
    // Reports each switch to the handler from now on, replacing an earlier
    // one; an empty handler stops the reports.
    virtual void setHandler(Handler handler) = 0;

    // The window manager's current-desktop property in an X session, else
    // the null backend. PRAVIK_DESKTOPWATCH=x11|null overrides the probe.
    static DesktopWatch& shared();
    static std::unique_ptr<DesktopWatch> create(const QString& choice);
};

} // namespace platform
