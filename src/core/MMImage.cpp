#include "core/MMImage.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QPainter>

namespace {

constexpr char kPngFormat[] = "PNG";
constexpr char kJpegFormat[] = "JPEG";
constexpr int kJpegQuality = 100;
// The raster painter cannot address more pixels than this along one side; the whole bitmap
// stays within 1 GiB.
constexpr double kMaxPixelsPerSide = 32767;
constexpr qint64 kMaxPixels = qint64 { 1 } << 28;

// The size truncated to whole pixels, or 0 when it is under one pixel or too large.
int wholePixels(double points)
{
    if (!(points >= 1) || !(points < kMaxPixelsPerSide + 1))
        return 0;
    return static_cast<int>(points);
}

// The path without its last component, as the user wrote it: "" for a bare file name, "/" for
// a file at the root.
QString parentPart(const QString& path)
{
    qsizetype end = path.size();
    while (end > 1 && path.at(end - 1) == u'/')
        --end;
    const qsizetype slash = path.lastIndexOf(u'/', end - 1);
    if (slash < 0)
        return {};
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

} // namespace

MMImage::MMImage(const QImage& bitmap)
    : m_bitmap(bitmap)
    , m_size(bitmap.deviceIndependentSize())
{
}

MMImage::MMImage(const QImage& bitmap, const QSizeF& size)
    : m_bitmap(bitmap)
    , m_size(size)
{
}

MMImage MMImage::mm_imageWithSize(const QSizeF& size, const std::function<void(QPainter&)>& graphicsContext)
{
    const int width = wholePixels(size.width());
    const int height = wholePixels(size.height());
    if (width == 0 || height == 0 || qint64 { width } * height > kMaxPixels)
        return MMImage(QImage(), size);
    QImage bitmap(width, height, QImage::Format_ARGB32_Premultiplied);
    if (bitmap.isNull())
        return MMImage(QImage(), size);
    bitmap.fill(Qt::transparent);
    if (graphicsContext) {
        QPainter painter(&bitmap);
        graphicsContext(painter);
    }
    return MMImage(bitmap, size);
}

QByteArray MMImage::encoded(const char* format, int quality) const
{
    QByteArray data;
    if (m_bitmap.isNull())
        return data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    if (!m_bitmap.save(&buffer, format, quality))
        return {};
    return data;
}

QByteArray MMImage::mm_PNGData() const
{
    return encoded(kPngFormat, -1);
}

QByteArray MMImage::mm_JPEGData() const
{
    return encoded(kJpegFormat, kJpegQuality);
}

bool MMImage::mm_writeToFileAsPNG(const QString& path) const
{
    return write(path, kPngFormat, -1);
}

bool MMImage::mm_writeToFileAsJPEG(const QString& path) const
{
    return write(path, kJpegFormat, kJpegQuality);
}

bool MMImage::write(const QString& path, const char* format, int quality) const
{
    const QString parent = parentPart(path);
    if (parent.isEmpty() || !QDir().mkpath(parent))
        return false;
    const QByteArray data = encoded(format, quality);
    if (data.isEmpty())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(data) == data.size() && file.flush();
}
