#include "fakes/FakeScreenshotPortal.h"

#include <QDBusMessage>
#include <QRegularExpression>
#include <QUrl>

namespace fakes {

FakeScreenshotPortal::FakeScreenshotPortal()
{
    if (!bus_.isRunning())
        return;
    portal_ = bus_.connect();
    portal_.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    portal_.registerObject(
        QStringLiteral("/org/freedesktop/portal/desktop"), this, QDBusConnection::ExportAllSlots);
}

FakeScreenshotPortal::~FakeScreenshotPortal() = default;

QDBusConnection FakeScreenshotPortal::clientConnection()
{
    return bus_.connect();
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
