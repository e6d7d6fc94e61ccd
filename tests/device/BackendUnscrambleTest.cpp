#include "device/mmUtilities.h"
#include "fakes/FakeBackend.h"

#include <gtest/gtest.h>

namespace {

QString chars(std::initializer_list<char16_t> codes)
{
    QString text;
    for (char16_t c : codes)
        text.append(QChar(c));
    return text;
}

struct UnscrambleCase {
    const char* name;
    QString text;
    QString key;
    QString expected;
};

void PrintTo(const UnscrambleCase& c, std::ostream* os)
{
    *os << c.name;
}

class UnscrambleTest : public ::testing::TestWithParam<UnscrambleCase> { };

TEST_P(UnscrambleTest, DecodesAllButTheTrailerPair)
{
    const UnscrambleCase& c = GetParam();
    EXPECT_EQ(mmUtilities::decryptText(c.text, c.key), c.expected);
}

// 0x41 'A' XOR 0 is 'A'; XOR 742 (low byte 0xE6) is 0xA7.
INSTANTIATE_TEST_SUITE_P(Table, UnscrambleTest,
    ::testing::Values(UnscrambleCase { "Empty", QString(), QStringLiteral("742"), QStringLiteral("") },
        UnscrambleCase { "OneDigit", QStringLiteral("4"), QStringLiteral("0"), QStringLiteral("") },
        UnscrambleCase {
            "TwoDigitsAreOnlyTheTrailer", QStringLiteral("41"), QStringLiteral("0"), QStringLiteral("") },
        UnscrambleCase {
            "OddLengthIgnoresTheLoneDigit", QStringLiteral("414"), QStringLiteral("0"), QStringLiteral("A") },
        UnscrambleCase {
            "TwoNDigitsGiveNMinusOne", QStringLiteral("414243"), QStringLiteral("0"), QStringLiteral("AB") },
        UnscrambleCase {
            "UpperAndLowerCaseDigits", QStringLiteral("4a4A00"), QStringLiteral("0"), QStringLiteral("JJ") },
        UnscrambleCase {
            "KeyActsThroughItsLowByte", QStringLiteral("a7a7"), QStringLiteral("742"), QStringLiteral("A") },
        UnscrambleCase {
            "KeyAbove255SameAsLowByte", QStringLiteral("a7a7"), QStringLiteral("230"), QStringLiteral("A") },
        UnscrambleCase {
            "NonHexPairCountsAsZero", QStringLiteral("zz41xx"), QStringLiteral("0"), chars({ 0x00, u'A' }) },
        UnscrambleCase {
            "NonHexPairXorKey", QStringLiteral("4g41xx"), QStringLiteral("742"), chars({ 0xE6, 0xA7 }) },
        UnscrambleCase { "NonAsciiCharactersAreNotHex", QStringLiteral("ä14100"), QStringLiteral("0"),
            chars({ 0x00, u'A' }) },
        UnscrambleCase { "KeyTextReadByItsLeadingNumber", QStringLiteral("a7a7"), QStringLiteral("742abc"),
            QStringLiteral("A") }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UnscrambleTest, ReadsBackWhatTheBackEndScrambles)
{
    const QByteArray plain = R"({"iat_appid":"x1","azure_ocr_url":"https://ocr.example/v"})";
    for (int key : { 0, 1, 230, 742, 999 }) {
        const QByteArray hex = fakes::FakeBackend::scramble(plain, key);
        EXPECT_EQ(hex.size(), 2 * (plain.size() + 1));
        EXPECT_EQ(mmUtilities::decryptText(QString::fromLatin1(hex), QString::number(key)),
            QString::fromLatin1(plain))
            << "key " << key;
    }
}

TEST(UnscrambleTest, HexPairToDecimalText)
{
    const std::pair<const char*, const char*> cases[] = {
        { "00", "0" },
        { "7f", "127" },
        { "ff", "255" },
        { "FF", "255" },
        { "0a", "10" },
        { "g1", "0" },
        { "1g", "0" },
        { "1", "0" },
        { "123", "0" },
        { "", "0" },
        { " 1", "0" },
        { "-1", "0" },
    };
    for (const auto& [pair, expected] : cases)
        EXPECT_EQ(mmUtilities::tensix2ten(QString::fromLatin1(pair)), QString::fromLatin1(expected)) << pair;
}

} // namespace
