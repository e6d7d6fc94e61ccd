#include "platform/GlobalHotkey.h"

#include "platform/NullGlobalHotkey.h"
#include "platform/PortalGlobalHotkey.h"
#include "platform/X11GlobalHotkey.h"
#include "platform/X11Session.h"

namespace platform {

QString GlobalHotkey::problemText(Result result, const Hotkey& hotkey)
{
    switch (result) {
    case Result::Registered:
        return {};
    case Result::NotAvailable:
        return QStringLiteral("The screenshot hot key is not available in this desktop session.");
    case Result::Taken:
        return QStringLiteral(
            "The screenshot hot key %1 is already used by another program; choose another one.")
            .arg(hotkey.shownText());
    case Result::UnknownKey:
        return QStringLiteral("The screenshot hot key %1 has no key on this keyboard; choose another one.")
            .arg(hotkey.shownText());
    }
    return {};
}

std::unique_ptr<GlobalHotkey> GlobalHotkey::create(const QString& choice)
{
    if (choice == QLatin1StringView("null"))
        return std::make_unique<NullGlobalHotkey>();
    if (choice == QLatin1StringView("x11") || (choice.isEmpty() && X11Session::isX11())) {
        if (auto hotkey = X11GlobalHotkey::open())
            return hotkey;
    }
    if (choice == QLatin1StringView("portal") || (choice.isEmpty() && !X11Session::isX11())) {
        if (auto hotkey = PortalGlobalHotkey::open())
            return hotkey;
    }
    return std::make_unique<NullGlobalHotkey>();
}

GlobalHotkey& GlobalHotkey::shared()
{
    static const std::unique_ptr<GlobalHotkey> hotkey = create(qEnvironmentVariable("PRAVIK_GLOBALHOTKEY"));
    return *hotkey;
}

} // namespace platform
