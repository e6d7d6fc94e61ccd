#pragma once

#include "platform/Permissions.h"

#include <functional>

namespace fakes {

// Answers set by the test; counts how often each question was asked.
class FakePermissions final : public platform::Permissions {
public:
    bool inputAccess() const override
    {
        ++inputAsked;
        return input;
    }
    bool screenCapture() const override
    {
        ++screenAsked;
        return screen;
    }
    bool bluetoothAdapter() const override
    {
        ++bluetoothAsked;
        return bluetooth;
    }

    void setChangeListener(std::function<void()> listener) override { listener_ = std::move(listener); }
    // The session changed by itself: sets the answer and tells the listener.
    void adapterChanged(bool present)
    {
        bluetooth = present;
        if (listener_)
            listener_();
    }
    bool hasListener() const { return bool(listener_); }

    bool input = true;
    bool screen = true;
    bool bluetooth = true;
    mutable int inputAsked = 0;
    mutable int screenAsked = 0;
    mutable int bluetoothAsked = 0;

private:
    std::function<void()> listener_;
};

} // namespace fakes
