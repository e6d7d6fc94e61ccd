#include "analytics/base/APMNumericUtil.h"

#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMLibrary.h"

#include <QRegularExpression>

#include <cstring>
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
    QString patched = string;
    if (patched.startsWith(QLatin1String("+.")) || patched.startsWith(QLatin1String("-."))
        || patched.startsWith(QLatin1Char('.')))
        patched.replace(QLatin1Char('.'), QLatin1String("0."));
    // Rounding to the representable digits shows as text that no longer
    // occurs in the input.
    if (!patched.contains(number->abs().stringValue())) {
        monitor.logWithLevel(APMMonitor::kLevelErrorSilent, 26003, kPrecisionLossMessage, string);
        return std::nullopt;
    }
    return number;
}
