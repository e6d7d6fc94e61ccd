#pragma once

#include <QColor>
#include <QString>

// Colours from the hexadecimal and integer forms that the tip window and the capture
// view are configured with. Alphas outside 0..1 are pinned to that range.
class MMColor {
public:
    // "#RRGGBB" (either case) with alpha 1; white for any other text.
    static QColor mm_colorWithHexString(const QString& text);
    static QColor mm_colorWithHexStringAlpha(const QString& text, double alpha);
    // Components 0 to 255 (pinned to that range), each divided by 255.
    static QColor mm_colorWithIntR(int r, int g, int b);
    static QColor mm_colorWithIntRGBAlhpa(int r, int g, int b, double alpha);
    // Each component one of 0.61, 0.62 ... 1.00, independently.
    static QColor mm_randomColor();
    // 0xRRGGBB; bits above 23 are ignored.
    static QColor colorFromInt(quint32 rgb);
    // A hexadecimal number read from the start of the text (leading white space and "0x"
    // skipped, as a hex scanner does) as 0xRRGGBB; opaque black when the text starts with no number.
    static QColor colorWithHex(const QString& text, double alpha);
};
