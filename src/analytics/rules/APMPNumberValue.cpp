#include "analytics/rules/APMPNumberValue.h"

#include <array>
#include <charconv>
#include <cmath>

namespace APMPNumberValueLocal {

constexpr int kCachedLow = -16;
constexpr int kCachedHigh = 1023;

const std::array<APMPValue, kCachedHigh - kCachedLow + 1>& cachedNumbers()
{
    static const auto numbers = [] {
        std::array<APMPValue, kCachedHigh - kCachedLow + 1> made;
        for (int i = kCachedLow; i <= kCachedHigh; ++i)
            made[i - kCachedLow] = std::make_shared<APMPNumberValue>(i);
        return made;
    }();
    return numbers;
}

} // namespace

APMPValue APMPNumberValue::valueWithDouble(double value)
{
    if (value >= APMPNumberValueLocal::kCachedLow && value <= APMPNumberValueLocal::kCachedHigh) {
        const int whole = static_cast<int>(value);
        if (whole == value && !(whole == 0 && std::signbit(value)))
            return APMPNumberValueLocal::cachedNumbers()[whole - APMPNumberValueLocal::kCachedLow];
    }
    return std::make_shared<APMPNumberValue>(value);
}

QString APMPNumberValue::textForDouble(double value)
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

bool APMPNumberValue::isEqualToRuntimeValue(const APMPRuntimeValue& other) const
{
    if (other.kind() != kKind)
        return false;
    const double theirs = static_cast<const APMPNumberValue&>(other).value_;
    return value_ == theirs || (std::isnan(value_) && std::isnan(theirs));
}
