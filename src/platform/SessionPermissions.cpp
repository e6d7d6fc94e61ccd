#include "platform/SessionPermissions.h"

#include "platform/KeyPoster.h"
#include "platform/KeyTap.h"
#include "platform/ScreenGrabber.h"

namespace platform {

SessionPermissions::SessionPermissions(
    const KeyTap& tap, const KeyPoster& poster, const ScreenGrabber& grabber, const QDBusConnection& bus)
    : tap_(tap)
    , poster_(poster)
    , grabber_(grabber)
    , adapters_(bus)
{
    QObject::connect(&adapters_, &BluezAdapterWatcher::presenceChanged, &adapters_, [this] {
        if (listener_)
            listener_();
    });
}

bool SessionPermissions::inputAccess() const
{
    return tap_.isAvailable() && poster_.isAvailable();
}

bool SessionPermissions::screenCapture() const
{
    return grabber_.isAvailable();
}

bool SessionPermissions::bluetoothAdapter() const
{
    return adapters_.present();
}

void SessionPermissions::setChangeListener(std::function<void()> listener)
{
    listener_ = std::move(listener);
}

} // namespace platform
