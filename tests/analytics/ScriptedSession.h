#pragma once

#include "analytics/reporters/APMSessionState.h"

#include <atomic>

namespace session_test {

// An active session that is running or has expired, as the test says (the
// engine reads it from its worker queue).
class ScriptedSession final : public APMSessionState {
public:
    bool isAppActive() const override { return true; }
    bool isSessionExpired() const override { return expired.load(); }
    std::atomic<bool> expired { false };
};

} // namespace session_test
