#pragma once

#include "platform/WindowList.h"

namespace fakes {

// Windows the test sets, handed out front to back as given; counts how
// often the list was read.
class FakeWindowList final : public platform::WindowList {
public:
    QList<platform::WindowInfo> windows() override
    {
        ++reads_;
        return windows_;
    }

    void setWindows(const QList<platform::WindowInfo>& windows) { windows_ = windows; }
    int reads() const { return reads_; }

private:
    QList<platform::WindowInfo> windows_;
    int reads_ = 0;
};

} // namespace fakes
