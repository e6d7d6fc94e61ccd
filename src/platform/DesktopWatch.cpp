#include "platform/DesktopWatch.h"

#include "platform/NullDesktopWatch.h"
#include "platform/X11DesktopWatch.h"
#include "platform/X11Session.h"

namespace platform {

std::unique_ptr<DesktopWatch> DesktopWatch::create(const QString& choice)
{
    if (choice == QLatin1StringView("null"))
        return std::make_unique<NullDesktopWatch>();
    if (choice == QLatin1StringView("x11") || (choice.isEmpty() && X11Session::isX11())) {
        if (auto watch = X11DesktopWatch::open())
            return watch;
    }
    return std::make_unique<NullDesktopWatch>();
}

DesktopWatch& DesktopWatch::shared()
{
    static const std::unique_ptr<DesktopWatch> watch = create(qEnvironmentVariable("PRAVIK_DESKTOPWATCH"));
    return *watch;
}

} // namespace platform
