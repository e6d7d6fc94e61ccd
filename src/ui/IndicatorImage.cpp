#include "ui/IndicatorImage.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace indicator {

const QColor kInk(0xe8, 0xec, 0xf4);
const QColor kGood(0x3c, 0xc4, 0x7c);
const QColor kLow(0xf0, 0x9a, 0x3e);
const QColor kEmpty(0xe0, 0x55, 0x55);
const QColor kOff(0x8a, 0x93, 0xa6);

QPixmap canvas(int width, int height, qreal ratio)
{
    QPixmap pixmap(qRound(width * ratio), qRound(height * ratio));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

QPixmap battery(int level, bool disconnected, qreal ratio)
{
    QPixmap pixmap = canvas(30, 16, ratio);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(disconnected ? kOff : kInk, 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(1, 2, 25, 12), 3, 3);
    p.setBrush(disconnected ? kOff : kInk);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(27, 6, 2.5, 4), 1, 1);
    if (disconnected) {
        p.setPen(QPen(kOff, 1.5));
        p.drawLine(QPointF(8, 4.5), QPointF(19, 11.5));
        return pixmap;
    }
    const QColor fill = level <= 10 ? kEmpty : level <= 20 ? kLow : kGood;
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(3, 4, 21.0 * level / 100.0, 8), 1.5, 1.5);
    return pixmap;
}

QPixmap connection(int mode, qreal ratio)
{
    QPixmap pixmap = canvas(18, 18, ratio);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor color = mode == 0 ? kOff : kGood;
    p.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (mode == 2 || mode == 3) { // the Bluetooth rune
        QPainterPath path;
        path.moveTo(5, 5.5);
        path.lineTo(13, 12.5);
        path.lineTo(9, 16);
        path.lineTo(9, 2);
        path.lineTo(13, 5.5);
        path.lineTo(5, 12.5);
        p.drawPath(path);
    } else if (mode == 4) { // a receiver plug
        p.drawRoundedRect(QRectF(5, 7, 8, 9), 1.5, 1.5);
        p.drawRect(QRectF(6.5, 2, 5, 5));
    } else { // a ring with a bar: no link
        p.drawEllipse(QRectF(3, 3, 12, 12));
        p.drawLine(QPointF(5, 13), QPointF(13, 5));
    }
    return pixmap;
}

} // namespace indicator

QPixmap IndicatorImage::imageNamed(const QString& name, qreal devicePixelRatio)
{
    if (name == QLatin1String("disconnected"))
        return indicator::battery(0, true, devicePixelRatio);
    if (name.startsWith(QLatin1String("battery"))) {
        bool ok = false;
        const int level = name.mid(7).toInt(&ok);
        if (ok && level >= 0 && level <= 100 && level % 10 == 0)
            return indicator::battery(level, false, devicePixelRatio);
        return {};
    }
    if (name.startsWith(QLatin1String("connect_mode"))) {
        bool ok = false;
        const int mode = name.mid(12).toInt(&ok);
        if (ok && (mode == 0 || (mode >= 2 && mode <= 4)))
            return indicator::connection(mode, devicePixelRatio);
    }
    return {};
}

long IndicatorImage::batteryLevel(float percent)
{
    if (std::isnan(percent) || percent < 0)
        return 0;
    if (percent >= 90)
        return 100;
    // 0 to under 10 gives 10, 10 to under 20 gives 20, ...
    return (static_cast<long>(percent / 10) + 1) * 10;
}
