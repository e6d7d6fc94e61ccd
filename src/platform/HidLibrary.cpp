#include "platform/HidLibrary.h"

#include "platform/HidNullLibrary.h"
#include "platform/HidapiLibrary.h"

#include <QDebug>

namespace platform {

std::unique_ptr<HidLibrary> HidLibrary::create(const QString& choice)
{
    if (choice == QLatin1StringView("null"))
        return std::make_unique<HidNullLibrary>();
    auto hidapi = std::make_unique<HidapiLibrary>();
    if (choice == QLatin1StringView("hidapi"))
        return hidapi;
    if (hidapi->init()) {
        hidapi->exit();
        return hidapi;
    }
    qWarning() << "HID access is not available; the USB receiver cannot be used";
    return std::make_unique<HidNullLibrary>();
}

HidLibrary& HidLibrary::shared()
{
    static const std::unique_ptr<HidLibrary> library = create(qEnvironmentVariable("PRAVIK_HID"));
    return *library;
}

} // namespace platform
