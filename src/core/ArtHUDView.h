#pragma once

#include <QWidget>

// The HUD's window: borderless, see-through around a black rounded panel,
// floating above its parent window and never taking the keyboard focus.
class ArtHUDView : public QWidget {
public:
    static constexpr double kInitialCornerRadius = 20;

    explicit ArtHUDView(QWidget* parent = nullptr);

    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Without a compositor the see-through corners would show black: the
    // window is cut to its rounded shape instead.
    void updateMask();

    double cornerRadius_ = kInitialCornerRadius;
};
