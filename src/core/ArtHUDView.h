#pragma once

#include <QWidget>

#include <functional>

class QGraphicsOpacityEffect;
class QPropertyAnimation;

// The HUD's window: borderless, see-through around a black rounded panel,
// floating above its parent window and never taking the keyboard focus.
// What it shows goes into contentView(), the panel. The panel's alpha fades
// rather than jumps; it is drawn into the window itself (not left to the
// window system's window opacity), so the fade shows on every desktop,
// with or without a compositor.
class ArtHUDView : public QWidget {
public:
    static constexpr double kInitialCornerRadius = 20;
    // How long a fade takes.
    static constexpr int kFadeMilliseconds = 250;

    explicit ArtHUDView(QWidget* parent = nullptr);

    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius);

    // The panel that holds the window's content.
    QWidget* contentView() const { return panel_; }

    // The panel's alpha, 0 (nothing) to 1.
    double alphaValue() const;
    void setAlphaValue(double alpha);
    // Animates the alpha from where it is to `alpha`; `done` runs when it
    // gets there, not when a later fade takes over.
    void fadeTo(double alpha, std::function<void()> done = {});
    QPropertyAnimation* fadeAnimation() const { return fade_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Without a compositor the see-through corners would show black: the
    // window is cut to its rounded shape instead, the panel's antialiased
    // edge kept whole.
    void updateMask();

    double cornerRadius_ = kInitialCornerRadius;
    QWidget* panel_ = nullptr;
    QGraphicsOpacityEffect* alpha_ = nullptr;
    QPropertyAnimation* fade_ = nullptr;
    std::function<void()> fadeDone_;
};
