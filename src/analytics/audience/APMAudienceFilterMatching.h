#pragma once

#include "analytics/base/APMDecimalNumber.h"
#include "analytics/model/APMEventParameters.h"

#include <QRegularExpression>
#include <QString>

#include <optional>

class APMEventAggregates;
class APMPBEventFilter;
class APMPBFilter;
class APMPBNumberFilter;
class APMPBPropertyFilter;
class APMPBStringFilter;
class APMUserAttribute;
class APMValue;
class NANOMessageBase;

// Whether one audience filter matches one event or one user property. Every
// evaluation answers true or false, or nothing when the filter cannot be
// evaluated for that input (a missing parameter, a value of the wrong kind,
// a malformed definition): nothing is not false, the caller then leaves the
// filter's state alone. Every refusal is logged on the library's monitor.
//
// Definitions come from the remote configuration and are outside input:
// the messages hold no nesting beyond filter → string or number filter, so
// every evaluation is bounded by the size of the definition itself, and a
// regular expression by the matcher's step limit: a match that runs into it
// is not evaluable (nothing, logged), and the same value is not tried again.

// Message slots, as the configuration schema numbers them.
namespace audience_slot {
constexpr int kNumberComparisonType = 0, kNumberMatchAsFloat = 1, kNumberComparisonValue = 2,
              kNumberMin = 3, kNumberMax = 4;
constexpr int kStringMatchType = 0, kStringExpression = 1, kStringCaseSensitive = 2,
              kStringExpressionList = 3;
constexpr int kFilterString = 0, kFilterNumber = 1, kFilterComplement = 2, kFilterParamName = 3;
constexpr int kPropertyFilterID = 0, kPropertyName = 1, kPropertyFilter = 2, kPropertyDynamic = 3,
              kPropertySequence = 4, kPropertySessionScoped = 5;
constexpr int kEventFilterID = 0, kEventName = 1, kEventParameterFilters = 2, kEventCountFilter = 4,
              kEventDynamic = 5, kEventSequence = 6, kEventSessionScoped = 7;
constexpr int kAudienceID = 0, kAudiencePropertyFilters = 1, kAudienceEventFilters = 2;
} // namespace audience_slot

// Comparison types of a number filter; any other value is unknown.
enum APMNumberComparisonType { kComparisonUnknown = 0, kComparisonLessThan = 1, kComparisonGreaterThan = 2,
    kComparisonEqual = 3, kComparisonBetween = 4 };
// Match types of a string filter.
enum APMStringMatchType { kMatchUnknown = 0, kMatchRegularExpression = 1, kMatchBeginsWith = 2,
    kMatchEndsWith = 3, kMatchContains = 4, kMatchExact = 5, kMatchInList = 6 };

// An event filter against an event's name, parameters and the aggregates of
// that name (nothing when the filter has no event-count test).
std::optional<bool> evaluateEventFilter(const APMPBEventFilter* filter, const QString& eventName,
    const EventParameters& parameters, const APMEventAggregates* aggregates);
std::optional<bool> evaluatePropertyFilter(const APMPBPropertyFilter* filter, const APMUserAttribute* attribute);
// One value filter against one value; a number filter wins over a string
// filter when both are present; the complement flag inverts a result.
std::optional<bool> evaluateParameterFilter(const APMPBFilter& filter, const APMValue& value);

bool validateNumberFilter(const APMPBNumberFilter& filter);
// A double against the filter's decimal texts taken as doubles; "equal"
// allows two representable steps on either side.
std::optional<bool> evaluateDoubleNumberFilter(const APMPBNumberFilter& filter, double value);
std::optional<bool> evaluateIntegerNumberFilter(const APMPBNumberFilter& filter, qint64 value);
// An exact decimal comparison: "0.1" is compared as one tenth, not as the
// double nearest to it.
std::optional<bool> evaluateNumberFilter(const APMPBNumberFilter& filter, const APMDecimalNumber& value);

// With `compiled`, a regular-expression filter's compiled expression is
// handed out.
bool validateStringFilter(
    const APMPBStringFilter& filter, std::optional<QRegularExpression>* compiled = nullptr);
// Nothing for a null string.
std::optional<bool> evaluateStringFilter(const APMPBStringFilter& filter, const QString& value);

// A message as log context: its encoded bytes in Base64.
QString APMAudienceMessageForLog(const NANOMessageBase* message);
