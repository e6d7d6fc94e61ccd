#include "core/MMViewGeometry.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {

// A widget coordinate as a whole pixel, pinned to the range a widget accepts.
int pixels(double value, int low)
{
    if (std::isnan(value))
        return 0;
    const double pinned = std::clamp(value, static_cast<double>(low), static_cast<double>(QWIDGETSIZE_MAX));
    return static_cast<int>(std::lround(pinned));
}

} // namespace

MMFrameGeometry MMViewGeometry::frameOf(const QWidget& view)
{
    return { QRectF(view.geometry()), true };
}

void MMViewGeometry::setFrame(QWidget& view, const MMFrameGeometry& geometry)
{
    const QRectF frame = geometry.frame();
    view.setGeometry(pixels(frame.x(), -QWIDGETSIZE_MAX), pixels(frame.y(), -QWIDGETSIZE_MAX),
        pixels(frame.width(), 0), pixels(frame.height(), 0));
}

void MMViewGeometry::update(QWidget& view, const std::function<void(MMFrameGeometry&)>& change)
{
    MMFrameGeometry geometry = frameOf(view);
    if (change)
        change(geometry);
    setFrame(view, geometry);
}

void MMViewGeometry::centreOnScreen(QWidget& window)
{
    const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

void MMViewGeometry::bringForward(QWidget& window)
{
    window.show();
    window.raise();
    window.activateWindow();
}
