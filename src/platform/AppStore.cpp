#include "platform/AppStore.h"

#include "platform/NullAppStore.h"

namespace platform {

AppStore& AppStore::shared()
{
    static NullAppStore backend;
    return backend;
}

} // namespace platform
