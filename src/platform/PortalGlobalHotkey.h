#pragma once

#include "platform/GlobalHotkey.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QVariantMap>

namespace platform {

// One shortcut as the portal's GlobalShortcuts interface takes it: an id
// and its properties ("description", "preferred_trigger").
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut);

// The desktop portal's GlobalShortcuts interface (Wayland sessions): a
// session holding one shortcut, bound with the hot key as its preferred
// trigger (the desktop may let the user change it); Activated signals of
// that session run the action.
class PortalGlobalHotkey final : public QObject, public GlobalHotkey {
    Q_OBJECT
public:
    static const QString kInterface; // "org.freedesktop.portal.GlobalShortcuts"
    static const QString kShortcutId;
    static constexpr int kTimeoutMs = 60000;

    // Null when the bus has no portal with global shortcuts.
    static std::unique_ptr<PortalGlobalHotkey> open(
        const QDBusConnection& bus = QDBusConnection::sessionBus());
    ~PortalGlobalHotkey() override;

    bool isAvailable() const override { return true; }
    Result registerHotkey(const Hotkey& hotkey, Action action) override;
    void unregisterHotkey() override;

    // "CTRL+SHIFT+a": the trigger text of the shortcut specification; empty
    // for a key without one.
    static QString triggerText(const Hotkey& hotkey);

private slots:
    void onActivated(const QDBusMessage& signal);

private:
    explicit PortalGlobalHotkey(const QDBusConnection& bus);
    // Calls a portal method whose answer comes as a Response signal; the
    // results, or nothing when the portal refused or did not answer.
    std::optional<QVariantMap> request(
        const QString& method, const QVariantList& arguments, const QString& token);

    QDBusConnection bus_;
    QString session_;
    Action action_;
    quint64 tokens_ = 0;
};

} // namespace platform

Q_DECLARE_METATYPE(platform::PortalShortcut)
