#include "core/ArtHUDView.h"

#include <QBitmap>
#include <QGraphicsOpacityEffect>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>

#include <utility>

namespace art_hud_view {

// The black rounded panel, of the window's corner radius.
class Panel final : public QWidget {
public:
    Panel(ArtHUDView& window)
        : QWidget(&window)
        , window_(window)
    {
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath panel;
        panel.addRoundedRect(QRectF(rect()), window_.cornerRadius(), window_.cornerRadius());
        painter.fillPath(panel, Qt::black);
    }

private:
    ArtHUDView& window_;
};

} // namespace art_hud_view

ArtHUDView::ArtHUDView(QWidget* parent)
    : QWidget(
        parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
    , panel_(new art_hud_view::Panel(*this))
    , alpha_(new QGraphicsOpacityEffect(panel_))
    , fade_(new QPropertyAnimation(alpha_, "opacity", this))
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setObjectName(QStringLiteral("artHUDView"));
    alpha_->setOpacity(1.0);
    panel_->setGraphicsEffect(alpha_);
    fade_->setDuration(kFadeMilliseconds);
    QObject::connect(fade_, &QPropertyAnimation::finished, this, [this] {
        if (const std::function<void()> done = std::exchange(fadeDone_, {}))
            done();
    });
}

void ArtHUDView::setCornerRadius(double radius)
{
    cornerRadius_ = radius;
    updateMask();
    panel_->update();
}

double ArtHUDView::alphaValue() const
{
    return alpha_->opacity();
}

void ArtHUDView::setAlphaValue(double alpha)
{
    fade_->stop();
    fadeDone_ = {};
    alpha_->setOpacity(alpha);
}

void ArtHUDView::fadeTo(double alpha, std::function<void()> done)
{
    // A fade under way gives way; its end is not reached, so its `done` never runs.
    fade_->stop();
    fadeDone_ = std::move(done);
    fade_->setStartValue(alpha_->opacity());
    fade_->setEndValue(alpha);
    fade_->start();
}

void ArtHUDView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    panel_->setGeometry(rect());
    updateMask();
}

void ArtHUDView::updateMask()
{
    if (size().isEmpty())
        return;
    // The mask keeps every pixel the antialiased panel touches, its faint
    // edge pixels included: a mask cut at the pixel centres would clip the
    // soft edge and leave a jagged corner. Without a compositor those edge
    // pixels blend into black, the panel's own colour.
    QImage coverage(size(), QImage::Format_ARGB32_Premultiplied);
    coverage.fill(Qt::transparent);
    {
        QPainter painter(&coverage);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath panel;
        panel.addRoundedRect(QRectF(rect()), cornerRadius_, cornerRadius_);
        painter.fillPath(panel, Qt::black);
    }
    setMask(QBitmap::fromImage(coverage.createMaskFromColor(qRgba(0, 0, 0, 0), Qt::MaskInColor)));
}
