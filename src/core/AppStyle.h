#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QWidget;

// The one look of every window: the main window, its secondary windows and
// the alerts share this font, these colours, the spacing and the button
// shapes (the settings pages' style sheet uses the same colours).
class AppStyle {
public:
    // Colours.
    static const QColor kInk; // text
    static const QColor kMuted; // secondary text
    static const QColor kLine; // borders
    static const QColor kAccent; // the main button, selection, focus
    static const QColor kAccentSoft; // the other buttons
    static const QColor kSurface; // window background
    static const QColor kError;

    // Spacing of a window's content, in logical pixels.
    static constexpr int kMargin = 24;
    static constexpr int kSpacing = 12;

    // The interface font at the given pixel size (14 is the body text):
    // one family for Latin, Chinese and Korean text alike.
    static QFont font(int pixelSize = 14);
    // The style sheet of a secondary window or alert. Labels may carry the
    // property role = "title", "muted" or "error"; the default button and
    // buttons with primary = true are drawn in the accent colour.
    static QString windowStyleSheet();
    // Gives a top-level window (and everything in it) the font and style sheet.
    static void applyTo(QWidget* window);
};
