#pragma once

#include <QPointF>

// One annotation shape: where its drag began and ended, in the desktop's
// logical coordinates, and what it draws.
struct DrawPathInfo {
    enum Type : qint32 { Rectangle = 0, Ellipse = 1, Arrow = 2 };

    QPointF startPoint;
    QPointF endPoint;
    // 0 rectangle, 1 ellipse, 2 arrow; other values draw nothing.
    qint32 drawType = Rectangle;
};
