#include "translate/SnipUtil.h"

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

QRect SnipUtil::devicePixelRect(const QScreen& screen)
{
    const QRect logical = screen.geometry();
    const double ratio = screen.devicePixelRatio();
    return QRect(logical.topLeft(), QSize(qRound(logical.width() * ratio), qRound(logical.height() * ratio)));
}

QRectF SnipUtil::logicalRect(const QRect& devicePixels)
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    const QScreen* holder = screens.isEmpty() ? nullptr : screens.first();
    for (const QScreen* screen : screens) {
        if (devicePixelRect(*screen).contains(devicePixels.topLeft())) {
            holder = screen;
            break;
        }
    }
    if (!holder)
        return QRectF(devicePixels);
    const double ratio = holder->devicePixelRatio();
    const QPointF origin = holder->geometry().topLeft();
    return QRectF(
        origin + (QPointF(devicePixels.topLeft()) - origin) / ratio, QSizeF(devicePixels.size()) / ratio);
}
