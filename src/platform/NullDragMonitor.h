#pragma once

#include "platform/DragMonitor.h"

namespace platform {

// This session does not tell about other applications' mouse buttons:
// selection translation cannot start by itself.
class NullDragMonitor final : public DragMonitor {
public:
    bool isAvailable() const override { return false; }
    bool start(Handler) override { return false; }
    void stop() override { }
    bool isRunning() const override { return false; }
};

} // namespace platform
