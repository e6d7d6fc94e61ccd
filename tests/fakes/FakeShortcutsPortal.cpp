#include "fakes/FakeShortcutsPortal.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QRegularExpression>

namespace fakes {

FakeShortcutsPortal::FakeShortcutsPortal()
{
    qDBusRegisterMetaType<platform::PortalShortcut>();
    qDBusRegisterMetaType<QList<platform::PortalShortcut>>();
    if (!bus_.isRunning())
        return;
    portal_ = bus_.connect();
    portal_.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    portal_.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), this,
        QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
}

FakeShortcutsPortal::~FakeShortcutsPortal() = default;

int FakeShortcutsPortal::openSessions() const
{
    int open = 0;
    for (const auto& session : sessions_)
        open += !session->closed;
    return open;
}

QString FakeShortcutsPortal::requestPath(const QVariantMap& options)
{
    const QString token = options.value(QStringLiteral("handle_token")).toString();
    static const QRegularExpression tokenPattern(QStringLiteral("^[A-Za-z0-9_]+$"));
    if (!tokenPattern.match(token).hasMatch())
        problems_ << QStringLiteral("handle_token \"%1\" is not a valid token").arg(token);
    QString sender = message().service();
    sender.remove(0, 1).replace(u'.', u'_');
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

void FakeShortcutsPortal::respond(const QString& path, uint code, const QVariantMap& results)
{
    QDBusMessage response = QDBusMessage::createTargetedSignal(message().service(), path,
        QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
    response << code << results;
    portal_.send(response);
}

QDBusObjectPath FakeShortcutsPortal::CreateSession(const QVariantMap& options)
{
    const QString path = requestPath(options);
    const QString sessionToken = options.value(QStringLiteral("session_handle_token")).toString();
    if (sessionToken.isEmpty())
        problems_ << QStringLiteral("no session_handle_token");
    QString sender = message().service();
    sender.remove(0, 1).replace(u'.', u'_');
    auto session = std::make_unique<FakePortalSession>(
        QStringLiteral("/org/freedesktop/portal/desktop/session/%1/%2").arg(sender, sessionToken));
    portal_.registerObject(session->path, session.get(), QDBusConnection::ExportAllSlots);
    respond(path, 0, { { QStringLiteral("session_handle"), session->path } });
    sessions_.push_back(std::move(session));
    return QDBusObjectPath(path);
}

QDBusObjectPath FakeShortcutsPortal::BindShortcuts(const QDBusObjectPath& sessionPath,
    const QList<platform::PortalShortcut>& shortcuts, const QString& parentWindow, const QVariantMap& options)
{
    Q_UNUSED(parentWindow);
    const QString path = requestPath(options);
    FakePortalSession* session = nullptr;
    for (const auto& each : sessions_) {
        if (each->path == sessionPath.path())
            session = each.get();
    }
    if (!session || session->closed)
        problems_ << QStringLiteral("bind on a session that is not open: %1").arg(sessionPath.path());
    else if (session->bound)
        problems_ << QStringLiteral("a second bind on one session");
    if (shortcuts.size() != 1 || shortcuts[0].id.isEmpty()
        || shortcuts[0].properties.value(QStringLiteral("preferred_trigger")).toString().isEmpty())
        problems_ << QStringLiteral("not one shortcut with an id and a preferred trigger");
    if (session && !shortcuts.isEmpty() && bindResponse_ == 0) {
        session->bound = true;
        session->shortcutId = shortcuts[0].id;
        triggers_ << shortcuts[0].properties.value(QStringLiteral("preferred_trigger")).toString();
    }
    respond(path, bindResponse_, {});
    return QDBusObjectPath(path);
}

bool FakeShortcutsPortal::activate()
{
    for (auto it = sessions_.rbegin(); it != sessions_.rend(); ++it) {
        const FakePortalSession& session = **it;
        if (session.closed || !session.bound)
            continue;
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(session.path)) << session.shortcutId << qulonglong(0)
               << QVariantMap();
        return portal_.send(signal);
    }
    return false;
}

} // namespace fakes
