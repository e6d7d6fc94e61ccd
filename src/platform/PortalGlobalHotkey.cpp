#include "platform/PortalGlobalHotkey.h"

#include "platform/PortalRequest.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>

namespace platform {

const QString PortalGlobalHotkey::kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString PortalGlobalHotkey::kShortcutId = QStringLiteral("screenshot-translation");

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

std::unique_ptr<PortalGlobalHotkey> PortalGlobalHotkey::open(const QDBusConnection& bus)
{
    if (!PortalRequest::portalPresent(bus))
        return nullptr;
    // Only a portal whose desktop implements the interface says its version.
    QDBusMessage get = QDBusMessage::createMethodCall(PortalRequest::kService, PortalRequest::kPath,
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kInterface << QStringLiteral("version");
    QDBusConnection connection = bus;
    const QDBusMessage reply = connection.call(get, QDBus::BlockWithGui, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return nullptr;
    return std::unique_ptr<PortalGlobalHotkey>(new PortalGlobalHotkey(bus));
}

PortalGlobalHotkey::PortalGlobalHotkey(const QDBusConnection& bus)
    : bus_(bus)
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    bus_.connect(PortalRequest::kService, PortalRequest::kPath, kInterface, QStringLiteral("Activated"), this,
        SLOT(onActivated(QDBusMessage)));
}

PortalGlobalHotkey::~PortalGlobalHotkey()
{
    unregisterHotkey();
}

QString PortalGlobalHotkey::triggerText(const Hotkey& hotkey)
{
    const QString key = hotkey.keyName();
    if (key.isEmpty())
        return {};
    QStringList parts;
    if (hotkey.modifierFlags & Hotkey::kCommand)
        parts << QStringLiteral("CTRL");
    if (hotkey.modifierFlags & Hotkey::kOption)
        parts << QStringLiteral("ALT");
    if (hotkey.modifierFlags & Hotkey::kShift)
        parts << QStringLiteral("SHIFT");
    if (hotkey.modifierFlags & Hotkey::kControl)
        parts << QStringLiteral("LOGO");
    parts << key;
    return parts.join(u'+');
}

GlobalHotkey::Result PortalGlobalHotkey::registerHotkey(const Hotkey& hotkey, Action action)
{
    unregisterHotkey();
    const QString trigger = triggerText(hotkey);
    if (trigger.isEmpty())
        return Result::UnknownKey;
    const QString sessionToken = PortalRequest::newToken();
    const QString createToken = PortalRequest::newToken();
    const std::optional<QVariantMap> created
        = PortalRequest::call(bus_, kInterface, QStringLiteral("CreateSession"),
            { QVariantMap { { QStringLiteral("handle_token"), createToken },
                { QStringLiteral("session_handle_token"), sessionToken } } },
            createToken, kTimeoutMs);
    if (!created)
        return Result::NotAvailable;
    const QVariant handle = created->value(QStringLiteral("session_handle"));
    session_
        = handle.canConvert<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path() : handle.toString();
    if (session_.isEmpty())
        return Result::NotAvailable;

    const QList<PortalShortcut> shortcuts { { kShortcutId,
        QVariantMap { { QStringLiteral("description"), QStringLiteral("Screenshot translation") },
            { QStringLiteral("preferred_trigger"), trigger } } } };
    const QString bindToken = PortalRequest::newToken();
    const std::optional<QVariantMap> bound
        = PortalRequest::call(bus_, kInterface, QStringLiteral("BindShortcuts"),
            { QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(shortcuts), QString(),
                QVariantMap { { QStringLiteral("handle_token"), bindToken } } },
            bindToken, kTimeoutMs);
    if (!bound) {
        unregisterHotkey();
        return Result::Taken;
    }
    action_ = std::move(action);
    return Result::Registered;
}

void PortalGlobalHotkey::unregisterHotkey()
{
    action_ = nullptr;
    if (session_.isEmpty())
        return;
    bus_.asyncCall(QDBusMessage::createMethodCall(PortalRequest::kService, session_,
        QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Close")));
    session_.clear();
}

void PortalGlobalHotkey::onActivated(const QDBusMessage& signal)
{
    // (o session_handle, s shortcut_id, t timestamp, a{sv} options)
    const QVariantList arguments = signal.arguments();
    if (arguments.size() < 2 || !action_)
        return;
    const QString session = arguments[0].value<QDBusObjectPath>().path();
    if (session != session_ || arguments[1].toString() != kShortcutId)
        return;
    const Action action = action_;
    action();
}

} // namespace platform
