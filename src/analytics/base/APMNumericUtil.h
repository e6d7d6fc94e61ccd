#pragma once

#include "analytics/base/APMDecimalNumber.h"

#include <QString>
#include <QVariant>

#include <cstdint>
#include <optional>

// Numbers the analytics library needs beyond plain arithmetic.
class APMNumericUtil {
public:
    // 64 bits from the system's secure random source; 0 (logged at level 5,
    // code 26004) when the source fails.
    static qint64 randomInt64();
};

// True for plain decimal text: an optional sign and either digits with an
// optional trailing point or optional digits, a point and at least one digit
// ("12", "12.", ".5", "-0.5", "+3"). No exponents, spaces or separators.
bool APMIsDecimalNumberString(const QString& string);

// What a text's leading characters say when read as a yes or no: "Y", "y",
// "T", "t" or a digit 1-9 after blanks, a sign and zeros mean yes; anything
// else ("NO", "false", "0", "") means no.
bool APMBoolValueOfText(const QString& text);
// A value's truth the way callers of the public interface mean it: a number
// when it is not zero, a text by APMBoolValueOfText; nothing for any other
// kind.
std::optional<bool> APMBoolValueOf(const QVariant& value);

// The exact number the text denotes, or nothing (logged at level 2) when the
// text is not decimal (26001), cannot be held (26002) or would lose digits
// (26003). The user's locale plays no part.
std::optional<APMDecimalNumber> APMDecimalNumberFromString(const QString& string);

// The shortest text that reads back as the same double, in the script
// languages' form: "NaN", "Infinity", "-Infinity", "0", plain digits between
// 1e-6 and 1e21, otherwise an exponent ("1.5e+21").
QString APMShortestNumberText(double value);

// Truncated toward zero; NaN gives 0 and values beyond the 64-bit range the
// nearest end of it.
int64_t APMSaturatingInt64(double value);

// Truncated toward zero; nothing for NaN and for values outside the 64-bit
// range, where an amount must be refused rather than clamped.
std::optional<int64_t> APMCheckedInt64(double value);
