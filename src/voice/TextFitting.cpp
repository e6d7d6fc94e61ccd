#include "voice/TextFitting.h"

#include <QFontMetrics>
#include <QLabel>

int TextFitting::fittedPixelSize(const QLabel& label, const QString& text, int largestPixels, int smallestPixels)
{
    const QRect room = label.contentsRect();
    QFont font = label.font();
    for (int pixels = largestPixels; pixels > smallestPixels; --pixels) {
        font.setPixelSize(pixels);
        const QRect needed
            = QFontMetrics(font).boundingRect(room, int(label.alignment()) | Qt::TextWordWrap, text);
        if (needed.width() <= room.width() && needed.height() <= room.height())
            return pixels;
    }
    return smallestPixels;
}

void TextFitting::setFittedText(QLabel& label, const QString& text, int largestPixels, int smallestPixels)
{
    QFont font = label.font();
    font.setPixelSize(fittedPixelSize(label, text, largestPixels, smallestPixels));
    label.setFont(font);
    label.setWordWrap(true);
    label.setText(text);
}
