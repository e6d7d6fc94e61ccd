#include "platform/PortalScreenGrabber.h"

#include "platform/PortalRequest.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QUrl>

namespace platform {

const QString PortalScreenGrabber::kInterface = QStringLiteral("org.freedesktop.portal.Screenshot");

std::unique_ptr<PortalScreenGrabber> PortalScreenGrabber::open(const QDBusConnection& bus)
{
    if (!PortalRequest::portalPresent(bus))
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

QRect PortalScreenGrabber::screenArea(const QScreen& screen)
{
    const QImage whole = desktop();
    if (whole.isNull())
        return {};
    QRect extent;
    for (const QScreen* each : QGuiApplication::screens())
        extent |= each->geometry();
    return areaInPicture(screen.geometry(), extent, whole.size());
}

QRect PortalScreenGrabber::areaInPicture(const QRect& screen, const QRect& desktop, const QSize& picture)
{
    if (desktop.isEmpty() || picture.isEmpty())
        return {};
    const double sx = double(picture.width()) / desktop.width();
    const double sy = double(picture.height()) / desktop.height();
    // Edges, not sizes, are scaled, so neighbouring screens meet without a
    // gap or an overlap whatever the rounding.
    const int left = qRound((screen.x() - desktop.x()) * sx);
    const int top = qRound((screen.y() - desktop.y()) * sy);
    const int right = qRound((screen.x() + screen.width() - desktop.x()) * sx);
    const int bottom = qRound((screen.y() + screen.height() - desktop.y()) * sy);
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)) & QRect(QPoint(0, 0), picture);
}

QImage PortalScreenGrabber::desktop()
{
    if (cache_->valid)
        return cache_->desktop;
    const QString token = PortalRequest::newToken();
    const std::optional<QVariantMap> results
        = PortalRequest::call(bus_, kInterface, QStringLiteral("Screenshot"),
            { QString(),
                QVariantMap { { QStringLiteral("handle_token"), token },
                    { QStringLiteral("interactive"), false }, { QStringLiteral("modal"), false } } },
            token, kTimeoutMs);
    QImage picture;
    if (results) {
        const QUrl uri(results->value(QStringLiteral("uri")).toString());
        if (uri.isLocalFile()) {
            const QString file = uri.toLocalFile();
            picture.load(file);
            QFile::remove(file);
        }
    }
    // Every screen of one capture is cut from this picture; the next
    // capture asks again.
    cache_->desktop = picture;
    cache_->valid = true;
    QTimer::singleShot(0, [cache = cache_] { *cache = Cache(); });
    return picture;
}

} // namespace platform
