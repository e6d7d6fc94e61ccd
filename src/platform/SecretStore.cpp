#include "platform/SecretStore.h"

#include "platform/FileSecretStore.h"

namespace platform {

SecretStore& SecretStore::shared()
{
    static FileSecretStore store;
    return store;
}

} // namespace platform
