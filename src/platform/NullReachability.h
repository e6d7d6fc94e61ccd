#pragma once

#include "platform/Reachability.h"

namespace platform {

// No network information on this system: always connected, never changes.
class NullReachability final : public Reachability {
public:
    bool isConnected() const override { return true; }
    void setChangeHandler(ChangeHandler) override { }
};

} // namespace platform
