#include "platform/X11Session.h"

#include <QGuiApplication>

namespace platform {

bool X11Session::isX11()
{
    const QByteArray type = qgetenv("XDG_SESSION_TYPE");
    if (type == "wayland" || qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    return type == "x11" || QGuiApplication::platformName() == QLatin1StringView("xcb");
}

} // namespace platform
