#include "platform/KeyTap.h"

#include "platform/EvdevKeyTap.h"
#include "platform/NullKeyTap.h"
#include "platform/X11KeyTap.h"
#include "platform/X11Session.h"

#include <QDebug>

namespace platform {

std::unique_ptr<KeyTap> KeyTap::create(const QString& choice)
{
    if (choice == QLatin1StringView("null"))
        return std::make_unique<NullKeyTap>();
    if (choice == QLatin1StringView("x11") || (choice.isEmpty() && X11Session::isX11())) {
        if (auto tap = X11KeyTap::open())
            return tap;
    }
    if (choice == QLatin1StringView("evdev") || choice.isEmpty()) {
        if (auto tap = EvdevKeyTap::open())
            return tap;
    }
    qWarning() << "The mouse's keys cannot be taken in this session" << choice;
    return std::make_unique<NullKeyTap>();
}

KeyTap& KeyTap::shared()
{
    static const std::unique_ptr<KeyTap> tap = create(qEnvironmentVariable("PRAVIK_KEYTAP"));
    return *tap;
}

} // namespace platform
