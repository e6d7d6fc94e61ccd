#include "analytics/base/APMDecimalNumber.h"

#include <charconv>

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

std::optional<APMDecimalNumber> APMDecimalNumber::fromString(const QString& text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    QByteArray digits;
    qsizetype fractionDigits = 0;
    bool seenPoint = false;
    bool seenDigit = false;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (isAsciiDigit(c)) {
            digits.append(static_cast<char>(c.unicode()));
            seenDigit = true;
            if (seenPoint)
                ++fractionDigits;
        } else if (c == QLatin1Char('.') && !seenPoint) {
            seenPoint = true;
        } else {
            return std::nullopt;
        }
    }
    if (!seenDigit)
        return std::nullopt;

    // digits * 10^exponent, in 64-bit arithmetic: a text has fewer than 2^62
    // characters, so nothing here can overflow.
    qint64 exponent = -static_cast<qint64>(fractionDigits);
    qsizetype first = 0;
    while (first < digits.size() && digits[first] == '0')
        ++first;
    digits = digits.mid(first);
    while (!digits.isEmpty() && digits.back() == '0') {
        digits.chop(1);
        ++exponent;
    }
    if (digits.size() > kMaxDigits) {
        const bool roundUp = digits[kMaxDigits] >= '5';
        exponent += digits.size() - kMaxDigits;
        digits.truncate(kMaxDigits);
        if (roundUp) {
            qsizetype k = digits.size() - 1;
            while (k >= 0 && digits[k] == '9') {
                digits[k] = '0';
                --k;
            }
            if (k >= 0)
                ++digits[k];
            else
                digits.prepend('1');
        }
        while (!digits.isEmpty() && digits.back() == '0') {
            digits.chop(1);
            ++exponent;
        }
    }

    APMDecimalNumber number;
    if (digits.isEmpty())
        return number; // zero, whatever its sign or exponent
    // A large exponent may be taken up by trailing zeros of the mantissa.
    const qint64 spareDigits = kMaxDigits - digits.size();
    if (exponent < kMinExponent || exponent > kMaxExponent + spareDigits)
        return std::nullopt;
    number.digits_ = digits;
    number.exponent_ = static_cast<int>(exponent);
    number.negative_ = negative;
    return number;
}

APMDecimalNumber APMDecimalNumber::abs() const
{
    APMDecimalNumber copy = *this;
    copy.negative_ = false;
    return copy;
}

QString APMDecimalNumber::stringValue() const
{
    if (digits_.isEmpty())
        return QStringLiteral("0");
    QByteArray text;
    if (exponent_ >= 0) {
        text = digits_ + QByteArray(exponent_, '0');
    } else {
        const qsizetype scale = -static_cast<qsizetype>(exponent_);
        if (scale >= digits_.size())
            text = "0." + QByteArray(scale - digits_.size(), '0') + digits_;
        else
            text = digits_.left(digits_.size() - scale) + '.' + digits_.right(scale);
    }
    if (negative_)
        text.prepend('-');
    return QString::fromLatin1(text);
}

double APMDecimalNumber::doubleValue() const
{
    const QByteArray text = stringValue().toLatin1();
    double value = 0.0;
    std::from_chars(text.constData(), text.constData() + text.size(), value);
    return value;
}

int APMDecimalNumber::compareMagnitude(const APMDecimalNumber& other) const
{
    if (digits_.isEmpty() || other.digits_.isEmpty())
        return digits_.isEmpty() ? (other.digits_.isEmpty() ? 0 : -1) : 1;
    // Position of the leading digit decides first.
    const qint64 lead = static_cast<qint64>(digits_.size()) + exponent_;
    const qint64 otherLead = static_cast<qint64>(other.digits_.size()) + other.exponent_;
    if (lead != otherLead)
        return lead < otherLead ? -1 : 1;
    const qsizetype n = std::max(digits_.size(), other.digits_.size());
    for (qsizetype k = 0; k < n; ++k) {
        const char a = k < digits_.size() ? digits_[k] : '0';
        const char b = k < other.digits_.size() ? other.digits_[k] : '0';
        if (a != b)
            return a < b ? -1 : 1;
    }
    return 0;
}

int APMDecimalNumber::compare(const APMDecimalNumber& other) const
{
    const bool negative = negative_ && !digits_.isEmpty();
    const bool otherNegative = other.negative_ && !other.digits_.isEmpty();
    if (negative != otherNegative)
        return negative ? -1 : 1;
    const int magnitude = compareMagnitude(other);
    return negative ? -magnitude : magnitude;
}
