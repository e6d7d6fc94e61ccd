#pragma once

#include "platform/WindowList.h"

namespace platform {

// The session does not tell which windows it shows: the capture tool then
// offers whole screens.
class NullWindowList final : public WindowList {
public:
    QList<WindowInfo> windows() override { return {}; }
};

} // namespace platform
