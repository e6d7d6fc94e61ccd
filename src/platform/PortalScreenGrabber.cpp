#include "platform/PortalScreenGrabber.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>

namespace platform {

const QString PortalScreenGrabber::kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PortalScreenGrabber::kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString PortalScreenGrabber::kInterface = QStringLiteral("org.freedesktop.portal.Screenshot");
const QString PortalScreenGrabber::kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");

namespace {

// Receives the Response signal of one portal request.
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

std::unique_ptr<PortalScreenGrabber> PortalScreenGrabber::open(const QDBusConnection& bus)
{
    if (!bus.isConnected() || !bus.interface())
        return nullptr;
    const QDBusReply<bool> registered = bus.interface()->isServiceRegistered(kService);
    const QDBusReply<QStringList> activatable = bus.interface()->activatableServiceNames();
    const bool present = (registered.isValid() && registered.value())
        || (activatable.isValid() && activatable.value().contains(kService));
    if (!present)
        return nullptr;
    return std::unique_ptr<PortalScreenGrabber>(new PortalScreenGrabber(bus));
}

PortalScreenGrabber::PortalScreenGrabber(const QDBusConnection& bus)
    : bus_(bus)
{
}

QImage PortalScreenGrabber::grab(const QRect& devicePixels)
{
    const QImage whole = desktop();
    const QRect area = devicePixels & whole.rect();
    return area.isEmpty() ? QImage() : whole.copy(area).convertToFormat(QImage::Format_RGB32);
}

QImage PortalScreenGrabber::desktop()
{
    if (cache_->valid)
        return cache_->desktop;
    // The request's object path is known before the call, so the answer
    // cannot arrive before anyone listens for it.
    const QString token
        = QStringLiteral("pravik%1_%2").arg(++requests_).arg(QRandomGenerator::global()->generate());
    QString sender = bus_.baseService();
    sender.remove(0, 1).replace(u'.', u'_');
    const QString requestPath
        = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    PortalResponse response;
    bus_.connect(kService, requestPath, kRequestInterface, QStringLiteral("Response"), &response,
        SLOT(onResponse(uint, QVariantMap)));

    QDBusMessage call
        = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Screenshot"));
    call << QString()
         << QVariantMap { { QStringLiteral("handle_token"), token }, { QStringLiteral("interactive"), false },
                { QStringLiteral("modal"), false } };
    QDBusPendingCallWatcher watcher(bus_.asyncCall(call, kTimeoutMs));
    QObject::connect(
        &watcher, &QDBusPendingCallWatcher::finished, &response, [&response](QDBusPendingCallWatcher* w) {
            if (w->isError())
                response.loop.quit();
        });
    QTimer::singleShot(kTimeoutMs, &response.loop, &QEventLoop::quit);
    if (!response.answered)
        response.loop.exec();
    bus_.disconnect(kService, requestPath, kRequestInterface, QStringLiteral("Response"), &response,
        SLOT(onResponse(uint, QVariantMap)));

    QImage picture;
    if (response.answered && response.code == 0) {
        const QUrl uri(response.results.value(QStringLiteral("uri")).toString());
        if (uri.isLocalFile()) {
            const QString file = uri.toLocalFile();
            picture.load(file);
            QFile::remove(file);
        }
    } else {
        qWarning() << "The screenshot portal gave no picture" << response.answered << response.code
                   << watcher.error().message();
    }
    // Every screen of one capture is cut from this picture; the next
    // capture asks again.
    cache_->desktop = picture;
    cache_->valid = true;
    QTimer::singleShot(0, [cache = cache_] { *cache = Cache(); });
    return picture;
}

} // namespace platform

#include "PortalScreenGrabber.moc"
