#pragma once

#include "platform/NotificationCenter.h"
#include "translate/RCSnipWindow.h"

#include <QImage>
#include <QObject>
#include <QPointF>
#include <QRectF>

#include <memory>

class QScreen;
class SnipManager;
class SnipView;

// Runs the selection on one screen during a capture session: highlights
// the window under the pointer, lets a drag draw a new area, moves and
// resizes a set area by its inside and its eight handles, draws shapes in
// the annotation state and turns the toolbar's codes into actions. All
// points are in the desktop's logical coordinates. Owned by SnipManager.
class RCSnipWindowController : public QObject, public MouseEventProtocol {
    Q_OBJECT
public:
    // What a drag of a set area does: handle 0 to 7, move, or nothing.
    static constexpr int kMove = 8;
    static constexpr int kNothing = -1;
    // Distances of the hit test.
    static constexpr double kHandleReach = 8;
    static constexpr double kSmallArea = 16;

    explicit RCSnipWindowController(SnipManager& manager);
    ~RCSnipWindowController() override;

    // Grabs this screen's picture and shows the window over it.
    void startCaptureWithScreen(QScreen* screen);
    void takeKeyboard();
    void close();

    // The hover step: the frontmost listed window under the pointer, else
    // the whole screen.
    void captureAppScreen(const QPointF& pointer);
    QPointF dragPointCenter(int index) const;
    int dragDirectionFromPoint(const QPointF& point) const;

    void mouseDown(const QPointF& point, int clickCount) override;
    void mouseRightDown() override;
    void mouseUp(const QPointF& point) override;
    void mouseDragged(const QPointF& point) override;
    void mouseMoved(const QPointF& point) override;
    void cancelKey() override;

    // A toolbar code: cancel, OK, export, a shape tool or translate.
    void onToolClick(int code);
    // Copies the picture and ends the session.
    void onOK();
    // The selected area of the screen picture with the committed shapes
    // drawn in; null when the area lies off this screen.
    QImage getCaptureImage() const;

    QScreen* screen() const { return screen_; }
    RCSnipWindow* window() const { return window_.get(); }
    SnipView* snipView() const { return snipView_; }
    QRectF captureWindowRect() const { return captureWindowRect_; }
    QRectF dragWindowRect() const { return dragWindowRect_; }
    int dragDirection() const { return dragDirection_; }
    const QImage& originImage() const { return originImage_; }
    QRectF screenFrame() const { return screenFrame_; }

private:
    void doSnapshot();
    // Publishes the area (clipped to this screen) to the view; without an
    // image the area disappears from this screen.
    void redrawView(bool withImage);
    void onNotifyMouseChange(const platform::Notification& notification);
    void moveOrResize(const QPointF& pointer);
    QRectF toWindow(const QRectF& rect) const { return rect.translated(-screenFrame_.topLeft()); }

    SnipManager& manager_;
    QScreen* screen_ = nullptr;
    QRectF screenFrame_;
    std::unique_ptr<RCSnipWindow> window_;
    SnipView* snipView_ = nullptr;
    QImage originImage_;
    QRectF captureWindowRect_;
    QRectF dragWindowRect_;
    QRectF lastRect_;
    QPointF startPoint_;
    QPointF endPoint_;
    int dragDirection_ = kNothing;
    QPointF rectBeginPoint_;
    QPointF rectEndPoint_;
    bool rectDrawing_ = false;
    platform::ObserverToken mouseChangeToken_;
};
