#include "translate/SnipView.h"

#include "translate/DrawPathView.h"
#include "translate/SimpleLabelView.h"
#include "translate/SnipManager.h"
#include "translate/ToolContainer.h"

#include <QPaintEvent>
#include <QPainter>

#include <cmath>

namespace {

constexpr int kTipWidth = 100;
constexpr int kTipHeight = 25;
// The toolbar stands this far below the area.
constexpr int kToolbarGap = 2;

} // namespace

SnipView::SnipView(const SnipManager& manager, QWidget* parent)
    : QWidget(parent)
    , manager_(manager)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void SnipView::setImage(const QImage& origin)
{
    origin_ = origin;
    update();
}

void SnipView::setArea(bool showImage, const QRectF& drawingRect)
{
    if (showImage == showImage_ && drawingRect == drawingRect_)
        return;
    // Only the old and the new area change, with their border and handles.
    QRegion changed;
    if (showImage_)
        changed += areaBounds(drawingRect_);
    if (showImage)
        changed += areaBounds(drawingRect);
    showImage_ = showImage;
    drawingRect_ = drawingRect;
    update(changed);
}

QRect SnipView::areaBounds(const QRectF& area) const
{
    const double reach = kHandleSize / 2.0 + 2;
    return area.intersected(QRectF(rect())).adjusted(-reach, -reach, reach, reach).toAlignedRect();
}

QPointF SnipView::handlePoint(int index, const QRectF& r)
{
    const double x = r.x(), y = r.y(), w = r.width(), h = r.height();
    switch (index) {
    case 0:
        return { x, y };
    case 1:
        return { x + w / 2, y };
    case 2:
        return { x + w, y };
    case 3:
        return { x, y + h / 2 };
    case 4:
        return { x + w, y + h / 2 };
    case 5:
        return { x, y + h };
    case 6:
        return { x + w / 2, y + h };
    case 7:
        return { x + w, y + h };
    default:
        return { 0, 0 };
    }
}

QRectF SnipView::pointRect(int index, const QRectF& rect)
{
    const QPointF p = handlePoint(index, rect);
    return QRectF(p.x() - kHandleSize / 2.0, p.y() - kHandleSize / 2.0, kHandleSize, kHandleSize);
}

void SnipView::setupTool()
{
    // A press of an earlier step of the same session keeps its bar.
    if (toolContainer_)
        return;
    toolContainer_ = new ToolContainer(manager_, this);
    toolContainer_->hide();
    tipView_ = new SimpleLabelView(this);
    tipView_->hide();
}

void SnipView::setupDrawPath()
{
    if (pathView_)
        return;
    pathView_ = new DrawPathView(manager_, this);
    pathView_->setGeometry(drawingRect_.intersected(QRectF(rect())).toAlignedRect());
    // Under the toolbar and the tip, so both stay usable over the area.
    pathView_->lower();
    pathView_->show();
}

void SnipView::showToolkit()
{
    if (!toolContainer_)
        return;
    const QRectF r = drawingRect_.intersected(QRectF(rect()));
    const int x = int(std::max<double>(ToolContainer::kWidth, r.x() + r.width()) - ToolContainer::kWidth);
    const int y = int(std::min<double>(r.y() + r.height() + kToolbarGap, height() - ToolContainer::kHeight));
    const QRect frame(x, std::max(0, y), ToolContainer::kWidth, ToolContainer::kHeight);
    if (toolContainer_->geometry() != frame)
        toolContainer_->setGeometry(frame);
    toolContainer_->raise();
    toolContainer_->show();
}

void SnipView::hideToolkit()
{
    if (toolContainer_)
        toolContainer_->hide();
}

void SnipView::showTip(const QPointF& pointer)
{
    if (!tipView_)
        return;
    double x = pointer.x() > width() - kTipWidth ? pointer.x() - kTipWidth : pointer.x();
    double y = pointer.y() > height() - kTipHeight ? pointer.y() - kTipHeight : pointer.y();
    x = std::max(x, 0.0);
    y = std::max(y, 0.0);
    const QRectF r = drawingRect_.intersected(QRectF(rect()));
    tipView_->setText(QStringLiteral("%1X%2").arg(int(r.width())).arg(int(r.height())));
    tipView_->setGeometry(int(x), int(y), kTipWidth, kTipHeight);
    tipView_->raise();
    tipView_->show();
}

void SnipView::hideTip()
{
    if (tipView_)
        tipView_->hide();
}

void SnipView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRegion exposed = event->region();
    if (origin_.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // The picture once, where exposed, then the dimming over what lies
    // outside the area: no dimmed copy of the screen is ever made.
    const double ratio = origin_.devicePixelRatio();
    for (const QRect& r : exposed) {
        const QRectF source(r.x() * ratio, r.y() * ratio, r.width() * ratio, r.height() * ratio);
        painter.drawImage(QRectF(r), origin_, source);
    }
    const QRectF r = drawingRect_.intersected(QRectF(rect()));
    const bool area = showImage_ && !r.isEmpty();
    QRegion dimmed = exposed;
    if (area) {
        // The pixels wholly inside the area keep their picture; those it
        // covers in part lie under its border.
        const QRect inner(QPoint(int(std::ceil(r.left())), int(std::ceil(r.top()))),
            QPoint(int(std::floor(r.right())) - 1, int(std::floor(r.bottom())) - 1));
        dimmed -= QRegion(inner);
    }
    for (const QRect& d : dimmed)
        painter.fillRect(d, QColor::fromRgba(kDimColor));
    if (!area)
        return;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor::fromRgb(kBorderColor), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(r);
    if (manager_.captureState() == SnipManager::AreaSet) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        for (int i = 0; i < 8; ++i)
            painter.drawEllipse(pointRect(i, r));
    }
}
