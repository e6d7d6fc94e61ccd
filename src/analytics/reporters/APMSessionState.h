#pragma once

// What the event pipeline and the raw-event metadata ask of sessions: whether
// the application is the active one and whether the session has expired.
// The engine's session reporter answers; tests may put their own in its place.
class APMSessionState {
public:
    virtual ~APMSessionState() = default;

    virtual bool isAppActive() const = 0;
    virtual bool isSessionExpired() const = 0;
};
