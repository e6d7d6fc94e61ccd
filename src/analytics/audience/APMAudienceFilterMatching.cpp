#include "analytics/audience/APMAudienceFilterMatching.h"

#include "analytics/audience/APMAudienceComparisonValues.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMNumericUtil.h"
#include "analytics/base/APMValue.h"
#include "analytics/model/APMEventAggregates.h"
#include "analytics/model/APMLogNames.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/wire/APMPBEventFilter.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBFilter.h"
#include "analytics/wire/APMPBNumberFilter.h"
#include "analytics/wire/APMPBPropertyFilter.h"
#include "analytics/wire/APMPBStringFilter.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <cmath>
#include <limits>

using namespace audience_slot;

namespace audience_matching {

APMMonitor& monitor()
{
    return APMLibrary::monitor();
}

// Compiled expressions by pattern and case flag: a definition's expression
// is evaluated against every event of its name, and compiling it each time
// would cost more than the match. Bounded, so a stream of distinct patterns
// cannot grow it without end.
class RegexCache {
public:
    QRegularExpression get(const QString& pattern, bool caseSensitive)
    {
        const QString key = cacheKey(pattern, caseSensitive);
        if (const auto it = cache_.constFind(key); it != cache_.constEnd())
            return *it;
        if (cache_.size() >= kMaxEntries)
            cache_.clear();
        QRegularExpression expression(
            pattern, caseSensitive ? QRegularExpression::NoPatternOption : QRegularExpression::CaseInsensitiveOption);
        expression.optimize();
        cache_.insert(key, expression);
        return expression;
    }

    // A match that ran into the matcher's step limit costs the whole limit;
    // the same value meets the same expression again with every event and
    // bundle, so the outcome is remembered (bounded like the expressions).
    bool isExhausted(const QString& pattern, bool caseSensitive, const QString& value) const
    {
        return exhausted_.contains(cacheKey(pattern, caseSensitive) + QChar(0) + value);
    }
    void markExhausted(const QString& pattern, bool caseSensitive, const QString& value)
    {
        if (exhausted_.size() >= kMaxEntries)
            exhausted_.clear();
        exhausted_.insert(cacheKey(pattern, caseSensitive) + QChar(0) + value);
    }

private:
    static QString cacheKey(const QString& pattern, bool caseSensitive)
    {
        return (caseSensitive ? QLatin1Char('s') : QLatin1Char('i')) + pattern;
    }

    static constexpr qsizetype kMaxEntries = 256;
    QHash<QString, QRegularExpression> cache_;
    QSet<QString> exhausted_;
};

RegexCache& regexCache()
{
    thread_local RegexCache cache;
    return cache;
}

QRegularExpression compiledExpression(const QString& pattern, bool caseSensitive)
{
    return regexCache().get(pattern, caseSensitive);
}

// Whether the expression occurs in the value; nothing (logged) when the
// matcher gave up before it could tell.
std::optional<bool> regexMatch(const QRegularExpression& expression, bool caseSensitive, const QString& value)
{
    RegexCache& cache = regexCache();
    std::optional<bool> found;
    if (!cache.isExhausted(expression.pattern(), caseSensitive, value)) {
        const QRegularExpressionMatch match = expression.match(value);
        if (match.isValid())
            found = match.hasMatch();
        else
            cache.markExhausted(expression.pattern(), caseSensitive, value);
    }
    if (!found) {
        monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 9009,
            QStringLiteral(
                "Regular expression match could not be completed. Audience filter will not be evaluated"),
            expression.pattern(), value);
    }
    return found;
}

QString valueForLog(const APMValue& value)
{
    return value.description();
}

// The needed comparison text as a double; nothing when it does not parse or
// lies outside the double range.
std::optional<double> comparisonDouble(const APMPBNumberFilter& filter, int slot)
{
    const auto decimal = APMDecimalNumber::fromString(APMPBGetStringField(&filter, slot));
    if (!decimal)
        return std::nullopt;
    const double value = decimal->doubleValue();
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

bool isPresentDecimalText(const APMPBNumberFilter& filter, int slot)
{
    return APMPBHasField(&filter, slot) && APMIsDecimalNumberString(APMPBGetStringField(&filter, slot));
}

bool caseSensitive(const APMPBStringFilter& filter)
{
    return APMPBHasField(&filter, kStringCaseSensitive) && APMPBGetBoolField(&filter, kStringCaseSensitive);
}

bool exactMatch(const QString& value, const QString& expression, bool sensitive)
{
    return value.compare(expression, sensitive ? Qt::CaseSensitive : Qt::CaseInsensitive) == 0;
}

} // namespace audience_matching


QString APMAudienceMessageForLog(const NANOMessageBase* message)
{
    if (!message)
        return QString();
    return QString::fromLatin1(message->protoBuffer().value_or(QByteArray()).toBase64());
}

std::optional<bool> evaluateEventFilter(const APMPBEventFilter* filter, const QString& eventName,
    const EventParameters& parameters, const APMEventAggregates* aggregates)
{
    if (!filter) {
        audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 7004,
            QStringLiteral("Event filter is nil. Audience filter will not be evaluated"),
            APMEventNameForLog(eventName));
        return std::nullopt;
    }
    if (eventName.isEmpty()) {
        audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 7005,
            QStringLiteral("Event name is nil. Audience filter will not be evaluated"),
            APMAudienceMessageForLog(filter));
        return std::nullopt;
    }
    if (!APMPBHasField(filter, kEventName) || APMPBGetStringField(filter, kEventName) != eventName) {
        audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 7006,
            QStringLiteral("Event filter name does not match event name. Audience filter will not be evaluated"),
            APMEventNameForLog(eventName));
        return std::nullopt;
    }
    const auto parameterFilters = APMPBGetArrayField<APMPBFilter>(filter, kEventParameterFilters);
    const bool hasCountFilter = APMPBHasField(filter, kEventCountFilter);
    if (!hasCountFilter && parameterFilters.empty())
        return true;
    if (hasCountFilter) {
        if (!aggregates || aggregates->name() != eventName) {
            audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 7007,
                QStringLiteral(
                    "Event aggregates name does not match event name. Audience filter will not be evaluated"),
                aggregates ? aggregates->name() : QString(), APMEventNameForLog(eventName),
                APMAudienceMessageForLog(filter));
            return std::nullopt;
        }
        const bool sessionScoped = APMPBGetBoolField(filter, kEventSessionScoped);
        const qint32 count = sessionScoped ? aggregates->currentSessionCount() : aggregates->lifetimeCount();
        const auto countFilter = APMPBGetMessageField<APMPBNumberFilter>(filter, kEventCountFilter);
        const auto outcome = countFilter ? evaluateIntegerNumberFilter(*countFilter, count) : std::nullopt;
        if (!outcome || !*outcome)
            return outcome;
    }
    for (const auto& parameterFilter : parameterFilters) {
        if (!APMPBHasField(parameterFilter.get(), kFilterParamName)) {
            audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 7008,
                QStringLiteral("Event filter does not have parameter name. Audience filter will not be evaluated"),
                APMEventNameForLog(eventName), APMAudienceMessageForLog(filter));
            return std::nullopt;
        }
        const QString name = APMPBGetStringField(parameterFilter.get(), kFilterParamName);
        const auto parameter = parameters.constFind(name);
        if (parameter == parameters.constEnd()) {
            audience_matching::monitor().logWithLevel(APMMonitor::kLevelWarning, 7009,
                QStringLiteral(
                    "Event does not have parameter required by filter. Audience filter will not be evaluated"),
                APMEventNameForLog(eventName), APMParametersDescription(parameters),
                APMAudienceMessageForLog(parameterFilter.get()));
            return std::nullopt;
        }
        if (parameter->isString() && !APMPBHasField(parameterFilter.get(), kFilterString)) {
            audience_matching::monitor().logWithLevel(APMMonitor::kLevelWarning, 7010,
                QStringLiteral("Event param is a string and the filter does not have a string filter. Audience "
                               "filter will not be evaluated. Event name, event params, filter"),
                APMEventNameForLog(eventName), APMParametersDescription(parameters),
                APMAudienceMessageForLog(parameterFilter.get()));
            return std::nullopt;
        }
        const auto outcome = evaluateParameterFilter(*parameterFilter, *parameter);
        if (!outcome || !*outcome)
            return outcome;
    }
    return true;
}

std::optional<bool> evaluatePropertyFilter(const APMPBPropertyFilter* filter, const APMUserAttribute* attribute)
{
    if (!filter) {
        audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 7011,
            QStringLiteral("Property filter is nil. Audience filter will not be evaluated"),
            attribute ? APMUserPropertyNameForLog(attribute->name()) : QString());
        return std::nullopt;
    }
    if (!attribute) {
        audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 7012,
            QStringLiteral("User property is nil. Audience filter will not be evaluated"),
            APMAudienceMessageForLog(filter));
        return std::nullopt;
    }
    const QString name = APMUserPropertyNameForLog(attribute->name());
    if (!APMPBHasField(filter, kPropertyName) || APMPBGetStringField(filter, kPropertyName) != attribute->name()) {
        audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 7013,
            QStringLiteral(
                "User property name does not match property filter name. Audience filter will not be evaluated"),
            name, APMAudienceMessageForLog(filter));
        return std::nullopt;
    }
    const auto valueFilter = APMPBGetMessageField<APMPBFilter>(filter, kPropertyFilter);
    if (!valueFilter) {
        audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 7014,
            QStringLiteral("Property filter does not have filter. Audience filter will not be evaluated"), name,
            APMAudienceMessageForLog(filter));
        return std::nullopt;
    }
    const APMValue& value = attribute->value();
    if (!value.isString() && !value.isInt64() && !value.isDouble()) {
        audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 7015,
            QStringLiteral("Unknown user property type. Audience filter will not be evaluated. Property Name"),
            name);
        return std::nullopt;
    }
    return evaluateParameterFilter(*valueFilter, value);
}

std::optional<bool> evaluateParameterFilter(const APMPBFilter& filter, const APMValue& value)
{
    const auto numberFilter = APMPBGetMessageField<APMPBNumberFilter>(&filter, kFilterNumber);
    std::unique_ptr<APMPBStringFilter> stringFilter;
    if (!numberFilter)
        stringFilter = APMPBGetMessageField<APMPBStringFilter>(&filter, kFilterString);
    if (!numberFilter && !stringFilter) {
        audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 7000,
            QStringLiteral("Filter has neither a number nor string filter. Audience filter will not be evaluated"),
            audience_matching::valueForLog(value), APMAudienceMessageForLog(&filter));
        return std::nullopt;
    }
    std::optional<bool> outcome;
    if (numberFilter) {
        if (value.isDouble()) {
            const double number = value.doubleValue();
            if (!std::isfinite(number)) {
                audience_matching::monitor().logWithLevel(APMMonitor::kLevelWarning, 7002,
                    QStringLiteral("Value is not within double range. Audience filter will not be evaluated"),
                    audience_matching::valueForLog(value), APMAudienceMessageForLog(&filter));
                return std::nullopt;
            }
            outcome = evaluateDoubleNumberFilter(*numberFilter, number);
        } else if (value.isInt64()) {
            outcome = evaluateIntegerNumberFilter(*numberFilter, value.int64Value());
        } else if (value.isString()) {
            const QString text = value.stringValue();
            if (!APMIsDecimalNumberString(text)) {
                audience_matching::monitor().logWithLevel(APMMonitor::kLevelWarning, 7001,
                    QStringLiteral(
                        "String value is not a numeric value. Audience filter will not be evaluated. Value, filter"),
                    text, APMAudienceMessageForLog(&filter));
                return std::nullopt;
            }
            const auto decimal = APMDecimalNumberFromString(text);
            if (!decimal)
                return std::nullopt;
            outcome = evaluateNumberFilter(*numberFilter, *decimal);
        } else {
            return std::nullopt;
        }
    } else {
        if (!value.isString()) {
            audience_matching::monitor().logWithLevel(APMMonitor::kLevelWarning, 7003,
                QStringLiteral("Value is not a string. Audience filter will not be evaluated"),
                audience_matching::valueForLog(value), APMAudienceMessageForLog(&filter));
            return std::nullopt;
        }
        outcome = evaluateStringFilter(*stringFilter, value.stringValue());
    }
    if (outcome && APMPBHasField(&filter, kFilterComplement) && APMPBGetBoolField(&filter, kFilterComplement))
        outcome = !*outcome;
    return outcome;
}

bool validateNumberFilter(const APMPBNumberFilter& filter)
{
    // Encoded only when a refusal is logged: evaluation runs per event.
    const auto context = [&filter] { return APMAudienceMessageForLog(&filter); };
    if (!APMPBHasField(&filter, kNumberComparisonType)) {
        audience_matching::monitor().logWithLevel(
            APMMonitor::kLevelErrorMonitored, 8006, QStringLiteral("Number filter has no comparison type"), context());
        return false;
    }
    switch (APMPBGetInt32Field(&filter, kNumberComparisonType)) {
    case kComparisonLessThan:
    case kComparisonGreaterThan:
    case kComparisonEqual:
        if (!audience_matching::isPresentDecimalText(filter, kNumberComparisonValue)) {
            audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 8008,
                QStringLiteral("Numeric filter does not have a valid comparison value. Filter"), context());
            return false;
        }
        return true;
    case kComparisonBetween: {
        bool valid = true;
        if (!audience_matching::isPresentDecimalText(filter, kNumberMin)) {
            audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 8009,
                QStringLiteral("Numeric filter does not have a valid min comparison value. Filter"), context());
            valid = false;
        }
        if (!audience_matching::isPresentDecimalText(filter, kNumberMax)) {
            audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 8010,
                QStringLiteral("Numeric filter does not have a valid max comparison value. Filter"), context());
            valid = false;
        }
        return valid;
    }
    case kComparisonUnknown:
        audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 8007,
            QStringLiteral("Number filter has unknown comparison type"), context());
        return false;
    default:
        audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 8011,
            QStringLiteral("Number filter has a real unknown comparison type"), context());
        return false;
    }
}

std::optional<bool> evaluateDoubleNumberFilter(const APMPBNumberFilter& filter, double value)
{
    if (!validateNumberFilter(filter))
        return std::nullopt;
    const qint32 type = APMPBGetInt32Field(&filter, kNumberComparisonType);
    std::optional<double> comparison, minimum, maximum;
    bool parsed = true;
    if (type == kComparisonBetween) {
        minimum = audience_matching::comparisonDouble(filter, kNumberMin);
        maximum = audience_matching::comparisonDouble(filter, kNumberMax);
        parsed = minimum && maximum;
    } else {
        comparison = audience_matching::comparisonDouble(filter, kNumberComparisonValue);
        parsed = comparison.has_value();
    }
    if (!parsed) {
        audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 8012,
            QStringLiteral(
                "Number filter is invalid, the comparison filter is not valid. Audience filter will not be evaluated"),
            APMAudienceMessageForLog(&filter));
        return std::nullopt;
    }
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    switch (type) {
    case kComparisonLessThan:
        return value < *comparison;
    case kComparisonGreaterThan:
        return value > *comparison;
    case kComparisonEqual: {
        const double low = std::nextafter(std::nextafter(*comparison, -kInfinity), -kInfinity);
        const double high = std::nextafter(std::nextafter(*comparison, kInfinity), kInfinity);
        return low < value && value < high;
    }
    case kComparisonBetween:
        return *minimum <= value && value <= *maximum;
    case kComparisonUnknown:
        audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 8013,
            QStringLiteral("Validated double number filter has unknown comparison type. Audience filter will not be "
                           "evaluated"));
        return std::nullopt;
    default:
        return false;
    }
}

std::optional<bool> evaluateIntegerNumberFilter(const APMPBNumberFilter& filter, qint64 value)
{
    // Every 64-bit integer has at most 19 digits: the conversion is exact.
    const auto decimal = APMDecimalNumber::fromString(QString::number(value));
    if (!decimal)
        return std::nullopt;
    return evaluateNumberFilter(filter, *decimal);
}

std::optional<bool> evaluateNumberFilter(const APMPBNumberFilter& filter, const APMDecimalNumber& value)
{
    if (!validateNumberFilter(filter))
        return std::nullopt;
    // Encoded only when a refusal is logged: evaluation runs per event.
    const auto context = [&filter] { return APMAudienceMessageForLog(&filter); };
    const qint32 type = APMPBGetInt32Field(&filter, kNumberComparisonType);
    APMAudienceComparisonValues values;
    auto fail = [&](qint64 code, const QString& message) {
        audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, code, message, context());
        values.valid = false;
    };
    switch (type) {
    case kComparisonLessThan:
    case kComparisonGreaterThan:
    case kComparisonEqual:
        if (!APMPBHasField(&filter, kNumberComparisonValue)) {
            fail(8001, QStringLiteral("Number filter has no comparison value"));
        } else if (const auto number = APMDecimalNumberFromString(
                       APMPBGetStringField(&filter, kNumberComparisonValue))) {
            values.comparisonValue = *number;
        } else {
            fail(8002, QStringLiteral("Number filter comparison value is not a number"));
        }
        break;
    case kComparisonBetween:
        if (!APMPBHasField(&filter, kNumberMin) || !APMPBHasField(&filter, kNumberMax)) {
            fail(8003, QStringLiteral("Number filter does not have both min and max comparison values"));
            break;
        }
        if (const auto number = APMDecimalNumberFromString(APMPBGetStringField(&filter, kNumberMin)))
            values.minComparisonValue = *number;
        else
            fail(8004, QStringLiteral("Number filter min comparison value is not a number"));
        if (const auto number = APMDecimalNumberFromString(APMPBGetStringField(&filter, kNumberMax)))
            values.maxComparisonValue = *number;
        else
            fail(8005, QStringLiteral("Number filter max comparison value is not a number"));
        break;
    case kComparisonUnknown:
        fail(8000, QStringLiteral("Number filter has unknown comparison type"));
        break;
    default:
        break;
    }
    if (!values.valid) {
        audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 8015,
            QStringLiteral(
                "Parsed decimal number comparison values are not valid. Audience filter will not be evaluated. Filter"),
            context());
        return std::nullopt;
    }
    switch (type) {
    case kComparisonLessThan:
        return value.compare(values.comparisonValue) < 0;
    case kComparisonGreaterThan:
        return value.compare(values.comparisonValue) > 0;
    case kComparisonEqual:
        return value.compare(values.comparisonValue) == 0;
    case kComparisonBetween:
        return values.minComparisonValue.compare(value) <= 0 && value.compare(values.maxComparisonValue) <= 0;
    case kComparisonUnknown:
        audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 8016,
            QStringLiteral("Validated decimal number for number filter has unknown comparison type. Audience filter "
                           "will not be evaluated"));
        return std::nullopt;
    default:
        return false;
    }
}

bool validateStringFilter(const APMPBStringFilter& filter, std::optional<QRegularExpression>* compiled)
{
    // Encoded only when a refusal is logged: evaluation runs per event.
    const auto context = [&filter] { return APMAudienceMessageForLog(&filter); };
    if (!APMPBHasField(&filter, kStringMatchType)) {
        audience_matching::monitor().logWithLevel(
            APMMonitor::kLevelErrorMonitored, 9000, QStringLiteral("String filter has no match type"), context());
        return false;
    }
    const qint32 type = APMPBGetInt32Field(&filter, kStringMatchType);
    if (type == kMatchUnknown) {
        audience_matching::monitor().logWithLevel(
            APMMonitor::kLevelErrorMonitored, 9001, QStringLiteral("String filter has unknown match type"), context());
        return false;
    }
    if (type == kMatchInList) {
        if (APMPBGetArrayField(&filter, kStringExpressionList).isEmpty()) {
            audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 9003,
                QStringLiteral("String filter has no expression list"), context());
            return false;
        }
        return true;
    }
    if (!APMPBHasField(&filter, kStringExpression)) {
        audience_matching::monitor().logWithLevel(
            APMMonitor::kLevelErrorMonitored, 9002, QStringLiteral("String filter has no expression"), context());
        return false;
    }
    if (type == kMatchRegularExpression) {
        const QRegularExpression expression = audience_matching::compiledExpression(
            APMPBGetStringField(&filter, kStringExpression), audience_matching::caseSensitive(filter));
        if (!expression.isValid()) {
            audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 9004,
                QStringLiteral("Unable to parse regular expression"), context(), expression.errorString());
            return false;
        }
        if (compiled)
            *compiled = expression;
    }
    return true;
}

std::optional<bool> evaluateStringFilter(const APMPBStringFilter& filter, const QString& value)
{
    if (value.isNull()) {
        audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 9005,
            QStringLiteral("Evaluation string is nil. Audience filter will not be evaluated"));
        return std::nullopt;
    }
    std::optional<QRegularExpression> expression;
    if (!validateStringFilter(filter, &expression)) {
        audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 9006,
            QStringLiteral("String filter is invalid. Audience filter will not be evaluated"));
        return std::nullopt;
    }
    const bool sensitive = audience_matching::caseSensitive(filter);
    const Qt::CaseSensitivity cs = sensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
    const QString pattern = APMPBGetStringField(&filter, kStringExpression);
    switch (APMPBGetInt32Field(&filter, kStringMatchType)) {
    case kMatchRegularExpression:
        if (!expression || !expression->isValid()) {
            audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 9008,
                QStringLiteral("Parsed regex is nil. Audience filter will not be evaluated"));
            return std::nullopt;
        }
        return audience_matching::regexMatch(*expression, sensitive, value);
    case kMatchBeginsWith:
        return value.startsWith(pattern, cs);
    case kMatchEndsWith:
        return value.endsWith(pattern, cs);
    case kMatchContains:
        return value.contains(pattern, cs);
    case kMatchExact:
        return audience_matching::exactMatch(value, pattern, sensitive);
    case kMatchInList: {
        const QVariantList list = APMPBGetArrayField(&filter, kStringExpressionList);
        for (const QVariant& entry : list) {
            if (audience_matching::exactMatch(value, entry.toString(), sensitive))
                return true;
        }
        return false;
    }
    case kMatchUnknown:
        audience_matching::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 9007,
            QStringLiteral("Validated string filter has unknown comparison type. Audience filter will not be evaluated"));
        return std::nullopt;
    default:
        return false;
    }
}
