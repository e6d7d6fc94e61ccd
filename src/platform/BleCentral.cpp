#include "platform/BleCentral.h"

#include "platform/BluezBleCentral.h"
#include "platform/NullBleCentral.h"

namespace platform {

std::unique_ptr<BleCentral> BleCentral::create(const QString& choice)
{
    if (choice == QLatin1StringView("null"))
        return std::make_unique<NullBleCentral>();
    if (choice == QLatin1StringView("bluez") || BluezBleCentral::isAvailable())
        return std::make_unique<BluezBleCentral>();
    // Not said here: the session's permissions tell the user once that there is no adapter.
    return std::make_unique<NullBleCentral>();
}

BleCentral& BleCentral::shared()
{
    static const std::unique_ptr<BleCentral> central = create(qEnvironmentVariable("PRAVIK_BLE"));
    return *central;
}

} // namespace platform
