#pragma once

#include <QPixmap>
#include <QString>

// The small pictures of the main window's status column, drawn by name:
// "connect_mode0" (no link), "connect_mode2" and "connect_mode3" (the two
// Bluetooth links), "connect_mode4" (USB receiver), "battery0" to
// "battery100" in steps of ten, and "disconnected". An unknown name gives a
// null pixmap.
class IndicatorImage {
public:
    static QPixmap imageNamed(const QString& name, qreal devicePixelRatio = 1.0);
    // The battery picture level of a charge in percent: 100 at 90 and over,
    // then one step of ten per ten percent, 0 below zero or for NaN.
    static long batteryLevel(float percent);
};
