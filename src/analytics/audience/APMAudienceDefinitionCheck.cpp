#include "analytics/audience/APMAudienceDefinitionCheck.h"

#include "analytics/audience/APMAudienceFilterMatching.h"
#include "analytics/base/APMError.h"
#include "analytics/wire/APMPBAudience.h"
#include "analytics/wire/APMPBEventFilter.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBFilter.h"
#include "analytics/wire/APMPBNumberFilter.h"
#include "analytics/wire/APMPBPropertyFilter.h"
#include "analytics/wire/APMPBStringFilter.h"

using namespace audience_slot;

namespace audience_check {

constexpr qint64 kAudienceError = 9, kEventFilterError = 10, kPropertyFilterError = 11;

bool refuse(APMError* error, qint64 code, const char* description)
{
    APMSetErrorWithCode(error, code, QString::fromLatin1(description));
    return false;
}

bool hasExactlyOneValueFilter(const APMPBFilter& filter)
{
    return APMPBHasField(&filter, kFilterNumber) != APMPBHasField(&filter, kFilterString);
}

// The value filter's own test; the number or string filter that is present.
bool valueFilterIsValid(const APMPBFilter& filter, bool* numberFailed)
{
    if (const auto number = APMPBGetMessageField<APMPBNumberFilter>(&filter, kFilterNumber)) {
        *numberFailed = !validateNumberFilter(*number);
        return !*numberFailed;
    }
    *numberFailed = false;
    const auto string = APMPBGetMessageField<APMPBStringFilter>(&filter, kFilterString);
    return string && validateStringFilter(*string);
}

bool checkEventFilter(
    const APMPBEventFilter& filter, QSet<qint32>& filterIDs, const APMAudienceLimits& limits, APMError* error)
{
    if (APMPBGetStringField(&filter, kEventName).isEmpty())
        return refuse(error, kEventFilterError, "Event filter missing event name");
    if (!APMPBHasField(&filter, kEventFilterID))
        return refuse(error, kEventFilterError, "Missing event filter ID");
    const qint32 id = APMPBGetInt32Field(&filter, kEventFilterID);
    if (id < 0 || id >= limits.maxFiltersPerAudience)
        return refuse(error, kEventFilterError, "Event filter ID is out of range");
    if (filterIDs.contains(id))
        return refuse(error, kEventFilterError, "Duplicate event filter ID");
    filterIDs.insert(id);
    if (const auto count = APMPBGetMessageField<APMPBNumberFilter>(&filter, kEventCountFilter)) {
        if (APMPBGetBoolField(count.get(), kNumberMatchAsFloat))
            return refuse(error, kEventFilterError, "Event filter has float event count filter");
        if (!validateNumberFilter(*count))
            return refuse(error, kEventFilterError, "Event filter has invalid event count filter");
    }
    const auto parameters = APMPBGetArrayField<APMPBFilter>(&filter, kEventParameterFilters);
    if (qint64(parameters.size()) > limits.maxParametersPerFilter)
        return refuse(error, kEventFilterError, "Event filter parameters filters count out of range");
    for (const auto& parameter : parameters) {
        if (APMPBGetStringField(parameter.get(), kFilterParamName).isEmpty())
            return refuse(error, kEventFilterError, "Event filter missing parameter name");
        if (!hasExactlyOneValueFilter(*parameter))
            return refuse(error, kEventFilterError, "Event filter must have exactly one of number or string filter");
        bool numberFailed = false;
        if (!valueFilterIsValid(*parameter, &numberFailed))
            return refuse(error, kEventFilterError,
                numberFailed ? "Event filter has invalid number filter" : "Event filter has invalid string filter");
    }
    return true;
}

bool checkPropertyFilter(
    const APMPBPropertyFilter& filter, QSet<qint32>& filterIDs, const APMAudienceLimits& limits, APMError* error)
{
    if (APMPBGetStringField(&filter, kPropertyName).isEmpty())
        return refuse(error, kPropertyFilterError, "Property filter missing property name");
    if (!APMPBHasField(&filter, kPropertyFilterID))
        return refuse(error, kPropertyFilterError, "Missing property filter ID");
    const qint32 id = APMPBGetInt32Field(&filter, kPropertyFilterID);
    if (id < 0 || id >= limits.maxFiltersPerAudience)
        return refuse(error, kPropertyFilterError, "Property filter ID is out of range");
    if (filterIDs.contains(id))
        return refuse(error, kPropertyFilterError, "Duplicate property filter ID");
    filterIDs.insert(id);
    const auto valueFilter = APMPBGetMessageField<APMPBFilter>(&filter, kPropertyFilter);
    if (!valueFilter)
        return refuse(error, kPropertyFilterError, "Property filter has no filter");
    if (!hasExactlyOneValueFilter(*valueFilter))
        return refuse(error, kPropertyFilterError, "Property filter must have exactly one of number or string filter");
    bool numberFailed = false;
    if (!valueFilterIsValid(*valueFilter, &numberFailed))
        return refuse(error, kPropertyFilterError,
            numberFailed ? "Property filter has invalid number filter" : "Property filter has invalid string filter");
    return true;
}

} // namespace audience_check

bool checkAudienceDefinition(
    const APMPBAudience& audience, const QSet<qint32>& acceptedIDs, const APMAudienceLimits& limits, APMError* error)
{
    using namespace audience_check;
    if (!APMPBHasField(&audience, kAudienceID))
        return refuse(error, kAudienceError, "Missing audience ID");
    const qint32 audienceID = APMPBGetInt32Field(&audience, kAudienceID);
    if (audienceID < 0)
        return refuse(error, kAudienceError, "Audience ID is negative");
    if (acceptedIDs.contains(audienceID))
        return refuse(error, kAudienceError, "Duplicate audience ID");
    const auto eventFilters = APMPBGetArrayField<APMPBEventFilter>(&audience, kAudienceEventFilters);
    const auto propertyFilters = APMPBGetArrayField<APMPBPropertyFilter>(&audience, kAudiencePropertyFilters);
    const qint64 filterCount = qint64(eventFilters.size()) + qint64(propertyFilters.size());
    if (filterCount < 1 || filterCount > limits.maxFiltersPerAudience)
        return refuse(error, kAudienceError, "Audience filter count out of range");
    QSet<qint32> filterIDs;
    for (const auto& filter : eventFilters) {
        if (!checkEventFilter(*filter, filterIDs, limits, error))
            return false;
    }
    for (const auto& filter : propertyFilters) {
        if (!checkPropertyFilter(*filter, filterIDs, limits, error))
            return false;
    }
    return true;
}
