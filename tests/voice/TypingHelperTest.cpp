#include "voice/mmTypingHelper.h"

#include <gtest/gtest.h>

namespace {

struct DiffCase {
    const char* name;
    QString oldText;
    QString newText;
    QString removed;
    QString inserted;
    qsizetype deletes;
};

const QString kFamily = QStringLiteral("👨‍👩‍👧"); // man ZWJ woman ZWJ girl
const QString kFamilyBoy = QStringLiteral("👨‍👩‍👦");

void PrintTo(const DiffCase& c, std::ostream* os)
{
    *os << c.name;
}

class TypingDiff : public ::testing::TestWithParam<DiffCase> { };

TEST_P(TypingDiff, DeletesThenTypes)
{
    const DiffCase& c = GetParam();
    const mmTypingHelper::Difference d = mmTypingHelper::compareTextWithString1(c.oldText, c.newText);
    EXPECT_EQ(d.removed, c.removed);
    EXPECT_EQ(d.inserted, c.inserted);
    EXPECT_EQ(d.deleteCount, c.deletes);
    // Applying the edit to the old text always gives the new text.
    QString applied = c.oldText;
    applied.chop(d.removed.size());
    EXPECT_TRUE(c.oldText.endsWith(d.removed));
    EXPECT_EQ(applied + d.inserted, c.newText);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, TypingDiff, ::testing::Values(
    DiffCase { "Equal", "abc", "abc", "", "", 0 },
    DiffCase { "BothEmpty", "", "", "", "", 0 },
    DiffCase { "Appended", "abc", "abcde", "", "de", 0 },
    DiffCase { "FromEmpty", "", "xy", "", "xy", 0 },
    DiffCase { "ReplacedTail", "abc", "abd", "c", "d", 1 },
    DiffCase { "Shortened", "abcde", "ab", "cde", "", 3 },
    DiffCase { "ToEmpty", "xy", "", "xy", "", 2 },
    DiffCase { "ReplacedInTheMiddle", "I red a book", "I read a book", "d a book", "ad a book", 8 },
    DiffCase { "CjkAppended", "你好", "你好世界", "", "世界", 0 },
    DiffCase { "CjkReplacedInTheMiddle", "今天天气很好", "今天天气真好", "很好", "真好", 2 },
    // U+1F600 and U+1F603 share their high surrogate: a diff by code unit
    // would delete half a character and paste a lone low surrogate.
    DiffCase { "EmojiSharingHighSurrogate", "hi 😀", "hi 😃", "😀", "😃", 1 },
    // A skin-tone modifier belongs to the emoji before it; a ball does not.
    DiffCase { "ModifierReplacedByEmoji", "👍🏻", "👍🏀", "👍🏻", "👍🏀", 1 },
    DiffCase { "EmojiReplacedByModifier", "👍🏀", "👍🏻", "👍🏀", "👍🏻", 2 },
    DiffCase { "EmojiOnlyRemoved", "😀😀😀", "", "😀😀😀", "", 3 },
    DiffCase { "EmojiOnlyAppended", "😀", "😀😀", "", "😀", 0 },
    DiffCase { "ZwjSequenceIsOneCharacter", kFamily, kFamilyBoy, kFamily, kFamilyBoy, 1 },
    DiffCase { "FlagsArePairs", "🇩🇪🇫🇷", "🇩🇪🇫🇮", "🇫🇷", "🇫🇮", 1 },
    // A combining mark joins the letter before it: the letter goes with it.
    DiffCase { "CombiningMarkAdded", "cafe", "cafe\u0301", "e", "e\u0301", 1 },
    DiffCase { "CombiningMarkChanged", "e\u0301x", "e\u0300x", "e\u0301x", "e\u0300x", 2 },
    DiffCase { "CombiningMarkRemoved", "ne\u0303e\u0301", "ne\u0303", "e\u0301", "", 1 },
    DiffCase { "HangulJamoSyllable", "\u1100\u1161", "\u1100\u1161\u11A8", "\u1100\u1161", "\u1100\u1161\u11A8", 1 },
    // Texts that look like an edit instruction are plain text.
    DiffCase { "AmpersandsInText", "a", "a&&b", "", "&&b", 0 },
    DiffCase { "CommandWordsInText", "x", "del::y", "x", "del::y", 1 },
    // A lone surrogate left by a broken reply is one character of its own.
    DiffCase { "LoneSurrogateCompleted", QString(QChar(0xD83D)), "😀", QString(QChar(0xD83D)), "😀", 1 }),
    [](const ::testing::TestParamInfo<DiffCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST(TypingHelper, CountsUserPerceivedCharacters)
{
    const struct {
        QString text;
        qsizetype count;
    } cases[] = {
        { "", 0 },
        { "abc", 3 },
        { "你好世界", 4 },
        { "😀😃", 2 },
        { kFamily, 1 },
        { "🇩🇪🇫🇷", 2 },
        { "e\u0301\u0323", 1 },
        { "\r\n", 1 },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mmTypingHelper::graphemeCount(c.text), c.count) << c.text.toStdString();
        const QStringList parts = mmTypingHelper::graphemes(c.text);
        EXPECT_EQ(parts.size(), c.count) << c.text.toStdString();
        EXPECT_EQ(parts.join(QString()), c.text);
    }
}

TEST(TypingHelper, LongTextsCompareByTheirTail)
{
    const QString base = QString(200'000, QLatin1Char('a')) + QStringLiteral("😀");
    const auto d = mmTypingHelper::compareTextWithString1(base, base + QStringLiteral("字"));
    EXPECT_EQ(d.inserted, QStringLiteral("字"));
    EXPECT_EQ(d.deleteCount, 0);
    const auto cut = mmTypingHelper::compareTextWithString1(base, QStringLiteral("b"));
    EXPECT_EQ(cut.deleteCount, 200'001);
}

} // namespace
