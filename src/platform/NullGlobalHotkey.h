#pragma once

#include "platform/GlobalHotkey.h"

namespace platform {

// No global keys in this session: the user is told the hot key is not
// available.
class NullGlobalHotkey final : public GlobalHotkey {
public:
    bool isAvailable() const override { return false; }
    Result registerHotkey(const Hotkey&, Action) override { return Result::NotAvailable; }
    void unregisterHotkey() override { }
};

} // namespace platform
