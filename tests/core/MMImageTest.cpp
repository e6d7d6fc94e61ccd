#include "core/MMImage.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <limits>

namespace {

MMImage redSquareOnTransparent()
{
    return MMImage::mm_imageWithSize(
        { 10.7, 5.2 }, [](QPainter& painter) { painter.fillRect(QRect(0, 0, 4, 5), Qt::red); });
}

TEST(MMImageTest, BitmapTruncatesToWholePixelsAndKeepsTheSize)
{
    const MMImage image = redSquareOnTransparent();
    EXPECT_EQ(image.size(), QSizeF(10.7, 5.2));
    ASSERT_EQ(image.bitmap().size(), QSize(10, 5));
    EXPECT_EQ(image.bitmap().format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(image.bitmap().pixelColor(0, 0), QColor(Qt::red));
    EXPECT_EQ(image.bitmap().pixelColor(9, 4).alpha(), 0);
}

TEST(MMImageTest, SizesWithoutAReasonableBitmapAreNotDrawn)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const QSizeF sizes[]
        = { { 0.9, 10 }, { 10, 0 }, { -3, 5 }, { nan, 5 }, { 1e12, 1e12 }, { 40000, 1 }, { 20000, 20000 } };
    for (const QSizeF& size : sizes) {
        bool drawn = false;
        const MMImage image = MMImage::mm_imageWithSize(size, [&drawn](QPainter&) { drawn = true; });
        EXPECT_TRUE(image.bitmap().isNull()) << size.width() << "x" << size.height();
        EXPECT_FALSE(drawn);
        EXPECT_TRUE(image.mm_PNGData().isEmpty());
    }
}

TEST(MMImageTest, EncodesPngLosslesslyAndJpegAtFullQuality)
{
    const MMImage image = redSquareOnTransparent();
    const QImage png = QImage::fromData(image.mm_PNGData(), "PNG");
    ASSERT_EQ(png.size(), QSize(10, 5));
    EXPECT_EQ(png.pixelColor(0, 0), QColor(Qt::red));
    EXPECT_EQ(png.pixelColor(9, 4).alpha(), 0);

    QByteArray reference;
    QBuffer buffer(&reference);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "JPEG");
    writer.setQuality(100);
    ASSERT_TRUE(writer.write(image.bitmap()));
    EXPECT_EQ(image.mm_JPEGData(), reference);
    EXPECT_EQ(QImage::fromData(image.mm_JPEGData(), "JPEG").size(), QSize(10, 5));
}

class MMImageWriteTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString previousDirectory = QDir::currentPath();

    void SetUp() override { QDir::setCurrent(dir.path()); }
    void TearDown() override { QDir::setCurrent(previousDirectory); }
};

TEST_F(MMImageWriteTest, RefusesPathsWithoutAParentFolder)
{
    const MMImage image = redSquareOnTransparent();
    EXPECT_FALSE(image.mm_writeToFileAsPNG(QString()));
    EXPECT_FALSE(image.mm_writeToFileAsPNG(QStringLiteral("image.png")));
    EXPECT_FALSE(image.mm_writeToFileAsJPEG(QStringLiteral("image.jpg")));
    EXPECT_FALSE(QFile::exists(QStringLiteral("image.png")));
    EXPECT_FALSE(QFile::exists(QStringLiteral("image.jpg")));
}

TEST_F(MMImageWriteTest, CreatesMissingFoldersAndWrites)
{
    const MMImage image = redSquareOnTransparent();
    const QString png = dir.filePath(QStringLiteral("a/b/shot.png"));
    ASSERT_TRUE(image.mm_writeToFileAsPNG(png));
    EXPECT_EQ(QImage(png, "PNG").pixelColor(0, 0), QColor(Qt::red));
    const QString jpeg = QStringLiteral("./c/shot.jpg");
    ASSERT_TRUE(image.mm_writeToFileAsJPEG(jpeg));
    EXPECT_EQ(QImage(dir.filePath(QStringLiteral("c/shot.jpg")), "JPEG").size(), QSize(10, 5));
}

TEST_F(MMImageWriteTest, FailsWhenTheFolderCannotBeMadeOrThereIsNothingToWrite)
{
    QFile blocker(dir.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(redSquareOnTransparent().mm_writeToFileAsPNG(dir.filePath(QStringLiteral("file/shot.png"))));
    EXPECT_FALSE(MMImage().mm_writeToFileAsPNG(dir.filePath(QStringLiteral("empty.png"))));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("empty.png"))));
}

} // namespace
