#include "core/MMAttributedString.h"

#include <gtest/gtest.h>
#include <limits>

namespace {

const QFont kBold = [] {
    QFont font(QStringLiteral("Sans"), 14);
    font.setBold(true);
    return font;
}();
const QFont kSmall(QStringLiteral("Sans"), 9);
const QColor kRed(Qt::red);
const QColor kBlue(Qt::blue);

TEST(MMAttributedStringTest, NeedsTextFontAndColour)
{
    EXPECT_FALSE(MMAttributedString::mm_attributedStringWithString(QString(), kBold, kRed));
    EXPECT_FALSE(MMAttributedString::mm_attributedStringWithString(QStringLiteral("a"), std::nullopt, kRed));
    EXPECT_FALSE(MMAttributedString::mm_attributedStringWithString(QStringLiteral("a"), kBold, std::nullopt));
    EXPECT_FALSE(MMAttributedString::mm_mutableAttributedStringWithString(QString(), kBold, kRed));

    const auto text
        = MMAttributedString::mm_mutableAttributedStringWithString(QStringLiteral("hello"), kBold, kRed);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->string(), QStringLiteral("hello"));
    for (qsizetype i = 0; i < text->length(); ++i) {
        EXPECT_EQ(text->fontAt(i), kBold);
        EXPECT_EQ(text->colorAt(i), kRed);
    }
    EXPECT_FALSE(text->fontAt(5));
}

TEST(MMAttributedStringTest, LaterStylingWinsAndOnlyGivenAttributesChange)
{
    auto text
        = *MMAttributedString::mm_attributedStringWithString(QStringLiteral("hello world"), kBold, kRed);
    text.mm_updateWithFontColorRange(std::nullopt, kBlue, 6, 5);
    text.mm_updateWithFontColorRange(kSmall, std::nullopt, 0, 2);
    text.mm_updateWithFontColorRange(std::nullopt, std::nullopt, 0, 11);
    EXPECT_EQ(text.runs().size(), 3);
    EXPECT_EQ(text.colorAt(5), kRed);
    EXPECT_EQ(text.colorAt(6), kBlue);
    EXPECT_EQ(text.fontAt(6), kBold);
    EXPECT_EQ(text.fontAt(1), kSmall);
    EXPECT_EQ(text.fontAt(2), kBold);
}

TEST(MMAttributedStringTest, RangesAreClippedToTheText)
{
    constexpr qsizetype kMax = std::numeric_limits<qsizetype>::max();
    constexpr qsizetype kMin = std::numeric_limits<qsizetype>::min();
    struct Case {
        qsizetype location;
        qsizetype length;
        qsizetype clippedLocation;
        qsizetype clippedLength; // 0: no run
    };
    const Case cases[] = {
        { 3, 100, 3, 2 },
        { -2, 4, 0, 2 },
        { 1, kMax, 1, 4 },
        { kMin, kMax, 0, 0 },
        { -1, kMax, 0, 5 },
        { 5, 1, 0, 0 },
        { kMax, 1, 0, 0 },
        { 2, 0, 0, 0 },
        { 2, -1, 0, 0 },
    };
    for (const Case& c : cases) {
        MMAttributedString text(QStringLiteral("hello"));
        text.mm_updateWithFontColorRange(kSmall, kBlue, c.location, c.length);
        if (c.clippedLength == 0) {
            EXPECT_TRUE(text.runs().isEmpty()) << c.location << "," << c.length;
            continue;
        }
        ASSERT_EQ(text.runs().size(), 1) << c.location << "," << c.length;
        EXPECT_EQ(text.runs().first().location, c.clippedLocation);
        EXPECT_EQ(text.runs().first().length, c.clippedLength);
    }
}

TEST(MMAttributedStringTest, PatternStylesEveryCaseInsensitiveMatch)
{
    MMAttributedString text(QStringLiteral("World, world; WORLD!"));
    text.mm_updateWithFontColorPattern(kBold, kRed, QStringLiteral("world"));
    ASSERT_EQ(text.runs().size(), 3);
    EXPECT_EQ(text.runs().at(1).location, 7);
    EXPECT_EQ(text.runs().at(2).location, 14);
    EXPECT_EQ(text.colorAt(16), kRed);
    EXPECT_FALSE(text.colorAt(5));

    text.mm_updateWithFontColorPattern(kBold, kBlue, QStringLiteral("(unclosed"));
    text.mm_updateWithFontColorPattern(kBold, kBlue, QStringLiteral("x*"));
    EXPECT_EQ(text.runs().size(), 3);
}

TEST(MMAttributedStringTest, FormatsCarryFontsAndColoursForTextLayout)
{
    MMAttributedString text(QStringLiteral("hello"));
    text.mm_updateWithFontColorRange(kBold, std::nullopt, 0, 2);
    text.mm_updateWithFontColorRange(std::nullopt, kBlue, 1, 4);
    const QList<QTextLayout::FormatRange> formats = text.formats();
    ASSERT_EQ(formats.size(), 2);
    EXPECT_EQ(formats.at(0).start, 0);
    EXPECT_EQ(formats.at(0).length, 2);
    EXPECT_TRUE(formats.at(0).format.font().bold());
    EXPECT_FALSE(formats.at(0).format.hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_EQ(formats.at(1).start, 1);
    EXPECT_EQ(formats.at(1).format.foreground().color(), kBlue);
    EXPECT_FALSE(formats.at(1).format.hasProperty(QTextFormat::FontWeight));
}

} // namespace
