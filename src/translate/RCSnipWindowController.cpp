#include "translate/RCSnipWindowController.h"

#include "platform/Pasteboard.h"
#include "platform/ScreenGrabber.h"
#include "translate/DrawPathView.h"
#include "translate/SnipManager.h"
#include "translate/SnipUtil.h"
#include "translate/SnipView.h"
#include "translate/ToolContainer.h"

#include <QCursor>
#include <QDebug>
#include <QGuiApplication>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cmath>

namespace {

// A keyboard grab fails until the server has mapped the window; it is
// tried again this often, this many times.
constexpr int kKeyboardGrabRetryMs = 20;
constexpr int kKeyboardGrabTries = 50;

QRectF snipSquareAt(const QPointF& point)
{
    return QRectF(point, QSizeF(1, 1));
}

} // namespace

RCSnipWindowController::RCSnipWindowController(SnipManager& manager)
    : manager_(manager)
{
}

RCSnipWindowController::~RCSnipWindowController() = default;

void RCSnipWindowController::startCaptureWithScreen(QScreen* screen)
{
    screen_ = screen;
    screenFrame_ = QRectF(screen->geometry());
    doSnapshot();

    window_ = manager_.takeWindow(screen, *this);
    window_->setGeometry(screen->geometry());
    snipView_ = new SnipView(manager_, window_.get());
    snipView_->setGeometry(QRect(QPoint(0, 0), screen->geometry().size()));
    snipView_->setImage(originImage_);

    mouseChangeToken_ = manager_.notificationCenter().addObserver(SnipManager::kNotifyMouseLocationChange,
        [this](const platform::Notification& n) { onNotifyMouseChange(n); });

    if (QGuiApplication::platformName().startsWith(QLatin1StringView("wayland"))) {
        // Wayland places no window where a client asks: a full-screen
        // window on the chosen screen covers it.
        window_->winId();
        window_->windowHandle()->setScreen(screen);
        window_->showFullScreen();
    } else {
        window_->show();
    }
    window_->raise();
    captureAppScreen(QCursor::pos(screen));
}

void RCSnipWindowController::doSnapshot()
{
    // The screen's own pixels as the session places them: a picture the
    // server gives smaller than asked is kept as it is, never swapped for a
    // black one, so what exists is still shown and recognised. No picture
    // at all leaves the view black and the selection without a picture.
    const QRect device = manager_.screenArea(screen_);
    originImage_ = device.isEmpty() ? QImage() : manager_.screenGrabber().grab(device);
    if (originImage_.isNull())
        qWarning() << "The screen" << screen_->name() << "could not be read";
    else
        originImage_.setDevicePixelRatio(screen_->devicePixelRatio());
}

void RCSnipWindowController::takeKeyboard()
{
    QPointer<RCSnipWindow> window = window_.get();
    auto tries = std::make_shared<int>(0);
    // The attempt refers to itself weakly: only a pending retry keeps it, so
    // it goes once the grab is taken or given up.
    auto attempt = std::make_shared<std::function<void()>>();
    *attempt = [window, tries, self = std::weak_ptr<std::function<void()>>(attempt)]() {
        if (!window || !window->isVisible())
            return;
        window->activateWindow();
        if (window->windowHandle() && window->windowHandle()->setKeyboardGrabEnabled(true))
            return;
        if (++*tries >= kKeyboardGrabTries)
            return;
        if (const std::shared_ptr<std::function<void()>> again = self.lock())
            QTimer::singleShot(kKeyboardGrabRetryMs, window, [again]() { (*again)(); });
    };
    (*attempt)();
}

void RCSnipWindowController::close()
{
    mouseChangeToken_.reset();
    if (!window_)
        return;
    if (window_->windowHandle())
        window_->windowHandle()->setKeyboardGrabEnabled(false);
    window_->hide();
    // This session's content goes once the event that ended the session has
    // been handled (it may be a click on its toolbar); the window stays for
    // the next session.
    snipView_->hide();
    snipView_->deleteLater();
    manager_.keepWindow(screen_, std::move(window_));
}

void RCSnipWindowController::captureAppScreen(const QPointF& pointer)
{
    captureWindowRect_ = screenFrame_;
    const double screenArea = screenFrame_.width() * screenFrame_.height();
    for (const SnipManager::WindowRect& window : manager_.arrayRect()) {
        if (window.layer < 0)
            continue;
        if (!SnipUtil::isPointInRect(pointer, window.frame))
            continue;
        if (window.layer == 0 || window.frame.width() * window.frame.height() < screenArea) {
            captureWindowRect_ = window.frame;
            break;
        }
    }
    if (SnipUtil::isPointInRect(pointer, screenFrame_)) {
        redrawView(true);
        // The other screens drop their highlight.
        manager_.notificationCenter().post(SnipManager::kNotifyMouseLocationChange, {},
            QVariantMap { { SnipManager::kContextKey, QVariant::fromValue(quintptr(this)) } });
    } else {
        redrawView(false);
    }
}

void RCSnipWindowController::onNotifyMouseChange(const platform::Notification& notification)
{
    if (notification.userInfo.value(SnipManager::kContextKey).value<quintptr>() == quintptr(this))
        return;
    if (manager_.captureState() == SnipManager::Hover)
        redrawView(false);
}

void RCSnipWindowController::redrawView(bool withImage)
{
    captureWindowRect_ = captureWindowRect_.intersected(screenFrame_);
    auto same = [](const QRectF& a, const QRectF& b) {
        return int(a.x()) == int(b.x()) && int(a.y()) == int(b.y()) && int(a.width()) == int(b.width())
            && int(a.height()) == int(b.height());
    };
    // Pointer movement over one window draws nothing.
    if (withImage && snipView_->showsImage() && same(lastRect_, captureWindowRect_))
        return;
    if (!withImage && !snipView_->showsImage())
        return;
    snipView_->setArea(withImage, toWindow(captureWindowRect_));
    lastRect_ = captureWindowRect_;
}

QPointF RCSnipWindowController::dragPointCenter(int index) const
{
    return SnipView::handlePoint(index, captureWindowRect_);
}

int RCSnipWindowController::dragDirectionFromPoint(const QPointF& point) const
{
    const QRectF r = captureWindowRect_;
    if ((r.width() <= kSmallArea || r.height() <= kSmallArea) && SnipUtil::isPointInRect(point, r))
        return kMove;
    if (SnipUtil::isPointInRect(point, r.adjusted(kHandleReach, kHandleReach, -kHandleReach, -kHandleReach)))
        return kMove;
    if (!SnipUtil::isPointInRect(point, r.adjusted(-kHandleReach, -kHandleReach, kHandleReach, kHandleReach)))
        return kNothing;
    int nearest = kNothing;
    double best = kHandleReach * kHandleReach;
    for (int i = 0; i < 8; ++i) {
        const double distance = SnipUtil::pointDistance(dragPointCenter(i), point);
        if (distance < best) {
            best = distance;
            nearest = i;
        }
    }
    return nearest;
}

void RCSnipWindowController::mouseDown(const QPointF& point, int clickCount)
{
    const qint64 state = manager_.captureState();
    if (clickCount >= 2 && state >= SnipManager::Pressed) {
        // A double click copies the area and ends the session.
        onOK();
        return;
    }
    switch (state) {
    case SnipManager::Hover:
        startPoint_ = point;
        snipView_->setupTool();
        snipView_->toolContainer()->setToolClick([this](int code) { onToolClick(code); });
        snipView_->hideToolkit();
        manager_.setCaptureState(SnipManager::Pressed);
        break;
    case SnipManager::AreaSet:
        startPoint_ = point;
        captureWindowRect_ = SnipUtil::uniformRect(captureWindowRect_);
        dragWindowRect_ = captureWindowRect_;
        dragDirection_ = dragDirectionFromPoint(point);
        snipView_->hideToolkit();
        break;
    case SnipManager::Annotating:
        if (SnipUtil::isPointInRect(point, captureWindowRect_)) {
            rectBeginPoint_ = point;
            rectDrawing_ = true;
        }
        break;
    default:
        snipView_->hideToolkit();
        break;
    }
}

void RCSnipWindowController::mouseRightDown()
{
    manager_.endCapture({});
}

void RCSnipWindowController::cancelKey()
{
    manager_.endCapture({});
}

void RCSnipWindowController::mouseDragged(const QPointF& point)
{
    switch (manager_.captureState()) {
    case SnipManager::Pressed:
    case SnipManager::Dragging:
        endPoint_ = point;
        captureWindowRect_
            = snipSquareAt(startPoint_).united(snipSquareAt(endPoint_)).intersected(screenFrame_);
        redrawView(true);
        manager_.setCaptureState(SnipManager::Dragging);
        break;
    case SnipManager::AreaSet:
        if (dragDirection_ != kNothing)
            moveOrResize(point);
        break;
    case SnipManager::Annotating:
        if (rectDrawing_ && snipView_->pathView()) {
            rectEndPoint_ = point;
            snipView_->pathView()->setCurrentInfo(
                DrawPathInfo { rectBeginPoint_, rectEndPoint_, manager_.drawType() });
            snipView_->pathView()->update();
        }
        break;
    default:
        break;
    }
}

void RCSnipWindowController::mouseUp(const QPointF& point)
{
    switch (manager_.captureState()) {
    case SnipManager::Pressed:
    case SnipManager::Dragging:
        manager_.setCaptureState(SnipManager::AreaSet);
        // A click without a drag keeps the highlighted window (or screen).
        if (!snipView_->showsImage())
            redrawView(true);
        [[fallthrough]];
    case SnipManager::AreaSet:
        snipView_->showToolkit();
        snipView_->hideTip();
        snipView_->update();
        break;
    case SnipManager::Annotating:
        if (rectDrawing_) {
            rectDrawing_ = false;
            rectEndPoint_ = point;
            if (DrawPathView* layer = snipView_->pathView()) {
                layer->appendShape(DrawPathInfo { rectBeginPoint_, rectEndPoint_, manager_.drawType() });
                layer->update();
            }
            snipView_->update(toWindow(captureWindowRect_).toAlignedRect());
        }
        break;
    default:
        break;
    }
}

void RCSnipWindowController::mouseMoved(const QPointF& point)
{
    if (manager_.captureState() == SnipManager::Hover)
        captureAppScreen(point);
}

void RCSnipWindowController::moveOrResize(const QPointF& pointer)
{
    endPoint_ = pointer;
    const double dx = pointer.x() - startPoint_.x();
    const double dy = pointer.y() - startPoint_.y();
    const QRectF before = dragWindowRect_;
    double x = before.x(), y = before.y(), w = before.width(), h = before.height();
    // Handles 0 to 2 move the top edge, 5 to 7 the bottom one; 0, 3 and 5 the
    // left edge, 2, 4 and 7 the right one.
    switch (dragDirection_) {
    case 0:
        x += dx, w -= dx, y += dy, h -= dy;
        break;
    case 1:
        y += dy, h -= dy;
        break;
    case 2:
        w += dx, y += dy, h -= dy;
        break;
    case 3:
        x += dx, w -= dx;
        break;
    case 4:
        w += dx;
        break;
    case 5:
        x += dx, w -= dx, h += dy;
        break;
    case 6:
        h += dy;
        break;
    case 7:
        w += dx, h += dy;
        break;
    case kMove: {
        x += dx, y += dy;
        const QRectF& f = screenFrame_;
        if (!f.contains(QRectF(x, y, w, h))) {
            x = std::max(x, f.x());
            y = std::max(y, f.y());
            x = std::min(x, f.x() + f.width() - w);
            y = std::min(y, f.y() + f.height() - h);
        }
        endPoint_ = startPoint_ + QPointF(x - before.x(), y - before.y());
        break;
    }
    default:
        return;
    }
    if (int(w) == 0)
        w = 1;
    if (int(h) == 0)
        h = 1;
    dragWindowRect_ = QRectF(x, y, w, h);
    captureWindowRect_ = SnipUtil::uniformRect(dragWindowRect_);
    startPoint_ = endPoint_;
    redrawView(true);
    snipView_->showTip(pointer - screenFrame_.topLeft());
}

void RCSnipWindowController::onToolClick(int code)
{
    switch (code) {
    case ToolContainer::Cancel:
        manager_.endCapture({});
        break;
    case ToolContainer::Ok:
        onOK();
        break;
    case ToolContainer::Export: {
        // Every capture window goes before the file dialog opens.
        const QImage picture = getCaptureImage();
        SnipManager& manager = manager_;
        manager.endCapture({});
        manager.exportImage(picture);
        break;
    }
    case ToolContainer::Rectangle:
    case ToolContainer::Ellipse:
    case ToolContainer::Arrow:
        manager_.setDrawType(code - ToolContainer::Rectangle);
        manager_.setCaptureState(SnipManager::Annotating);
        snipView_->setupDrawPath();
        snipView_->update();
        break;
    case ToolContainer::Translate: {
        const QImage picture = getCaptureImage();
        const SnipManager::SnipCallback callback = manager_.snipCallback();
        manager_.endCapture(picture);
        if (callback)
            callback(picture);
        break;
    }
    default:
        break;
    }
}

void RCSnipWindowController::onOK()
{
    const QImage picture = getCaptureImage();
    if (!picture.isNull())
        manager_.pasteboard().setImage(picture);
    manager_.endCapture({});
}

QImage RCSnipWindowController::getCaptureImage() const
{
    const QRectF area = captureWindowRect_.intersected(screenFrame_);
    if (area.isEmpty() || originImage_.isNull())
        return {};
    const QRectF inWindow = toWindow(area);
    QImage canvas = originImage_.copy();
    canvas.setDevicePixelRatio(originImage_.devicePixelRatio());
    if (const DrawPathView* layer = snipView_ ? snipView_->pathView() : nullptr) {
        QPainter painter(&canvas);
        layer->drawFinishComment(painter, screenFrame_.topLeft(), inWindow);
    }
    const double ratio = originImage_.devicePixelRatio();
    const QRect pixels = QRectF(inWindow.topLeft() * ratio, inWindow.size() * ratio).toRect() & canvas.rect();
    if (pixels.isEmpty())
        return {};
    QImage picture = canvas.copy(pixels);
    picture.setDevicePixelRatio(ratio);
    return picture;
}
