#pragma once

#include "core/MMFrameGeometry.h"

#include <functional>

class QWidget;

// Frame geometry of widgets and windows. Qt lays out both top-down (a child in its parent's
// coordinates, a window in screen coordinates), so their frames are read as flipped ones:
// top() is the visual top edge.
class MMViewGeometry {
public:
    static MMFrameGeometry frameOf(const QWidget& view);
    // Writes the frame back, rounded to whole pixels; sizes are kept within what a widget can take.
    static void setFrame(QWidget& view, const MMFrameGeometry& geometry);
    // Reads the frame, lets the function change it, writes it back:
    // update(label, [](MMFrameGeometry& g) { g.setCenterX(200); }).
    static void update(QWidget& view, const std::function<void(MMFrameGeometry&)>& change);
    // Centres a window on the screen under the pointer (else the primary
    // screen), frame included, within the screen's available area.
    static void centreOnScreen(QWidget& window);
    // Brings a window forward: shown, raised above the others and active.
    static void bringForward(QWidget& window);
};
