#pragma once

#include "platform/ScreenGrabber.h"

namespace platform {

// No way to read the screen in this session: screenshot translation tells
// the user it is not available.
class NullScreenGrabber final : public ScreenGrabber {
public:
    bool isAvailable() const override { return false; }
    QImage grab(const QRect&) override { return {}; }
    QRect screenArea(const QScreen&) override { return {}; }
};

} // namespace platform
