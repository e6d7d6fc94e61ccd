#pragma once

#include "platform/KeyPoster.h"

namespace platform {

// No way to post keys in this session: typing and key functions do nothing.
class NullKeyPoster final : public KeyPoster {
public:
    bool isAvailable() const override { return false; }
    bool press(Key, Modifiers) override { return false; }
};

} // namespace platform
