#include "core/ArtHUDView.h"

#include <QPainter>
#include <QPainterPath>

ArtHUDView::ArtHUDView(QWidget* parent)
    : QWidget(parent,
        Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setObjectName(QStringLiteral("artHUDView"));
}

void ArtHUDView::setCornerRadius(double radius)
{
    cornerRadius_ = radius;
    updateMask();
    update();
}

void ArtHUDView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath panel;
    panel.addRoundedRect(QRectF(rect()), cornerRadius_, cornerRadius_);
    painter.fillPath(panel, Qt::black);
}

void ArtHUDView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    updateMask();
}

void ArtHUDView::updateMask()
{
    QPainterPath panel;
    panel.addRoundedRect(QRectF(rect()), cornerRadius_, cornerRadius_);
    setMask(QRegion(panel.toFillPolygon().toPolygon()));
}
