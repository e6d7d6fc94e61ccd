#include "translate/RCSnipWindow.h"

#include <QKeyEvent>
#include <QMouseEvent>

RCSnipWindow::RCSnipWindow(MouseEventProtocol& delegate)
    : QWidget(nullptr,
        Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool | Qt::X11BypassWindowManagerHint
            | Qt::NoDropShadowWindowHint)
    , delegate_(&delegate)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setCursor(Qt::CrossCursor);
    setFocusPolicy(Qt::StrongFocus);
}

void RCSnipWindow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton)
        delegate_->mouseRightDown();
    else if (event->button() == Qt::LeftButton)
        delegate_->mouseDown(event->globalPosition(), 1);
}

void RCSnipWindow::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton)
        delegate_->mouseRightDown();
    else if (event->button() == Qt::LeftButton)
        delegate_->mouseDown(event->globalPosition(), 2);
}

void RCSnipWindow::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        delegate_->mouseUp(event->globalPosition());
}

void RCSnipWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        delegate_->mouseDragged(event->globalPosition());
    else
        delegate_->mouseMoved(event->globalPosition());
}

void RCSnipWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        hide();
        delegate_->cancelKey();
        return;
    }
    QWidget::keyPressEvent(event);
}
