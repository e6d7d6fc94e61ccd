#pragma once

#include "translate/DrawPathInfo.h"

#include <QList>
#include <QWidget>

#include <optional>

class QPainter;
class SnipManager;

// The annotation layer laid over the selected area: keeps the committed
// shapes and the one being dragged and draws them in red. It takes no mouse
// input; the capture window drives it.
class DrawPathView : public QWidget {
    Q_OBJECT
public:
    DrawPathView(const SnipManager& manager, QWidget* parent);

    const QList<DrawPathInfo>& rectArray() const { return rectArray_; }
    void appendShape(const DrawPathInfo& shape) { rectArray_.append(shape); }
    const std::optional<DrawPathInfo>& currentInfo() const { return currentInfo_; }
    void setCurrentInfo(const DrawPathInfo& shape) { currentInfo_ = shape; }

    // Draws the committed shapes into a picture whose top left corner shows
    // the desktop point origin, clipped to clip (in the painter's
    // coordinates).
    void drawFinishComment(QPainter& painter, const QPointF& origin, const QRectF& clip) const;

    // One shape in red, with origin the desktop point at the painter's (0, 0).
    // Arrows shorter than 5 in both directions and rectangles or ellipses
    // narrower than 0.1 draw nothing.
    static void drawShape(QPainter& painter, const DrawPathInfo& shape, const QPointF& origin);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const SnipManager& manager_;
    QList<DrawPathInfo> rectArray_;
    // Replaced on every drag step; it stays after the shape is committed.
    std::optional<DrawPathInfo> currentInfo_;
};
