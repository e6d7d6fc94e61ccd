#include "translate/SnipUtil.h"

#include "platform/ScreenGrabber.h"

#include <QGuiApplication>
#include <QScreen>

bool SnipUtil::isPointInRect(const QPointF& point, const QRectF& rect)
{
    return point.x() >= rect.x() && point.x() < rect.x() + rect.width() && point.y() >= rect.y()
        && point.y() < rect.y() + rect.height();
}

double SnipUtil::pointDistance(const QPointF& a, const QPointF& b)
{
    const double dx = a.x() - b.x();
    const double dy = a.y() - b.y();
    return dx * dx + dy * dy;
}

QRectF SnipUtil::uniformRect(const QRectF& rect)
{
    double x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height();
    if (w < 0) {
        x += w;
        w = -w;
    }
    if (h < 0) {
        y += h;
        h = -h;
    }
    return QRectF(x, y, w, h);
}

QRectF SnipUtil::rectToZero(const QRectF& rect)
{
    return QRectF(QPointF(0, 0), rect.size());
}

QList<SnipUtil::ScreenArea> SnipUtil::screenAreas(platform::ScreenGrabber& grabber)
{
    QList<ScreenArea> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas.append(ScreenArea { screen, grabber.screenArea(*screen) });
    return areas;
}

QRectF SnipUtil::logicalRect(const QRect& devicePixels, const QList<ScreenArea>& screens)
{
    if (screens.isEmpty())
        return QRectF(devicePixels);
    const ScreenArea* holder = &screens.first();
    for (const ScreenArea& area : screens) {
        if (area.devicePixels.contains(devicePixels.topLeft())) {
            holder = &area;
            break;
        }
    }
    const double ratio = holder->screen->devicePixelRatio();
    const QPointF logicalOrigin = holder->screen->geometry().topLeft();
    const QPointF deviceOrigin = holder->devicePixels.isEmpty() ? logicalOrigin : QPointF(holder->devicePixels.topLeft());
    return QRectF(logicalOrigin + (QPointF(devicePixels.topLeft()) - deviceOrigin) / ratio,
        QSizeF(devicePixels.size()) / ratio);
}
