#include "analytics/audience/APMAudienceDefinitions.h"

#include "analytics/audience/APMAudienceDefinitionCheck.h"
#include "analytics/audience/APMAudienceFilterMatching.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/model/APMEventNames.h"
#include "analytics/model/APMFilterResult.h"
#include "analytics/model/APMUserPropertyNames.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/wire/APMPBAudience.h"
#include "analytics/wire/APMPBEventFilter.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBFilter.h"
#include "analytics/wire/APMPBPropertyFilter.h"

using namespace audience_slot;

namespace audience_definitions {

APMMonitor& monitor()
{
    return APMLibrary::monitor();
}

// The audience with the public names of its filters turned into the
// internal ones the events and properties carry.
void mapNamesToInternal(APMPBAudience& audience)
{
    const QMap<QString, QString>& eventNames = APMPublicToInternalEventNames();
    const QMap<QString, QString>& parameterNames = APMPublicToInternalParameterNames();
    const QHash<QString, QString>& propertyNames = APMPublicToInternalUserPropertyNames();
    auto eventFilters = APMPBGetArrayField<APMPBEventFilter>(&audience, kAudienceEventFilters);
    for (auto& filter : eventFilters) {
        const QString name = APMPBGetStringField(filter.get(), kEventName);
        if (const auto it = eventNames.constFind(name); it != eventNames.constEnd())
            APMPBSetStringField(filter.get(), kEventName, *it);
        auto parameters = APMPBGetArrayField<APMPBFilter>(filter.get(), kEventParameterFilters);
        bool changed = false;
        for (auto& parameter : parameters) {
            const QString parameterName = APMPBGetStringField(parameter.get(), kFilterParamName);
            if (const auto it = parameterNames.constFind(parameterName); it != parameterNames.constEnd()) {
                APMPBSetStringField(parameter.get(), kFilterParamName, *it);
                changed = true;
            }
        }
        if (changed)
            APMPBSetArrayField(filter.get(), kEventParameterFilters, parameters);
    }
    APMPBSetArrayField(&audience, kAudienceEventFilters, eventFilters);
    auto propertyFilters = APMPBGetArrayField<APMPBPropertyFilter>(&audience, kAudiencePropertyFilters);
    for (auto& filter : propertyFilters) {
        const QString name = APMPBGetStringField(filter.get(), kPropertyName);
        if (const auto it = propertyNames.constFind(name); it != propertyNames.constEnd())
            APMPBSetStringField(filter.get(), kPropertyName, *it);
    }
    APMPBSetArrayField(&audience, kAudiencePropertyFilters, propertyFilters);
}


} // namespace audience_definitions

APMAudienceDefinitions::APMAudienceDefinitions(APMDatabase& database, LimitsProvider limits)
    : database_(database)
    , limits_(std::move(limits))
{
}

APMAudienceLimits APMAudienceDefinitions::limits() const
{
    return limits_ ? limits_() : APMAudienceLimits();
}

bool APMAudienceDefinitions::updateAudiences(const std::vector<std::unique_ptr<APMPBAudience>>& audiences)
{
    const APMAudienceLimits limit = limits();
    if (qint64(audiences.size()) > limit.maxAudienceCount) {
        audience_definitions::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 6008,
            QStringLiteral("Configuration contains too many audiences. Audiences will not be saved. Audience count"),
            qint64(audiences.size()));
        return true;
    }
    QSet<qint32> accepted;
    QList<APMEventFilter> eventRows;
    QList<APMPropertyFilter> propertyRows;
    for (const auto& given : audiences) {
        if (!given)
            continue;
        APMError checkError;
        if (!checkAudienceDefinition(*given, accepted, limit, &checkError)) {
            audience_definitions::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 6009,
                QStringLiteral("Audience definition is invalid. Audience will not be saved. Audience, error"),
                APMAudienceMessageForLog(given.get()), checkError.description());
            continue;
        }
        const qint32 audienceID = APMPBGetInt32Field(given.get(), kAudienceID);
        accepted.insert(audienceID);
        auto audience = APMPBAudience::initWithMessageInfo(given->messageInfo());
        if (!audience)
            continue;
        audience_definitions::mapNamesToInternal(*audience);
        for (const auto& filter : APMPBGetArrayField<APMPBEventFilter>(audience.get(), kAudienceEventFilters)) {
            eventRows.append(APMEventFilter(audienceID, APMPBGetInt32Field(filter.get(), kEventFilterID),
                APMPBGetStringField(filter.get(), kEventName), filter->protoBuffer().value_or(QByteArray()),
                APMPBGetBoolField(filter.get(), kEventSessionScoped), APMPBGetBoolField(filter.get(), kEventDynamic),
                APMPBGetBoolField(filter.get(), kEventSequence)));
        }
        for (const auto& filter :
            APMPBGetArrayField<APMPBPropertyFilter>(audience.get(), kAudiencePropertyFilters)) {
            propertyRows.append(APMPropertyFilter(audienceID, APMPBGetInt32Field(filter.get(), kPropertyFilterID),
                APMPBGetStringField(filter.get(), kPropertyName), filter->protoBuffer().value_or(QByteArray()),
                APMPBGetBoolField(filter.get(), kPropertySessionScoped),
                APMPBGetBoolField(filter.get(), kPropertyDynamic), APMPBGetBoolField(filter.get(), kPropertySequence)));
        }
    }
    if (!maybeDeleteStaleFilterResults(accepted))
        return false;
    forgetDefinitions();
    auto step = [](bool ok, const APMError& error, qint64 code, const char* message) {
        if (!ok && error.isSet()) {
            audience_definitions::monitor().logWithLevel(
                APMMonitor::kLevelErrorMonitored, code, QString::fromLatin1(message), error.description());
            return false;
        }
        return true;
    };
    APMError error;
    if (!step(database_.deleteAllEventFilters(&error), error, 6010,
            "Unable to delete existing Audience event filters. Audiences will not be saved. Error"))
        return false;
    error = APMError();
    if (!step(database_.deleteAllPropertyFilters(&error), error, 6011,
            "Unable to delete existing Audience user property filters. Audiences will not be saved. Error"))
        return false;
    error = APMError();
    if (!eventRows.isEmpty()
        && !step(database_.updateEventFilters(eventRows, &error), error, 6012,
            "Unable to save Audience event filters. Audiences will not be saved. Error"))
        return false;
    error = APMError();
    if (!propertyRows.isEmpty()
        && !step(database_.updatePropertyFilters(propertyRows, &error), error, 6013,
            "Unable to save Audience user property filters. Audiences will not be saved. Error"))
        return false;
    return true;
}

void APMAudienceDefinitions::forgetDefinitions()
{
    eventFiltersByName_.clear();
    propertyFiltersByName_.clear();
    decodedEventFilters_.clear();
    decodedPropertyFilters_.clear();
}

std::optional<QList<APMEventFilter>> APMAudienceDefinitions::eventFilterRows(
    const QString& eventName, APMError* error)
{
    if (const auto it = eventFiltersByName_.constFind(eventName); it != eventFiltersByName_.constEnd())
        return *it;
    auto rows = database_.eventFiltersForEventName(eventName, error);
    if (rows) {
        if (eventFiltersByName_.size() >= kMaxCachedNames)
            eventFiltersByName_.clear();
        eventFiltersByName_.insert(eventName, *rows);
    }
    return rows;
}

std::optional<QList<APMPropertyFilter>> APMAudienceDefinitions::propertyFilterRows(
    const QString& propertyName, APMError* error)
{
    if (const auto it = propertyFiltersByName_.constFind(propertyName); it != propertyFiltersByName_.constEnd())
        return *it;
    auto rows = database_.propertyFiltersForPropertyName(propertyName, error);
    if (rows) {
        if (propertyFiltersByName_.size() >= kMaxCachedNames)
            propertyFiltersByName_.clear();
        propertyFiltersByName_.insert(propertyName, *rows);
    }
    return rows;
}

std::shared_ptr<const APMPBEventFilter> APMAudienceDefinitions::decodedEventFilter(const QByteArray& data)
{
    if (data.isEmpty())
        return nullptr;
    if (const auto it = decodedEventFilters_.constFind(data); it != decodedEventFilters_.constEnd())
        return *it;
    std::shared_ptr<const APMPBEventFilter> decoded = APMPBEventFilter::initWithBuffer(data);
    if (decoded && decodedEventFilters_.size() < kMaxCachedNames * 4)
        decodedEventFilters_.insert(data, decoded);
    return decoded;
}

std::shared_ptr<const APMPBPropertyFilter> APMAudienceDefinitions::decodedPropertyFilter(const QByteArray& data)
{
    if (data.isEmpty())
        return nullptr;
    if (const auto it = decodedPropertyFilters_.constFind(data); it != decodedPropertyFilters_.constEnd())
        return *it;
    std::shared_ptr<const APMPBPropertyFilter> decoded = APMPBPropertyFilter::initWithBuffer(data);
    if (decoded && decodedPropertyFilters_.size() < kMaxCachedNames * 4)
        decodedPropertyFilters_.insert(data, decoded);
    return decoded;
}

bool APMAudienceDefinitions::maybeDeleteStaleFilterResults(const QSet<qint32>& acceptedAudienceIDs)
{
    APMError error;
    const auto results = database_.allFilterResults(&error);
    if (!results) {
        audience_definitions::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 6015,
            QStringLiteral("Unable to query Audience filter results. Audiences will not be saved. Error"),
            error.description());
        return false;
    }
    const qint32 maximum = limits().maxFilterResultCount;
    if (results->size() <= maximum)
        return true;
    audience_definitions::monitor().logWithLevel(APMMonitor::kLevelWarning, 6016,
        QStringLiteral("Too many Audience filter results. Deleting filter results for deleted Audiences. Filter "
                       "result count, max filter result count"),
        qint64(results->size()), maximum);
    const auto storedIDs = database_.allAudienceIDs(&error);
    if (!storedIDs) {
        audience_definitions::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 6017,
            QStringLiteral("Unable to query current Audience IDs. Audiences will not be saved. Error"),
            error.description());
        return false;
    }
    const QSet<qint32> kept = QSet<qint32>(storedIDs->begin(), storedIDs->end()) | acceptedAudienceIDs;
    QList<APMFilterResult> stale;
    for (const APMFilterResult& result : *results) {
        if (!kept.contains(result.audienceID()))
            stale.append(result);
    }
    // Nothing stale: nothing to delete, and the data layer refuses an empty
    // list, which would fail the whole configuration for no reason.
    if (stale.isEmpty())
        return true;
    if (!database_.deleteFilterResults(stale, &error)) {
        audience_definitions::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 6018,
            QStringLiteral("Unable to delete stale Audience filter results. Audiences will not be saved. Error"),
            error.description());
        return false;
    }
    return true;
}
