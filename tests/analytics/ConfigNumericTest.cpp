#include "analytics/base/APMDecimalNumber.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMNumericUtil.h"
#include "analytics/model/APMUserPropertyNames.h"
#include "analytics/engine/APMMeasurement.h"

#include <QLocale>
#include <QSet>

#include <clocale>
#include <gtest/gtest.h>
#include <vector>

namespace {

TEST(DecimalNumber, WhichTextsAreDecimal)
{
    const std::vector<std::pair<const char*, bool>> cases = {
        { "12", true }, { "12.", true }, { ".5", true }, { "-0.5", true }, { "+3", true }, { "-.25", true },
        { "007", true }, { "0", true }, { "1e3", false }, { " 1", false }, { "1 ", false }, { "1,5", false },
        { ".", false }, { "", false }, { "+", false }, { "1.2.3", false }, { "--1", false },
        { "0x10", false }, { "1_000", false }, { "\xd9\xa1\xd9\xa2", false }, // Arabic-Indic digits
        { "１２", false }, // full-width digits
    };
    for (const auto& [text, decimal] : cases)
        EXPECT_EQ(APMIsDecimalNumberString(QString::fromUtf8(text)), decimal) << text;
    EXPECT_FALSE(APMIsDecimalNumberString(QString()));
}

struct ParseCase {
    const char* text;
    const char* canonical; // nullptr: refused
    qint64 code; // the code logged when refused
};

class DecimalParsing : public ::testing::Test {
protected:
    // The refusal's record in the process-wide monitor (level 2 is silent
    // but recorded).
    static QString takeRecord()
    {
        return APMMeasurement::monitor().monitoringDataForDispatchWithSamplePeriod(-1e9, 0);
    }
};

TEST_F(DecimalParsing, ExactValuesAndRefusals)
{
    const QString digits38 = QStringLiteral("12345678901234567890123456789012345678");
    const std::vector<ParseCase> cases = {
        { "12", "12", 0 },
        { "12.", "12", 0 },
        { "1.50", "1.5", 0 },
        { "-.25", "-0.25", 0 },
        { "+.5", "0.5", 0 },
        { ".5", "0.5", 0 },
        { "+3", "3", 0 },
        { "007", "7", 0 },
        { "-0", "0", 0 },
        { "1200", "1200", 0 },
        { "0.000001", "0.000001", 0 },
        { "-123456789012345678901234567890.5", "-123456789012345678901234567890.5", 0 },
        { "1e3", nullptr, 26001 },
        { "1,5", nullptr, 26001 },
        { "", nullptr, 26001 },
        // 39 significant digits cannot be held exactly.
        { "123456789012345678901234567890123456789", nullptr, 26003 },
        { "0.123456789012345678901234567890123456789", nullptr, 26003 },
        // Rounding that lands on digits the text also holds is still a loss.
        { "5.0000000000000000000000000000000000000001", nullptr, 26003 },
        { "10000000000000000000000000000000000000001", nullptr, 26003 },
        { "-0.00100000000000000000000000000000000000001", nullptr, 26003 },
        // Zeros at either end are not digits to hold.
        { "000120000000000000000000000000000000000000000000.000000000000",
            "120000000000000000000000000000000000000000000", 0 },
        { "0.00000000000000000000000000000000000000000012", "0.00000000000000000000000000000000000000000012",
            0 },
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.text);
        takeRecord();
        const std::optional<APMDecimalNumber> n = APMDecimalNumberFromString(QString::fromLatin1(c.text));
        if (c.canonical) {
            ASSERT_TRUE(n);
            EXPECT_EQ(n->stringValue(), QString::fromLatin1(c.canonical));
        } else {
            EXPECT_FALSE(n);
            const QString record = takeRecord();
            const QString message = c.code == 26001
                ? QStringLiteral("String value does not represent a numeric value. Value")
                : QStringLiteral(
                    "Unable to create a NSDecimalNumber from string value: loss of precision. Value");
            EXPECT_TRUE(record.startsWith(QStringLiteral("1:1E_102700:") + message)) << qPrintable(record);
        }
    }
    EXPECT_EQ(APMDecimalNumberFromString(digits38)->stringValue(), digits38);
}

TEST_F(DecimalParsing, OutOfRangeIsRefused)
{
    const QString huge = QStringLiteral("1") + QString(200, QLatin1Char('0'));
    const QString tiny = QStringLiteral("0.") + QString(200, QLatin1Char('0')) + QStringLiteral("1");
    for (const QString& text : { huge, tiny }) {
        takeRecord();
        EXPECT_FALSE(APMDecimalNumberFromString(text));
        EXPECT_TRUE(takeRecord().startsWith(
            QStringLiteral("1:1E_102700:Unable to create a NSDecimalNumber from string value. Value")));
    }
    // The largest exponent is still in range.
    const QString edge = QStringLiteral("1") + QString(127, QLatin1Char('0'));
    ASSERT_TRUE(APMDecimalNumberFromString(edge));
    EXPECT_EQ(APMDecimalNumberFromString(edge)->stringValue(), edge);
}

TEST_F(DecimalParsing, TheUsersLocalePlaysNoPart)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const char* cLocale = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    const std::optional<APMDecimalNumber> n = APMDecimalNumberFromString(QStringLiteral("1.5"));
    const std::optional<APMDecimalNumber> comma = APMDecimalNumberFromString(QStringLiteral("1,5"));
    if (cLocale)
        std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(previous);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->stringValue(), QStringLiteral("1.5"));
    EXPECT_EQ(n->doubleValue(), 1.5);
    EXPECT_FALSE(comma);
}

TEST(DecimalNumber, ComparesExactly)
{
    auto d = [](const char* text) { return *APMDecimalNumber::fromString(QString::fromLatin1(text)); };
    EXPECT_EQ(d("1.50"), d("1.5"));
    EXPECT_EQ(d("-0"), d("0"));
    EXPECT_LT(d("-2"), d("-1.5"));
    EXPECT_LT(d("0.1"), d("0.10000000000000000000000000000000000001"));
    EXPECT_LT(d("99"), d("100"));
    EXPECT_LT(d("-100"), d("0.001"));
    EXPECT_EQ(d("1200"), d("1200.000"));
    EXPECT_EQ(d("-0.25").abs().stringValue(), QStringLiteral("0.25"));
    EXPECT_EQ(d("-0.25").doubleValue(), -0.25);
}

TEST(NumericUtil, RandomNumbersDiffer)
{
    QSet<qint64> seen;
    for (int i = 0; i < 16; ++i)
        seen.insert(APMNumericUtil::randomInt64());
    EXPECT_GT(seen.size(), 14);
}

TEST(UserPropertyNames, PublicToInternal)
{
    const QHash<QString, QString>& names = APMPublicToInternalUserPropertyNames();
    EXPECT_EQ(names.size(), 10);
    EXPECT_EQ(names.value(QStringLiteral("user_id")), QStringLiteral("_id"));
    EXPECT_EQ(names.value(QStringLiteral("first_open_time")), QStringLiteral("_fot"));
    EXPECT_EQ(names.value(QStringLiteral("va_session_id")), QStringLiteral("_sid"));
    EXPECT_EQ(names.value(QStringLiteral("basalt_last_notification")), QStringLiteral("_ln"));
    EXPECT_FALSE(names.contains(QStringLiteral("_id")));
}

} // namespace
