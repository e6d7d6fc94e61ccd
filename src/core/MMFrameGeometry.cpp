#include "core/MMFrameGeometry.h"

MMFrameGeometry::MMFrameGeometry(const QRectF& frame, bool flipped)
    : m_frame(frame)
    , m_flipped(flipped)
{
}

double MMFrameGeometry::top() const
{
    return m_flipped ? y() : y() + height();
}

void MMFrameGeometry::setTop(double value)
{
    setY(m_flipped ? value : value - height());
}

double MMFrameGeometry::bottom() const
{
    return m_flipped ? y() + height() : y();
}

void MMFrameGeometry::setBottom(double value)
{
    setY(m_flipped ? value - height() : value);
}

void MMFrameGeometry::setCenter(const QPointF& point)
{
    setCenterX(point.x());
    setCenterY(point.y());
}

void MMFrameGeometry::setTopLeft(const QPointF& point)
{
    setX(point.x());
    setTop(point.y());
}

void MMFrameGeometry::setLeftBottom(const QPointF& point)
{
    setX(point.x());
    setBottom(point.y());
}

void MMFrameGeometry::setBottomRight(const QPointF& point)
{
    setRight(point.x());
    setBottom(point.y());
}

void MMFrameGeometry::setTopRight(const QPointF& point)
{
    setRight(point.x());
    setTop(point.y());
}
