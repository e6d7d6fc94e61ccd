#include "platform/PortalRequest.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDebug>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTimer>

#include <atomic>

namespace platform {

const QString PortalRequest::kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PortalRequest::kPath = QStringLiteral("/org/freedesktop/portal/desktop");

namespace {

const QString kPortalRequestInterface = QStringLiteral("org.freedesktop.portal.Request");

// Receives the Response signal of one request.
class PortalResponse : public QObject {
    Q_OBJECT
public:
    bool answered = false;
    uint code = 2;
    QVariantMap results;
    QEventLoop loop;

public slots:
    void onResponse(uint response, const QVariantMap& values)
    {
        answered = true;
        code = response;
        results = values;
        loop.quit();
    }
};

} // namespace

QString PortalRequest::newToken()
{
    static std::atomic<quint64> counter { 0 };
    return QStringLiteral("pravik%1_%2").arg(++counter).arg(QRandomGenerator::global()->generate());
}

bool PortalRequest::portalPresent(const QDBusConnection& bus)
{
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QDBusReply<bool> registered = bus.interface()->isServiceRegistered(kService);
    const QDBusReply<QStringList> activatable = bus.interface()->activatableServiceNames();
    return (registered.isValid() && registered.value())
        || (activatable.isValid() && activatable.value().contains(kService));
}

std::optional<QVariantMap> PortalRequest::call(const QDBusConnection& bus, const QString& interface,
    const QString& method, const QVariantList& arguments, const QString& token, int timeoutMs)
{
    QString sender = bus.baseService();
    sender.remove(0, 1).replace(u'.', u'_');
    const QString requestPath
        = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    QDBusConnection connection = bus;
    PortalResponse response;
    connection.connect(kService, requestPath, kPortalRequestInterface, QStringLiteral("Response"), &response,
        SLOT(onResponse(uint, QVariantMap)));

    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, interface, method);
    message.setArguments(arguments);
    QDBusPendingCallWatcher watcher(connection.asyncCall(message, timeoutMs));
    QObject::connect(
        &watcher, &QDBusPendingCallWatcher::finished, &response, [&response](QDBusPendingCallWatcher* w) {
            if (w->isError())
                response.loop.quit();
        });
    QTimer::singleShot(timeoutMs, &response.loop, &QEventLoop::quit);
    if (!response.answered)
        response.loop.exec();
    connection.disconnect(kService, requestPath, kPortalRequestInterface, QStringLiteral("Response"),
        &response, SLOT(onResponse(uint, QVariantMap)));
    if (!response.answered || response.code != 0) {
        qWarning() << "The desktop portal did not do" << method << response.answered << response.code
                   << watcher.error().message();
        return std::nullopt;
    }
    return response.results;
}

} // namespace platform

#include "PortalRequest.moc"
