#pragma once

#include "platform/DragMonitor.h"

namespace fakes {

// The test ends drags with drag(); counts starts and stops.
class FakeDragMonitor final : public platform::DragMonitor {
public:
    bool isAvailable() const override { return available_; }
    bool start(Handler handler) override
    {
        ++starts_;
        if (!available_)
            return false;
        handler_ = std::move(handler);
        return true;
    }
    void stop() override
    {
        ++stops_;
        handler_ = nullptr;
    }
    bool isRunning() const override { return bool(handler_); }

    void setAvailable(bool available) { available_ = available; }
    int starts() const { return starts_; }
    int stops() const { return stops_; }
    // A drag in another application ended; false when nobody listens.
    bool drag()
    {
        if (!handler_)
            return false;
        const Handler handler = handler_;
        handler();
        return true;
    }

private:
    bool available_ = true;
    Handler handler_;
    int starts_ = 0;
    int stops_ = 0;
};

} // namespace fakes
