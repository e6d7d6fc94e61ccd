#pragma once

#include "platform/HidHotplugWatcher.h"

namespace platform {

// No hot-plug source in this session: nothing is ever reported.
class HidNullHotplugWatcher final : public HidHotplugWatcher {
public:
    bool start(Handler, Handler) override { return false; }
};

} // namespace platform
