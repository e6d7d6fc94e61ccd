#include "translate/DrawPathView.h"

#include "translate/SnipManager.h"
#include "translate/SnipUtil.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

DrawPathView::DrawPathView(const SnipManager& manager, QWidget* parent)
    : QWidget(parent)
    , manager_(manager)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
}

void DrawPathView::paintEvent(QPaintEvent*)
{
    if (manager_.captureState() != SnipManager::Annotating)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF origin = mapToGlobal(QPointF(0, 0));
    for (const DrawPathInfo& shape : rectArray_)
        drawShape(painter, shape, origin);
    if (currentInfo_)
        drawShape(painter, *currentInfo_, origin);
}

void DrawPathView::drawFinishComment(QPainter& painter, const QPointF& origin, const QRectF& clip) const
{
    painter.save();
    painter.setClipRect(clip);
    painter.setRenderHint(QPainter::Antialiasing);
    for (const DrawPathInfo& shape : rectArray_)
        drawShape(painter, shape, origin);
    painter.restore();
}

void DrawPathView::drawShape(QPainter& painter, const DrawPathInfo& shape, const QPointF& origin)
{
    const QPointF start = shape.startPoint - origin;
    const QPointF delta = shape.endPoint - shape.startPoint;
    QPen pen(Qt::red, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.save();
    painter.setPen(pen);
    switch (shape.drawType) {
    case DrawPathInfo::Arrow: {
        if (std::abs(std::trunc(delta.x())) <= 4 && std::abs(std::trunc(delta.y())) <= 4)
            break;
        const double length = std::hypot(delta.x(), delta.y());
        QPainterPath arrow;
        arrow.moveTo(0, 0);
        arrow.lineTo(length, 0);
        arrow.lineTo(length - 8, 5);
        arrow.lineTo(length - 2, 0);
        arrow.lineTo(length - 8, -5);
        arrow.lineTo(length, 0);
        arrow.closeSubpath();
        QTransform placement;
        placement.translate(start.x(), start.y());
        placement.rotateRadians(std::atan2(delta.y(), delta.x()));
        const QPainterPath placed = placement.map(arrow);
        painter.setBrush(Qt::red);
        painter.drawPath(placed);
        break;
    }
    case DrawPathInfo::Ellipse:
    case DrawPathInfo::Rectangle: {
        const QRectF area = SnipUtil::uniformRect(QRectF(start, QSizeF(delta.x(), delta.y())));
        if (area.width() * area.width() < 0.01)
            break;
        painter.setBrush(Qt::NoBrush);
        if (shape.drawType == DrawPathInfo::Ellipse)
            painter.drawEllipse(area);
        else
            painter.drawRect(area);
        break;
    }
    default:
        break;
    }
    painter.restore();
}
