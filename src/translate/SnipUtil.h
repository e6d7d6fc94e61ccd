#pragma once

#include <QList>
#include <QPointF>
#include <QRect>
#include <QRectF>

class QScreen;

namespace platform {
class ScreenGrabber;
}

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

    // A rectangle of the same size at the origin.
    static QRectF rectToZero(const QRectF& rect);

    // A screen with its place in the desktop's device pixels, as the
    // session's screen reader knows it.
    struct ScreenArea {
        const QScreen* screen = nullptr;
        QRect devicePixels;
    };
    static QList<ScreenArea> screenAreas(platform::ScreenGrabber& grabber);
    // A rectangle in device pixels (a window's frame from the window list)
    // in logical coordinates, by the screen whose area holds its top left
    // corner (the first screen when none does), scaled by that screen's
    // ratio from the screen's corner.
    static QRectF logicalRect(const QRect& devicePixels, const QList<ScreenArea>& screens);
};
