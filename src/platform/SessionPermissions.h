#pragma once

#include "platform/Permissions.h"

namespace platform {

class KeyPoster;
class KeyTap;

// The permissions of the running session: input access is whatever the
// chosen key tap and key poster can do; screen capture needs an X session;
// a Bluetooth adapter is looked up through the system's Bluetooth service.
class SessionPermissions final : public Permissions {
public:
    SessionPermissions(const KeyTap& tap, const KeyPoster& poster);

    bool inputAccess() const override;
    bool screenCapture() const override;
    bool bluetoothAdapter() const override;

private:
    const KeyTap& tap_;
    const KeyPoster& poster_;
};

} // namespace platform
