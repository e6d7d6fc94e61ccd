#pragma once

#include "platform/DesktopWatch.h"

namespace platform {

// A session that does not tell when the desktop changes: nothing is
// reported.
class NullDesktopWatch final : public DesktopWatch {
public:
    bool isAvailable() const override { return false; }
    void setHandler(Handler) override { }
};

} // namespace platform
