#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

// Edge, corner and centre accessors over a frame (origin and size in its parent's
// coordinates). "Top" and "bottom" depend on which way the y axis runs: in a flipped frame
// y grows downwards, as in Qt's widget and screen coordinates; in one that is not flipped
// y grows upwards, as in bottom-left-origin screen coordinates. Each setter moves or
// resizes only what it names and keeps the rest of the frame.
class MMFrameGeometry {
public:
    MMFrameGeometry(const QRectF& frame, bool flipped);

    QRectF frame() const { return m_frame; }
    bool flipped() const { return m_flipped; }

    double x() const { return m_frame.x(); }
    void setX(double value) { m_frame.moveLeft(value); }
    double left() const { return x(); }
    void setLeft(double value) { setX(value); }
    double y() const { return m_frame.y(); }
    void setY(double value) { m_frame.moveTop(value); }
    double width() const { return m_frame.width(); }
    void setWidth(double value) { m_frame.setWidth(value); }
    double height() const { return m_frame.height(); }
    void setHeight(double value) { m_frame.setHeight(value); }

    double top() const;
    void setTop(double value);
    double bottom() const;
    void setBottom(double value);
    double right() const { return x() + width(); }
    void setRight(double value) { setX(value - width()); }
    double centerX() const { return x() + width() / 2; }
    void setCenterX(double value) { setX(value - width() / 2); }
    double centerY() const { return y() + height() / 2; }
    void setCenterY(double value) { setY(value - height() / 2); }

    QPointF origin() const { return m_frame.topLeft(); }
    void setOrigin(const QPointF& point) { m_frame.moveTopLeft(point); }
    QSizeF size() const { return m_frame.size(); }
    void setSize(const QSizeF& size) { m_frame.setSize(size); }
    QPointF center() const { return { centerX(), centerY() }; }
    void setCenter(const QPointF& point);
    // The name windows use for the centre.
    QPointF centerPoint() const { return center(); }
    void setCenterPoint(const QPointF& point) { setCenter(point); }

    QPointF topLeft() const { return { x(), top() }; }
    void setTopLeft(const QPointF& point);
    QPointF leftBottom() const { return { x(), bottom() }; }
    void setLeftBottom(const QPointF& point);
    QPointF bottomRight() const { return { right(), bottom() }; }
    void setBottomRight(const QPointF& point);
    QPointF topRight() const { return { right(), top() }; }
    void setTopRight(const QPointF& point);

private:
    QRectF m_frame;
    bool m_flipped;
};
