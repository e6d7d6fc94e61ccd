#include "analytics/engine/APMSessionState.h"

namespace {

class ForegroundSession final : public APMSessionState {
public:
    bool isAppActive() const override { return true; }
    bool isSessionExpired() const override { return false; }
};

} // namespace

std::shared_ptr<APMSessionState> APMSessionState::foreground()
{
    return std::make_shared<ForegroundSession>();
}
