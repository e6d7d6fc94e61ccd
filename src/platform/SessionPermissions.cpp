#include "platform/SessionPermissions.h"

#include "platform/KeyPoster.h"
#include "platform/KeyTap.h"
#include "platform/X11Session.h"

#include <QBluetoothLocalDevice>

namespace platform {

SessionPermissions::SessionPermissions(const KeyTap& tap, const KeyPoster& poster)
    : tap_(tap)
    , poster_(poster)
{
}

bool SessionPermissions::inputAccess() const
{
    return tap_.isAvailable() && poster_.isAvailable();
}

bool SessionPermissions::screenCapture() const
{
    return X11Session::isX11();
}

bool SessionPermissions::bluetoothAdapter() const
{
    return !QBluetoothLocalDevice::allDevices().isEmpty();
}

} // namespace platform
