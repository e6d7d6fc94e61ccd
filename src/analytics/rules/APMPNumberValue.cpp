#include "analytics/rules/APMPNumberValue.h"

#include "analytics/base/APMNumericUtil.h"

#include <array>
#include <charconv>
#include <cmath>

namespace APMPNumberValueLocal {

constexpr int kCachedLow = -16;
constexpr int kCachedHigh = 1023;

std::array<APMPValue, kCachedHigh - kCachedLow + 1> makeCachedNumbers()
{
    std::array<APMPValue, kCachedHigh - kCachedLow + 1> made;
    for (int i = kCachedLow; i <= kCachedHigh; ++i)
        made[i - kCachedLow] = std::make_shared<APMPNumberValue>(i);
    return made;
}

} // namespace

APMPValue APMPNumberValue::valueWithDouble(double value)
{
    if (value >= APMPNumberValueLocal::kCachedLow && value <= APMPNumberValueLocal::kCachedHigh) {
        const int whole = static_cast<int>(value);
        // Made on first use, here rather than behind a call of its own:
        // this is on the path of every arithmetic result.
        static const auto cached = APMPNumberValueLocal::makeCachedNumbers();
        if (whole == value && !(whole == 0 && std::signbit(value)))
            return cached[whole - APMPNumberValueLocal::kCachedLow];
    }
    return std::make_shared<APMPNumberValue>(value);
}

QString APMPNumberValue::textForDouble(double value)
{
    // Whole numbers are what programs print most (counters, indexes, keys
    // built from them). Below 2^53 every whole number is exact and its
    // shortest text is its digits, which need no search for the shortest
    // round trip. Both zeros print "0", as the general form gives.
    constexpr double kExactWholeLimit = 9007199254740992.0; // 2^53
    if (value > -kExactWholeLimit && value < kExactWholeLimit && value == std::trunc(value))
        return QString::number(static_cast<qint64>(value));
    return APMShortestNumberText(value);
}

bool APMPNumberValue::isEqualToRuntimeValue(const APMPRuntimeValue& other) const
{
    if (other.kind() != kKind)
        return false;
    const double theirs = static_cast<const APMPNumberValue&>(other).value_;
    return value_ == theirs || (std::isnan(value_) && std::isnan(theirs));
}
