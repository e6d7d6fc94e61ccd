#pragma once

#include <QImage>
#include <QRectF>
#include <QWidget>

class DrawPathView;
class SimpleLabelView;
class SnipManager;
class ToolContainer;

// The capture window's content: the dimmed screen picture, the selected
// area undimmed with its border and handles, the toolbar under the area, the
// size tip and the annotation layer. Coordinates are the window's (logical,
// origin at the screen's top left). It takes no pointer input itself: its
// events go on to the window.
class SnipView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHandleSize = 10;
    static constexpr QRgb kBorderColor = 0x1191FE;
    // Laid over the picture outside the area: black at 70 %.
    static constexpr QRgb kDimColor = qRgba(0, 0, 0, 179);

    SnipView(const SnipManager& manager, QWidget* parent);

    // The screen picture (device pixels, its ratio set), shown dimmed
    // outside the area.
    void setImage(const QImage& origin);
    // Whether the area shows the picture undimmed; false shows no area.
    bool showsImage() const { return showImage_; }
    QRectF drawingRect() const { return drawingRect_; }
    void setArea(bool showImage, const QRectF& drawingRect);

    ToolContainer* toolContainer() const { return toolContainer_; }
    SimpleLabelView* tipView() const { return tipView_; }
    DrawPathView* pathView() const { return pathView_; }

    void setupTool();
    void setupDrawPath();
    void showToolkit();
    void hideToolkit();
    // The size tip near the pointer (window coordinates), kept on the screen.
    void showTip(const QPointF& pointer);
    void hideTip();
    // The square of side 10 centred on handle index of rect.
    static QRectF pointRect(int index, const QRectF& rect);
    // Handle index of rect: 0 to 2 along the top edge, 3 and 4 the middles
    // of the left and right edges, 5 to 7 along the bottom; (0, 0) for any
    // other index.
    static QPointF handlePoint(int index, const QRectF& rect);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // What painting an area touches: the area with its border and handles.
    QRect areaBounds(const QRectF& area) const;

    const SnipManager& manager_;
    QImage origin_;
    bool showImage_ = false;
    QRectF drawingRect_;
    ToolContainer* toolContainer_ = nullptr;
    SimpleLabelView* tipView_ = nullptr;
    DrawPathView* pathView_ = nullptr;
};
