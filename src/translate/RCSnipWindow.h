#pragma once

#include <QPointF>
#include <QWidget>

// Receives the capture window's pointer events, in the desktop's logical
// coordinates.
class MouseEventProtocol {
public:
    virtual ~MouseEventProtocol() = default;
    virtual void mouseDown(const QPointF& point, int clickCount) = 0;
    virtual void mouseRightDown() = 0;
    virtual void mouseUp(const QPointF& point) = 0;
    virtual void mouseDragged(const QPointF& point) = 0;
    virtual void mouseMoved(const QPointF& point) = 0;
    // Escape: the session ends.
    virtual void cancelKey() = 0;
};

// The frameless, always-on-top window that covers one screen during a
// capture session. It passes its pointer events and Escape to its delegate.
// Kept hidden between sessions, so a session starts without creating it.
class RCSnipWindow : public QWidget {
    Q_OBJECT
public:
    explicit RCSnipWindow(MouseEventProtocol& delegate);
    // The next session's delegate.
    void setDelegate(MouseEventProtocol& delegate) { delegate_ = &delegate; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    MouseEventProtocol* delegate_;
};
