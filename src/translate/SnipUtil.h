#pragma once

#include <QPointF>
#include <QRect>
#include <QRectF>

class QScreen;

// Geometry helpers of the capture tool. Every point and rectangle is in the
// desktop's logical coordinates (origin at the top left, y downwards) unless
// said otherwise.
class SnipUtil {
public:
    // Inside, or on the left or top edge (not the right or bottom one).
    static bool isPointInRect(const QPointF& point, const QRectF& rect);
    // Squared distance: no square root, for comparisons only.
    static double pointDistance(const QPointF& a, const QPointF& b);
    // The same area with non-negative width and height.
    static QRectF uniformRect(const QRectF& rect);

    // A screen's area in the desktop's device pixels. The top left corner
    // stays where it is (that is how Qt places scaled screens), the size is
    // scaled by the screen's own ratio.
    static QRect devicePixelRect(const QScreen& screen);
    // A rectangle in device pixels (a window's frame from the window list)
    // in logical coordinates, by the ratio of the screen that holds its top
    // left corner (the first screen when none does).
    static QRectF logicalRect(const QRect& devicePixels);
};
