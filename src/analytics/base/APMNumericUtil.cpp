#include "analytics/base/APMNumericUtil.h"

#include "analytics/base/APMConfigStore.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMLibrary.h"

#include <QRegularExpression>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <openssl/err.h>
#include <openssl/rand.h>

namespace {

const QString kDecimalPattern = QStringLiteral("^[+-]?(([0-9]+\\.?)|([0-9]*\\.[0-9]+))$");
const QString kNotNumericMessage = QStringLiteral("String value does not represent a numeric value. Value");
const QString kCannotCreateMessage
    = QStringLiteral("Unable to create a NSDecimalNumber from string value. Value");
const QString kPrecisionLossMessage
    = QStringLiteral("Unable to create a NSDecimalNumber from string value: loss of precision. Value");
const QString kRandomFailedMessage = QStringLiteral("Unable to generate random integer");

const QRegularExpression& decimalPattern()
{
    static const QRegularExpression pattern(kDecimalPattern, QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

} // namespace

namespace APMNumericUtilText {

// The digits of decimal text from its first to its last non-zero one,
// across the point: what an exact decimal has to hold.
int significantDigitCount(const QString& decimalText)
{
    int first = -1;
    int last = -1;
    int position = 0;
    for (const QChar c : decimalText) {
        if (!c.isDigit())
            continue;
        if (c != QLatin1Char('0')) {
            if (first < 0)
                first = position;
            last = position;
        }
        ++position;
    }
    return first < 0 ? 0 : last - first + 1;
}

} // namespace APMNumericUtilText

qint64 APMNumericUtil::randomInt64()
{
    unsigned char bytes[sizeof(qint64)] = {};
    if (RAND_bytes(bytes, sizeof(bytes)) != 1) {
        const unsigned long code = ERR_get_error();
        char reason[256] = {};
        ERR_error_string_n(code, reason, sizeof(reason));
        APMLibrary::monitor().logWithLevel(
            APMMonitor::kLevelWarningSilent, 26004, kRandomFailedMessage, QString::fromLatin1(reason));
        return 0;
    }
    qint64 value = 0;
    std::memcpy(&value, bytes, sizeof(value));
    return value;
}

bool APMBoolValueOfText(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
        ++i;
    while (i < text.size() && text.at(i) == QLatin1Char('0'))
        ++i;
    if (i >= text.size())
        return false;
    const QChar c = text.at(i);
    return c == QLatin1Char('Y') || c == QLatin1Char('y') || c == QLatin1Char('T') || c == QLatin1Char('t')
        || (c >= QLatin1Char('1') && c <= QLatin1Char('9'));
}

std::optional<bool> APMBoolValueOf(const QVariant& value)
{
    if (value.metaType().id() == QMetaType::QString)
        return APMBoolValueOfText(value.toString());
    if (APMConfigStore::isNumber(value))
        return value.toDouble() != 0.0;
    return std::nullopt;
}

bool APMIsDecimalNumberString(const QString& string)
{
    if (string.isEmpty())
        return false;
    return decimalPattern().match(string).hasMatch();
}

std::optional<APMDecimalNumber> APMDecimalNumberFromString(const QString& string)
{
    APMMonitor& monitor = APMLibrary::monitor();
    if (!APMIsDecimalNumberString(string)) {
        monitor.logWithLevel(APMMonitor::kLevelErrorSilent, 26001, kNotNumericMessage, string);
        return std::nullopt;
    }
    const std::optional<APMDecimalNumber> number = APMDecimalNumber::fromString(string);
    if (!number) {
        monitor.logWithLevel(APMMonitor::kLevelErrorSilent, 26002, kCannotCreateMessage, string);
        return std::nullopt;
    }
    if (APMNumericUtilText::significantDigitCount(string) > APMDecimalNumber::kMaxDigits) {
        monitor.logWithLevel(APMMonitor::kLevelErrorSilent, 26003, kPrecisionLossMessage, string);
        return std::nullopt;
    }
    return number;
}

QString APMShortestNumberText(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    if (value == 0)
        return QStringLiteral("0");

    // The shortest round-trip digits and their decimal exponent.
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific);
    const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
    const std::size_t e = text.find('e');
    std::string digits;
    for (char c : text.substr(0, e)) {
        if (c != '.')
            digits.push_back(c);
    }
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    const int exponent = std::stoi(std::string(text.substr(e + 1)));

    std::string out = value < 0 ? "-" : "";
    const double magnitude = std::fabs(value);
    if (magnitude >= 1e21 || magnitude < 1e-6) {
        out += digits[0];
        if (digits.size() > 1) {
            out += '.';
            out += digits.substr(1);
        }
        out += exponent < 0 ? "e-" : "e+";
        out += std::to_string(std::abs(exponent));
    } else if (exponent < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
    } else if (static_cast<std::size_t>(exponent) + 1 >= digits.size()) {
        out += digits;
        out.append(static_cast<std::size_t>(exponent) + 1 - digits.size(), '0');
    } else {
        out += digits.substr(0, static_cast<std::size_t>(exponent) + 1);
        out += '.';
        out += digits.substr(static_cast<std::size_t>(exponent) + 1);
    }
    return QString::fromLatin1(out.data(), static_cast<qsizetype>(out.size()));
}

int64_t APMSaturatingInt64(double value)
{
    if (std::isnan(value))
        return 0;
    // 2^63 is exactly representable; everything at or beyond it saturates.
    if (value >= 9223372036854775808.0)
        return std::numeric_limits<int64_t>::max();
    if (value <= -9223372036854775808.0)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

std::optional<int64_t> APMCheckedInt64(double value)
{
    // -2^63 itself is in range; the negated test also refuses NaN.
    if (!(value >= -9223372036854775808.0 && value < 9223372036854775808.0))
        return std::nullopt;
    return static_cast<int64_t>(value);
}
