#pragma once

#include "platform/DesktopWatch.h"

namespace fakes {

// A desktop the test switches: switchDesktop() reports a switch to the
// handler set, as the window manager would.
class FakeDesktopWatch final : public platform::DesktopWatch {
public:
    bool isAvailable() const override { return true; }
    void setHandler(Handler handler) override { handler_ = std::move(handler); }

    bool hasHandler() const { return bool(handler_); }
    void switchDesktop()
    {
        if (handler_)
            handler_();
    }

private:
    Handler handler_;
};

} // namespace fakes
