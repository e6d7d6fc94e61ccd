#include "analytics/rules/APMPStringValue.h"

#include "analytics/rules/APMPStringCommandEvaluator.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

double APMPStringValue::numberForText(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return 0;
    if (trimmed == QLatin1String("NaN"))
        return std::numeric_limits<double>::quiet_NaN();
    if (trimmed == QLatin1String("Infinity"))
        return std::numeric_limits<double>::infinity();
    if (trimmed == QLatin1String("-Infinity"))
        return -std::numeric_limits<double>::infinity();

    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    // Check the shape by hand: [+-] digits [. digits] [e [+-] digits], with
    // at least one digit in the mantissa.
    std::string ascii;
    ascii.reserve(static_cast<std::size_t>(trimmed.size()));
    for (QChar c : trimmed) {
        if (c.unicode() > 0x7f)
            return kNaN;
        ascii.push_back(static_cast<char>(c.unicode()));
    }
    std::size_t i = 0;
    bool negative = false;
    if (ascii[i] == '+' || ascii[i] == '-') {
        negative = ascii[i] == '-';
        ++i;
    }
    const std::size_t start = i;
    int mantissaDigits = 0;
    while (i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9') {
        ++i;
        ++mantissaDigits;
    }
    if (i < ascii.size() && ascii[i] == '.') {
        ++i;
        while (i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9') {
            ++i;
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return kNaN;
    bool negativeExponent = false;
    if (i < ascii.size() && (ascii[i] == 'e' || ascii[i] == 'E')) {
        ++i;
        if (i < ascii.size() && (ascii[i] == '+' || ascii[i] == '-')) {
            negativeExponent = ascii[i] == '-';
            ++i;
        }
        int exponentDigits = 0;
        while (i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9') {
            ++i;
            ++exponentDigits;
        }
        if (exponentDigits == 0)
            return kNaN;
    }
    if (i != ascii.size())
        return kNaN;

    double value = 0;
    const auto result = std::from_chars(ascii.data() + start, ascii.data() + ascii.size(), value);
    if (result.ec == std::errc::result_out_of_range)
        value = negativeExponent ? 0.0 : std::numeric_limits<double>::infinity();
    else if (result.ec != std::errc())
        return kNaN;
    return negative ? -value : value;
}

APMPValue APMPStringValue::applyWithName(
    const QString& name, const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    return APMPStringCommandEvaluator::sharedInstance().evaluateCommand(name, value_, arguments, scope, error);
}
