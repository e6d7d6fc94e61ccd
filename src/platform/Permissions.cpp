#include "platform/Permissions.h"

#include "platform/KeyPoster.h"
#include "platform/KeyTap.h"
#include "platform/ScreenGrabber.h"
#include "platform/SessionPermissions.h"

#include <QDBusConnection>

namespace platform {

Permissions& Permissions::shared()
{
    static SessionPermissions permissions(
        KeyTap::shared(), KeyPoster::shared(), ScreenGrabber::shared(), QDBusConnection::systemBus());
    return permissions;
}

} // namespace platform
