#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// An exact decimal number: up to 38 significant digits times a power of ten
// between -128 and 127. Used where numbers arrive as text and must compare
// exactly (audience filters), independent of the user's locale.
class APMDecimalNumber {
public:
    static constexpr int kMaxDigits = 38;
    static constexpr int kMinExponent = -128;
    static constexpr int kMaxExponent = 127;

    // Plain decimal text with ASCII digits and "." as the point: an optional
    // sign, then digits with an optional point ("12", "12.", ".5", "-0.25").
    // Nothing for any other text (exponents, spaces, separators, other
    // scripts' digits) or a value whose magnitude lies outside the range.
    // More than 38 significant digits are rounded half up.
    static std::optional<APMDecimalNumber> fromString(const QString& text);

    APMDecimalNumber() = default; // zero

    bool isZero() const { return digits_.isEmpty(); }
    bool isNegative() const { return negative_; }
    APMDecimalNumber abs() const;

    // The canonical text: no plus sign, no leading zeros before the point
    // other than a single "0", no trailing zeros after it, no exponent
    // ("1.5", "-0.25", "1200", "0").
    QString stringValue() const;
    // The nearest double.
    double doubleValue() const;

    // -1, 0 or 1.
    int compare(const APMDecimalNumber& other) const;
    bool operator==(const APMDecimalNumber& other) const { return compare(other) == 0; }
    bool operator<(const APMDecimalNumber& other) const { return compare(other) < 0; }

private:
    int compareMagnitude(const APMDecimalNumber& other) const;

    QByteArray digits_; // significant digits, no leading or trailing zeros; empty for zero
    int exponent_ = 0; // value = digits * 10^exponent
    bool negative_ = false;
};
