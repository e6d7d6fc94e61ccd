#include "platform/Permissions.h"

#include "platform/KeyPoster.h"
#include "platform/KeyTap.h"
#include "platform/SessionPermissions.h"

namespace platform {

Permissions& Permissions::shared()
{
    static SessionPermissions permissions(KeyTap::shared(), KeyPoster::shared());
    return permissions;
}

} // namespace platform
