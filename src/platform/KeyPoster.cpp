#include "platform/KeyPoster.h"

#include "platform/NullKeyPoster.h"
#include "platform/UinputKeyPoster.h"
#include "platform/X11KeyPoster.h"
#include "platform/X11Session.h"

#include <QDebug>

namespace platform {

std::unique_ptr<KeyPoster> KeyPoster::create(const QString& choice)
{
    if (choice == QLatin1StringView("null"))
        return std::make_unique<NullKeyPoster>();
    if (choice == QLatin1StringView("x11") || (choice.isEmpty() && X11Session::isX11())) {
        if (auto poster = X11KeyPoster::open())
            return poster;
    }
    if (choice == QLatin1StringView("uinput") || choice == QLatin1StringView("evdev") || choice.isEmpty()) {
        if (auto poster = UinputKeyPoster::open())
            return poster;
    }
    qWarning() << "Synthetic keys cannot be posted in this session" << choice;
    return std::make_unique<NullKeyPoster>();
}

KeyPoster& KeyPoster::shared()
{
    static const std::unique_ptr<KeyPoster> poster = create(qEnvironmentVariable("PRAVIK_KEYPOSTER"));
    return *poster;
}

} // namespace platform
