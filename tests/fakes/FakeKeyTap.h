#pragma once

#include "platform/KeyTap.h"

namespace fakes {

// A key tap the test drives: press() and release() deliver at once, as the
// real taps do on the main thread. Keys sent before start() are lost, as
// they would reach the focused application instead.
class FakeKeyTap final : public platform::KeyTap {
public:
    bool isAvailable() const override { return available_; }
    bool start(Handler handler) override;

    void setAvailable(bool available) { available_ = available; }
    int startCount() const { return startCount_; }
    bool started() const { return bool(handler_); }

    void send(platform::MouseKey key, platform::KeyAction action);
    void press(platform::MouseKey key) { send(key, platform::KeyAction::Down); }
    void release(platform::MouseKey key) { send(key, platform::KeyAction::Up); }

private:
    bool available_ = true;
    int startCount_ = 0;
    Handler handler_;
};

} // namespace fakes
