#include "core/MMColor.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

struct Rgba {
    int red;
    int green;
    int blue;
    double alpha;
};

void expectColor(const QColor& color, const Rgba& expected, const std::string& label)
{
    SCOPED_TRACE(label);
    ASSERT_TRUE(color.isValid());
    EXPECT_NEAR(color.redF(), expected.red / 255.0, 1e-4);
    EXPECT_NEAR(color.greenF(), expected.green / 255.0, 1e-4);
    EXPECT_NEAR(color.blueF(), expected.blue / 255.0, 1e-4);
    EXPECT_NEAR(color.alphaF(), expected.alpha, 1e-4);
}

const Rgba kWhite { 255, 255, 255, 1.0 };
const Rgba kBlack { 0, 0, 0, 1.0 };
const Rgba kTeal { 150, 205, 205, 1.0 };

TEST(MMColorTest, HexStringOfTheFormHashRrggbb)
{
    const std::pair<const char*, Rgba> cases[] = {
        { "#96CDCD", kTeal },
        { "#96cdcd", kTeal },
        { "#000000", kBlack },
        { "96CDCD", kWhite },
        { "#96CDC", kWhite },
        { "#96CDCD00", kWhite },
        { " #96CDCD", kWhite },
        { "#96CDCG", kWhite },
        { "", kWhite },
    };
    for (const auto& [text, expected] : cases)
        expectColor(MMColor::mm_colorWithHexString(QString::fromLatin1(text)), expected, text);
    expectColor(MMColor::mm_colorWithHexString(QString()), kWhite, "null");
    expectColor(
        MMColor::mm_colorWithHexStringAlpha(QStringLiteral("#96CDCD"), 0.5), { 150, 205, 205, 0.5 }, "alpha");
}

TEST(MMColorTest, HexScannerReadsANumberFromTheStart)
{
    const std::pair<const char*, Rgba> cases[] = {
        { "96CDCD", { 150, 205, 205, 0.25 } },
        { "0x96cdcd", { 150, 205, 205, 0.25 } },
        { "  96CDCD", { 150, 205, 205, 0.25 } },
        { "96CDCDzz", { 150, 205, 205, 0.25 } },
        { "FF96CDCD", { 150, 205, 205, 0.25 } }, // bits above the red byte are ignored
        { "123456789ABC", { 255, 255, 255, 0.25 } }, // overflow reads as the largest number
        { "#96CDCD", kBlack }, // the scanner does not read "#"
        { "0x", { 0, 0, 0, 0.25 } }, // reads the number 0
        { "", kBlack },
    };
    for (const auto& [text, expected] : cases)
        expectColor(MMColor::colorWithHex(QString::fromLatin1(text), 0.25), expected, text);
    // The scanner's colour is the hex-string colour for the same digits.
    const QColor scanned = MMColor::colorWithHex(QStringLiteral("96CDCD"), 1.0);
    EXPECT_EQ(scanned.rgba(), MMColor::mm_colorWithHexString(QStringLiteral("#96CDCD")).rgba());
}

TEST(MMColorTest, IntegerComponents)
{
    expectColor(MMColor::colorFromInt(0x1191FE), { 17, 145, 254, 1.0 }, "0x1191FE");
    expectColor(MMColor::colorFromInt(0xAB1191FE), { 17, 145, 254, 1.0 }, "high byte");
    expectColor(MMColor::mm_colorWithIntR(255, 128, 0), { 255, 128, 0, 1.0 }, "rgb");
    expectColor(MMColor::mm_colorWithIntR(-5, 300, 10), { 0, 255, 10, 1.0 }, "pinned");
    expectColor(MMColor::mm_colorWithIntRGBAlhpa(1, 2, 3, 0.25), { 1, 2, 3, 0.25 }, "alpha");
    expectColor(MMColor::mm_colorWithIntRGBAlhpa(1, 2, 3, 7.0), { 1, 2, 3, 1.0 }, "alpha above 1");
    expectColor(MMColor::mm_colorWithIntRGBAlhpa(1, 2, 3, std::nan("")), { 1, 2, 3, 0.0 }, "alpha NaN");
}

TEST(MMColorTest, RandomColoursArePaleHundredths)
{
    for (int draw = 0; draw < 300; ++draw) {
        const QColor color = MMColor::mm_randomColor();
        EXPECT_NEAR(color.alphaF(), 1.0, 1e-6);
        for (double component : { color.redF(), color.greenF(), color.blueF() }) {
            EXPECT_GE(component, 0.61 - 1e-4);
            EXPECT_LE(component, 1.0);
            EXPECT_NEAR(component * 100, std::round(component * 100), 1e-2);
        }
    }
}

} // namespace
