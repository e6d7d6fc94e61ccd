#include "platform/HidHotplugWatcher.h"

#include "platform/HidNullHotplugWatcher.h"
#include "platform/UdevHotplugWatcher.h"

#include <QDebug>

namespace platform {

std::unique_ptr<HidHotplugWatcher> HidHotplugWatcher::create()
{
    if (qEnvironmentVariable("PRAVIK_HID") == QLatin1StringView("null"))
        return std::make_unique<HidNullHotplugWatcher>();
    if (auto udev = UdevHotplugWatcher::open())
        return udev;
    qWarning() << "USB hot-plug reports are not available; the USB receiver will not be found";
    return std::make_unique<HidNullHotplugWatcher>();
}

} // namespace platform
