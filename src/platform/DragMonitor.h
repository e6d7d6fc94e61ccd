#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace platform {

// Tells when the user ends a drag with the left mouse button anywhere in
// the session (selecting text in another application, for example). A
// press and release without movement is no drag. Main thread.
class DragMonitor {
public:
    using Handler = std::function<void()>;

    virtual ~DragMonitor() = default;

    virtual bool isAvailable() const = 0;
    // Starts reporting to the handler, replacing an earlier one; false when
    // this session cannot tell.
    virtual bool start(Handler handler) = 0;
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;

    // XInput 2 raw events in an X session, else the null backend.
    // PRAVIK_DRAGMONITOR=x11|null overrides the probe.
    static DragMonitor& shared();
    static std::unique_ptr<DragMonitor> create(const QString& choice);
};

} // namespace platform
