#pragma once

#include "platform/Permissions.h"

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

    bool input = true;
    bool screen = true;
    bool bluetooth = true;
    mutable int inputAsked = 0;
    mutable int screenAsked = 0;
    mutable int bluetoothAsked = 0;
};

} // namespace fakes
