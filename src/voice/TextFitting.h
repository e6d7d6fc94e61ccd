#pragma once

#include <QString>

class QLabel;

// Puts a text into a fixed-size label of a floating speech window at the
// largest font size, from a window's own size down to a floor, at which it
// fits: on one line, else wrapped between words. A translation longer than
// the Chinese text it was written for then still shows whole; one that does
// not fit even at the floor is wrapped at the floor and clipped.
class TextFitting {
public:
    static void setFittedText(QLabel& label, const QString& text, int largestPixels, int smallestPixels);
    // The pixel size setFittedText() picks for the label's room.
    static int fittedPixelSize(const QLabel& label, const QString& text, int largestPixels, int smallestPixels);
};
