#pragma once

#include "platform/KeyTap.h"

namespace platform {

// No way to take keys in this session: the mouse's keys reach the focused
// application as F18 to F20 and the application has no key functions.
class NullKeyTap final : public KeyTap {
public:
    bool isAvailable() const override { return false; }
    bool start(Handler) override { return false; }
};

} // namespace platform
