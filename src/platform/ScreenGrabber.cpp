#include "platform/ScreenGrabber.h"

#include "platform/NullScreenGrabber.h"
#include "platform/PortalScreenGrabber.h"
#include "platform/X11ScreenGrabber.h"
#include "platform/X11Session.h"

#include <QDebug>

namespace platform {

std::unique_ptr<ScreenGrabber> ScreenGrabber::create(const QString& choice)
{
    if (choice == QLatin1StringView("null"))
        return std::make_unique<NullScreenGrabber>();
    if (choice == QLatin1StringView("x11") || (choice.isEmpty() && X11Session::isX11())) {
        if (auto grabber = X11ScreenGrabber::open())
            return grabber;
    }
    if (choice == QLatin1StringView("portal") || choice.isEmpty()) {
        if (auto grabber = PortalScreenGrabber::open())
            return grabber;
    }
    qWarning() << "The screen cannot be read in this session" << choice;
    return std::make_unique<NullScreenGrabber>();
}

ScreenGrabber& ScreenGrabber::shared()
{
    static const std::unique_ptr<ScreenGrabber> grabber
        = create(qEnvironmentVariable("PRAVIK_SCREENGRABBER"));
    return *grabber;
}

} // namespace platform
