#pragma once

#include <QByteArray>
#include <QImage>
#include <QSizeF>
#include <QString>

#include <functional>

class QPainter;

// An image with a logical size in points and the bitmap that holds its pixels. The two
// need not agree: a bitmap drawn for 10.7 x 5.2 points has 10 x 5 pixels.
class MMImage {
public:
    MMImage() = default;
    // The logical size is the bitmap's pixel size divided by its device pixel ratio.
    explicit MMImage(const QImage& bitmap);
    MMImage(const QImage& bitmap, const QSizeF& size);

    // A transparent bitmap of the size truncated to whole pixels (premultiplied ARGB, alpha
    // first), drawn by the given function; the image keeps the exact size. A size under one
    // pixel, or larger than a bitmap may be (32767 pixels a side, 2^28 pixels in all), gives
    // an image without a bitmap and the drawing function is not called.
    static MMImage mm_imageWithSize(
        const QSizeF& size, const std::function<void(QPainter&)>& graphicsContext);

    QSizeF size() const { return m_size; }
    const QImage& bitmap() const { return m_bitmap; }

    // Encoded bitmaps; empty for an image without a bitmap.
    QByteArray mm_PNGData() const;
    // Quality 100: the least compression.
    QByteArray mm_JPEGData() const;

    // false for an empty path, a bare file name, a parent folder that cannot be made or a
    // failed write. Missing parent folders are created.
    bool mm_writeToFileAsPNG(const QString& path) const;
    bool mm_writeToFileAsJPEG(const QString& path) const;

private:
    QByteArray encoded(const char* format, int quality) const;
    bool write(const QString& path, const char* format, int quality) const;

    QImage m_bitmap;
    QSizeF m_size;
};
