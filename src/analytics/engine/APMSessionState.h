#pragma once

#include <memory>

// What the event pipeline and the raw-event metadata ask of sessions: whether
// the application is in the foreground and whether the session has expired.
// The session and screen-view reporters supply the real answers; the engine
// starts with those of an application in the foreground whose session never
// expires (no background session handling, one stitching token per session
// number).
class APMSessionState {
public:
    virtual ~APMSessionState() = default;

    virtual bool isAppActive() const = 0;
    virtual bool isSessionExpired() const = 0;

    static std::shared_ptr<APMSessionState> foreground();
};
