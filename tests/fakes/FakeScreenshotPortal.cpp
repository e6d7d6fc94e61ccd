#include "fakes/FakeScreenshotPortal.h"

#include <QDBusMessage>
#include <QRegularExpression>
#include <QUrl>

namespace fakes {

FakeScreenshotPortal::FakeScreenshotPortal()
{
    daemon_.start(QStringLiteral("dbus-daemon"),
        { QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1") });
    if (!daemon_.waitForStarted(5000) || !daemon_.waitForReadyRead(5000))
        return;
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    const QString name = QStringLiteral("fake-portal-%1").arg(quintptr(this));
    portal_ = QDBusConnection::connectToBus(address_, name);
    if (!portal_.isConnected())
        return;
    portal_.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    portal_.registerObject(
        QStringLiteral("/org/freedesktop/portal/desktop"), this, QDBusConnection::ExportAllSlots);
}

FakeScreenshotPortal::~FakeScreenshotPortal()
{
    for (const QString& client : clients_)
        QDBusConnection::disconnectFromBus(client);
    if (portal_.isConnected())
        QDBusConnection::disconnectFromBus(portal_.name());
    daemon_.terminate();
    daemon_.waitForFinished(5000);
}

QDBusConnection FakeScreenshotPortal::clientConnection()
{
    const QString name = QStringLiteral("fake-portal-client-%1-%2").arg(quintptr(this)).arg(clients_.size());
    clients_ << name;
    return QDBusConnection::connectToBus(address_, name);
}

QDBusObjectPath FakeScreenshotPortal::Screenshot(const QString& parentWindow, const QVariantMap& options)
{
    ++calls_;
    Q_UNUSED(parentWindow);
    const QDBusMessage call = message();
    const QString token = options.value(QStringLiteral("handle_token")).toString();
    static const QRegularExpression tokenPattern(QStringLiteral("^[A-Za-z0-9_]+$"));
    if (!tokenPattern.match(token).hasMatch())
        problems_ << QStringLiteral("handle_token \"%1\" is not a valid token").arg(token);
    if (options.value(QStringLiteral("interactive")).toBool())
        problems_ << QStringLiteral("an interactive dialog was asked for");
    QString sender = call.service();
    sender.remove(0, 1).replace(u'.', u'_');
    const QString requestPath
        = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);

    QVariantMap results;
    if (responseCode_ == 0) {
        const QString file = dir_.filePath(QStringLiteral("Screenshot-%1.png").arg(calls_));
        picture_.save(file);
        files_ << file;
        results.insert(QStringLiteral("uri"), QUrl::fromLocalFile(file).toString());
    }
    QDBusMessage response = QDBusMessage::createTargetedSignal(call.service(), requestPath,
        QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
    response << responseCode_ << results;
    portal_.send(response);
    return QDBusObjectPath(requestPath);
}

} // namespace fakes
