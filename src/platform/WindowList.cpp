#include "platform/WindowList.h"

#include "platform/NullWindowList.h"
#include "platform/X11Session.h"
#include "platform/X11WindowList.h"

#include <QDebug>

namespace platform {

std::unique_ptr<WindowList> WindowList::create(const QString& choice)
{
    if (choice == QLatin1StringView("null"))
        return std::make_unique<NullWindowList>();
    if (choice == QLatin1StringView("x11") || (choice.isEmpty() && X11Session::isX11())) {
        if (auto list = X11WindowList::open())
            return list;
    }
    return std::make_unique<NullWindowList>();
}

WindowList& WindowList::shared()
{
    static const std::unique_ptr<WindowList> list = create(qEnvironmentVariable("PRAVIK_WINDOWLIST"));
    return *list;
}

} // namespace platform
