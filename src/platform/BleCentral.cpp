#include "platform/BleCentral.h"

#include "platform/BluezBleCentral.h"
#include "platform/NullBleCentral.h"

#include <QDebug>

namespace platform {

std::unique_ptr<BleCentral> BleCentral::create(const QString& choice)
{
    if (choice == QLatin1StringView("null"))
        return std::make_unique<NullBleCentral>();
    if (choice == QLatin1StringView("bluez") || BluezBleCentral::isAvailable())
        return std::make_unique<BluezBleCentral>();
    // Said to the user once, with the missing adapter, by the session's permissions.
    qDebug() << "Bluetooth LE is not available (BlueZ does not answer on the system bus)";
    return std::make_unique<NullBleCentral>();
}

BleCentral& BleCentral::shared()
{
    static const std::unique_ptr<BleCentral> central = create(qEnvironmentVariable("PRAVIK_BLE"));
    return *central;
}

} // namespace platform
