#include "analytics/audience/APMAudience.h"

#include "analytics/audience/APMAudienceDefinitionCheck.h"
#include "analytics/audience/APMAudienceFilterMatching.h"
#include "analytics/audience/APMAudienceResultWords.h"
#include "analytics/audience/APMAudienceTimestampsCache.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMValue.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMEventFilter.h"
#include "analytics/model/APMEventNames.h"
#include "analytics/model/APMFilterResult.h"
#include "analytics/model/APMLogNames.h"
#include "analytics/model/APMPropertyFilter.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/model/APMUserPropertyNames.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/wire/APMPBAudience.h"
#include "analytics/wire/APMPBAudienceLeafFilterResult.h"
#include "analytics/wire/APMPBDynamicFilterResultTimestamp.h"
#include "analytics/wire/APMPBEventFilter.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBFilter.h"
#include "analytics/wire/APMPBPropertyFilter.h"
#include "analytics/wire/APMPBResultData.h"
#include "analytics/wire/APMPBSequenceFilterResultTimestamp.h"
#include "analytics/wire/APMPBUserAttribute.h"

#include <QHash>

using namespace audience_slot;
using namespace audience_words;

namespace audience_evaluation {

constexpr int kResultStatusSlot = 0, kResultResultsSlot = 1, kResultDynamicSlot = 2, kResultSequenceSlot = 3;
constexpr int kLeafAudienceIDSlot = 0, kLeafCurrentSlot = 1, kLeafPreviousSlot = 2, kLeafPreviousClearedSlot = 3;
constexpr int kSequenceTimesSlot = 1;
constexpr int kAttributeSetTimeSlot = 0, kAttributeNameSlot = 1, kAttributeStringSlot = 2, kAttributeIntSlot = 3,
              kAttributeDoubleSlot = 5;

APMMonitor& monitor()
{
    return APMLibrary::monitor();
}

QVariant errorForLog(const APMError& error)
{
    return error.description();
}

// The decoded current result of a row; nothing when the row has none or it
// does not decode.
std::unique_ptr<APMPBResultData> currentResultOf(const APMFilterResult* row)
{
    if (!row || row->currentResults().isEmpty())
        return nullptr;
    return APMPBResultData::initWithBuffer(row->currentResults());
}

QByteArray encoded(const NANOMessageBase& message)
{
    return message.protoBuffer().value_or(QByteArray());
}

// What differs between the event frame and the user-property frame.
struct FrameTexts {
    QString nameForLog;
    qint64 readCode;
    QString readMessage;
};

} // namespace audience_evaluation

// The result rows of the audiences one evaluation touches: each read from
// the database at most once and written once, at the end of the call or,
// for a whole bundle, at the end of the bundle.
class APMAudience::ResultRows {
public:
    // One audience's result as read, and its words as evaluated so far.
    struct Audience {
        std::optional<APMFilterResult> stored;
        QList<quint64> status, results;
        bool changed = false;
    };
    QHash<qint32, Audience> audiences;
};

namespace audience_evaluation {

// The words of a stored result; a row with result bytes but without both
// word lists counts as no result (logged, as when reading one filter).
void wordsOf(const APMFilterResult* row, QList<quint64>& status, QList<quint64>& results)
{
    if (!row || row->currentResults().isEmpty())
        return;
    const auto message = currentResultOf(row);
    if (message) {
        status = wordsFromVariants(APMPBGetArrayField(message.get(), kResultStatusSlot));
        results = wordsFromVariants(APMPBGetArrayField(message.get(), kResultResultsSlot));
    }
    if (status.isEmpty() || results.isEmpty()) {
        monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 6023,
            QStringLiteral("Audience filter result is non-nil and is missing status or results array. Audience "
                           "result will not be bundled. Audience ID, result data"),
            row->audienceID(), message ? APMAudienceMessageForLog(message.get()) : QString());
        status.clear();
        results.clear();
    }
}

// The result message of the words with the audience's times from the cache.
QByteArray encodedResult(
    const QList<quint64>& status, const QList<quint64>& results, qint32 audienceID, APMAudienceTimestampsCache& cache)
{
    auto next = APMPBResultData::initWithMessageInfo();
    APMPBSetArrayField(next.get(), kResultStatusSlot, variantsFromWords(status));
    APMPBSetArrayField(next.get(), kResultResultsSlot, variantsFromWords(results));
    APMPBSetArrayField(next.get(), kResultDynamicSlot, cache.dynamicTimestampsForAudienceID(audienceID));
    if (const auto sequence = cache.sequenceTimestampsForAudienceID(audienceID))
        APMPBSetArrayField(next.get(), kResultSequenceSlot, *sequence);
    return encoded(*next);
}

// Records one outcome into the words; both lists keep one length, grown
// with zero words as higher IDs come.
void recordOutcome(QList<quint64>& status, QList<quint64>& results, qint32 filterID, std::optional<bool> outcome)
{
    const qsizetype word = audienceResultWordIndex(qMax(filterID, 0));
    while (status.size() <= word || results.size() <= word) {
        if (status.size() <= word)
            status.append(0);
        if (results.size() <= word)
            results.append(0);
    }
    setBit(status, filterID, outcome.has_value());
    setBit(results, filterID, outcome.value_or(false));
}

// Evaluates the filter rows of one name into the rows store. `evaluate`
// answers the outcome of one row (nothing when it is not evaluable or does
// not decode); `decide` turns the outcome and the earlier state into the
// value recorded, and records its time. Each audience's row is read once
// and held as words until the store is saved.
template <class FilterRow>
bool evaluateFilterRows(APMDatabase& database, const QList<FilterRow>& rows, APMAudienceTimestampsCache& cache,
    APMAudience::ResultRows& store, const FrameTexts& texts,
    const std::function<std::optional<bool>(const FilterRow&)>& evaluate,
    const std::function<bool(const FilterRow&, bool wasTrue, bool outcome, APMAudienceTimestampsCache&)>& decide)
{
    for (const FilterRow& row : rows) {
        const qint32 audienceID = row.audienceID();
        const qint32 filterID = row.filterID();
        if (filterID < 0 || filterID >= kMaxFilterID)
            continue;
        auto audience = store.audiences.find(audienceID);
        if (audience == store.audiences.end()) {
            APMError error;
            auto read = database.filterResultForAudienceID(audienceID, &error);
            if (!read && error.isSet()) {
                monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, texts.readCode, texts.readMessage,
                    texts.nameForLog, errorForLog(error));
                return false;
            }
            APMAudience::ResultRows::Audience loaded;
            loaded.stored = std::move(read);
            wordsOf(loaded.stored ? &*loaded.stored : nullptr, loaded.status, loaded.results);
            audience = store.audiences.insert(audienceID, std::move(loaded));
        }
        const bool wasTrue = isBitSet(audience->status, filterID) && isBitSet(audience->results, filterID);
        if (wasTrue && !row.isDynamic() && !row.isSequence() && !row.isSessionScoped())
            continue;
        const std::optional<bool> outcome = evaluate(row);
        if (!outcome)
            continue;
        cache.populateCachedTimestamps(audience->stored ? &*audience->stored : nullptr, audienceID);
        recordOutcome(audience->status, audience->results, filterID, decide(row, wasTrue, *outcome, cache));
        audience->changed = true;
    }
    return true;
}

// Writes the changed rows in one call.
bool saveResultRows(APMDatabase& database, APMAudience::ResultRows& store, APMAudienceTimestampsCache& cache,
    qint64 code, const QString& message, const QString& nameForLog)
{
    QList<APMFilterResult> rows;
    for (auto it = store.audiences.begin(); it != store.audiences.end(); ++it) {
        if (!it->changed)
            continue;
        rows.append(APMFilterResult(it.key(), encodedResult(it->status, it->results, it.key(), cache),
            it->stored ? it->stored->previousResults() : QByteArray()));
    }
    if (rows.isEmpty())
        return true;
    APMError error;
    if (!database.updateFilterResults(rows, &error) && error.isSet()) {
        monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, code, message, nameForLog, errorForLog(error));
        return false;
    }
    store.audiences.clear();
    return true;
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

} // namespace audience_evaluation


APMAudience::APMAudience(APMDatabase& database, LimitsProvider limits)
    : database_(database)
    , limits_(std::move(limits))
{
}

APMAudienceLimits APMAudience::limits() const
{
    return limits_ ? limits_() : APMAudienceLimits();
}

bool APMAudience::updateAudiences(const std::vector<std::unique_ptr<APMPBAudience>>& audiences)
{
    const APMAudienceLimits limit = limits();
    if (qint64(audiences.size()) > limit.maxAudienceCount) {
        audience_evaluation::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 6008,
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
            audience_evaluation::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 6009,
                QStringLiteral("Audience definition is invalid. Audience will not be saved. Audience, error"),
                APMAudienceMessageForLog(given.get()), checkError.description());
            continue;
        }
        const qint32 audienceID = APMPBGetInt32Field(given.get(), kAudienceID);
        accepted.insert(audienceID);
        auto audience = APMPBAudience::initWithMessageInfo(given->messageInfo());
        if (!audience)
            continue;
        audience_evaluation::mapNamesToInternal(*audience);
        for (const auto& filter : APMPBGetArrayField<APMPBEventFilter>(audience.get(), kAudienceEventFilters)) {
            eventRows.append(APMEventFilter(audienceID, APMPBGetInt32Field(filter.get(), kEventFilterID),
                APMPBGetStringField(filter.get(), kEventName), audience_evaluation::encoded(*filter),
                APMPBGetBoolField(filter.get(), kEventSessionScoped), APMPBGetBoolField(filter.get(), kEventDynamic),
                APMPBGetBoolField(filter.get(), kEventSequence)));
        }
        for (const auto& filter :
            APMPBGetArrayField<APMPBPropertyFilter>(audience.get(), kAudiencePropertyFilters)) {
            propertyRows.append(APMPropertyFilter(audienceID, APMPBGetInt32Field(filter.get(), kPropertyFilterID),
                APMPBGetStringField(filter.get(), kPropertyName), audience_evaluation::encoded(*filter),
                APMPBGetBoolField(filter.get(), kPropertySessionScoped),
                APMPBGetBoolField(filter.get(), kPropertyDynamic), APMPBGetBoolField(filter.get(), kPropertySequence)));
        }
    }
    if (!maybeDeleteStaleFilterResults(accepted))
        return false;
    forgetDefinitions();
    auto step = [](bool ok, const APMError& error, qint64 code, const char* message) {
        if (!ok && error.isSet()) {
            audience_evaluation::monitor().logWithLevel(
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

void APMAudience::forgetDefinitions()
{
    eventFiltersByName_.clear();
    propertyFiltersByName_.clear();
    decodedEventFilters_.clear();
    decodedPropertyFilters_.clear();
}

std::optional<QList<APMEventFilter>> APMAudience::eventFilterRows(const QString& eventName, APMError* error)
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

std::optional<QList<APMPropertyFilter>> APMAudience::propertyFilterRows(const QString& propertyName, APMError* error)
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

std::shared_ptr<const APMPBEventFilter> APMAudience::decodedEventFilter(const QByteArray& data)
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

std::shared_ptr<const APMPBPropertyFilter> APMAudience::decodedPropertyFilter(const QByteArray& data)
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

bool APMAudience::maybeDeleteStaleFilterResults(const QSet<qint32>& acceptedAudienceIDs)
{
    APMError error;
    const auto results = database_.allFilterResults(&error);
    if (!results) {
        audience_evaluation::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 6015,
            QStringLiteral("Unable to query Audience filter results. Audiences will not be saved. Error"),
            error.description());
        return false;
    }
    const qint32 maximum = limits().maxFilterResultCount;
    if (results->size() <= maximum)
        return true;
    audience_evaluation::monitor().logWithLevel(APMMonitor::kLevelWarning, 6016,
        QStringLiteral("Too many Audience filter results. Deleting filter results for deleted Audiences. Filter "
                       "result count, max filter result count"),
        qint64(results->size()), maximum);
    const auto storedIDs = database_.allAudienceIDs(&error);
    if (!storedIDs) {
        audience_evaluation::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 6017,
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
        audience_evaluation::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 6018,
            QStringLiteral("Unable to delete stale Audience filter results. Audiences will not be saved. Error"),
            error.description());
        return false;
    }
    return true;
}

bool APMAudience::evaluateFiltersForEvent(
    const APMEvent& event, const APMEventAggregates* aggregates, APMAudienceTimestampsCache* cache)
{
    return evaluateFiltersForEventName(event.name(), event.parameters(), aggregates, event.timestamp(), cache);
}

bool APMAudience::evaluateFiltersForEventName(const QString& eventName, const EventParameters& parameters,
    const APMEventAggregates* aggregates, double eventTimestamp, APMAudienceTimestampsCache* cache)
{
    APMAudienceTimestampsCache own;
    APMAudienceTimestampsCache& timestamps = cache ? *cache : own;
    ResultRows rows;
    return evaluateEvent(eventName, parameters, aggregates, eventTimestamp, timestamps, rows)
        && audience_evaluation::saveResultRows(database_, rows, timestamps, 6003,
            QStringLiteral(
                "Unable to save updated Audience filter results. Event will not be evaluated. Event name, error"),
            APMEventNameForLog(eventName));
}

bool APMAudience::evaluateEvent(const QString& eventName, const EventParameters& parameters,
    const APMEventAggregates* aggregates, double eventTimestamp, APMAudienceTimestampsCache& cache, ResultRows& store)
{
    APMError error;
    const auto rows = eventFilterRows(eventName, &error);
    if (!rows) {
        if (!error.isSet())
            return true;
        audience_evaluation::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 6000,
            QStringLiteral("Unable to query event filters for event. Event will not be evaluated. Event name, error"),
            APMEventNameForLog(eventName), error.description());
        return false;
    }
    if (rows->isEmpty())
        return true;
    const audience_evaluation::FrameTexts texts { APMEventNameForLog(eventName), 6001,
        QStringLiteral("Unable to query filter result for audience. Event will not be evaluated. Event name, error") };
    const auto evaluate = [&](const APMEventFilter& row) -> std::optional<bool> {
        const auto filter = decodedEventFilter(row.data());
        if (!filter) {
            audience_evaluation::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 6035,
                QStringLiteral("Event filter contains no data or corrupt data. Event will not be evaluated. Event "
                               "name, filter ID, audience ID, dynamic"),
                QVariantList { APMEventNameForLog(eventName), row.filterID(), row.audienceID(), row.isDynamic() });
            return std::nullopt;
        }
        return evaluateEventFilter(filter.get(), eventName, parameters, aggregates);
    };
    const auto decide
        = [&](const APMEventFilter& row, bool wasTrue, bool outcome, APMAudienceTimestampsCache& timestamps) {
              // An event filter that once matched stays matched: a later
              // event that does not match neither clears it nor moves its
              // times.
              if (outcome)
                  timestamps.addEvaluationTimestamp(eventTimestamp, row);
              return outcome || wasTrue;
          };
    return audience_evaluation::evaluateFilterRows<APMEventFilter>(
        database_, *rows, cache, store, texts, evaluate, decide);
}

bool APMAudience::evaluateFiltersForUserProperty(
    const APMUserAttribute& attribute, APMAudienceTimestampsCache* cache, double evaluationTimestamp)
{
    APMAudienceTimestampsCache own;
    APMAudienceTimestampsCache& timestamps = cache ? *cache : own;
    ResultRows rows;
    return evaluateProperty(attribute, timestamps, evaluationTimestamp, rows)
        && audience_evaluation::saveResultRows(database_, rows, timestamps, 6007,
            QStringLiteral("Unable to save updated Audience filter results. User property will not be evaluated. "
                           "User property name, error"),
            APMUserPropertyNameForLog(attribute.name()));
}

bool APMAudience::evaluateProperty(
    const APMUserAttribute& attribute, APMAudienceTimestampsCache& cache, double evaluationTimestamp, ResultRows& store)
{
    APMError error;
    const QString nameForLog = APMUserPropertyNameForLog(attribute.name());
    const auto rows = propertyFilterRows(attribute.name(), &error);
    if (!rows) {
        if (!error.isSet())
            return true;
        audience_evaluation::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 6004,
            QStringLiteral(
                "Unable to query property filters for property. Property will not be evaluated. Property name, error"),
            nameForLog, error.description());
        return false;
    }
    if (rows->isEmpty())
        return true;
    const audience_evaluation::FrameTexts texts { nameForLog, 6005,
        QStringLiteral(
            "Unable to query filter result for audience. Property will not be evaluated. Property name, error") };
    const auto evaluate = [&](const APMPropertyFilter& row) -> std::optional<bool> {
        const auto filter = decodedPropertyFilter(row.data());
        if (!filter) {
            audience_evaluation::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 6036,
                QStringLiteral("User property filter contains no data or corrupt data. User property will not be "
                               "evaluated. User property name, filter ID, audience ID, dynamic"),
                QVariantList { nameForLog, row.filterID(), row.audienceID(), row.isDynamic() });
            return std::nullopt;
        }
        return evaluatePropertyFilter(filter.get(), &attribute);
    };
    const auto decide
        = [&](const APMPropertyFilter& row, bool wasTrue, bool outcome, APMAudienceTimestampsCache& timestamps) {
              if (outcome) {
                  timestamps.addEvaluationTimestamp(evaluationTimestamp, row);
                  return true;
              }
              // A dynamic property filter follows the property's current
              // value; any other keeps what it had.
              if (row.isDynamic() && !row.isSessionScoped())
                  return false;
              return wasTrue;
          };
    return audience_evaluation::evaluateFilterRows<APMPropertyFilter>(
        database_, *rows, cache, store, texts, evaluate, decide);
}

bool APMAudience::evaluateBundle(const std::vector<BundleEvent>& events, const QList<APMUserAttribute>& properties,
    double evaluationTimestamp, APMAudienceTimestampsCache& cache)
{
    ResultRows rows;
    for (const BundleEvent& entry : events) {
        if (!entry.event || !evaluateEvent(entry.event->name(), entry.event->parameters(), entry.aggregates,
                entry.event->timestamp(), cache, rows))
            return false;
    }
    for (const APMUserAttribute& property : properties) {
        if (!evaluateProperty(property, cache, evaluationTimestamp, rows))
            return false;
    }
    return audience_evaluation::saveResultRows(database_, rows, cache, 6003,
        QStringLiteral("Unable to save updated Audience filter results. Event will not be evaluated. Event name, error"),
        QString());
}

std::optional<APMUserAttribute> APMAudience::userAttributeFromNanoUserProperty(const APMPBUserAttribute& property)
{
    using namespace audience_evaluation;
    std::optional<APMValue> value;
    if (APMPBHasField(&property, kAttributeStringSlot)) {
        value = APMValue::initWithString(APMPBGetStringField(&property, kAttributeStringSlot));
    } else if (APMPBHasField(&property, kAttributeDoubleSlot)) {
        value = APMValue::initWithDouble(APMPBGetDoubleField(&property, kAttributeDoubleSlot));
    } else if (APMPBHasField(&property, kAttributeIntSlot)) {
        value = APMValue::initWithInt64(APMPBGetInt64Field(&property, kAttributeIntSlot));
    }
    if (!value)
        return std::nullopt;
    return APMUserAttribute::initWithOrigin(QString(), APMPBGetStringField(&property, kAttributeNameSlot), *value,
        double(APMPBGetInt64Field(&property, kAttributeSetTimeSlot)) / 1000.0);
}

bool APMAudience::evaluateFiltersForNanoUserProperty(
    const APMPBUserAttribute& property, APMAudienceTimestampsCache* cache, std::optional<double> evaluationTime)
{
    const auto attribute = userAttributeFromNanoUserProperty(property);
    if (!attribute) {
        audience_evaluation::monitor().logWithLevel(
            APMMonitor::kLevelErrorSilent, 6039, QStringLiteral("Could not convert user property from nano format."));
        return false;
    }
    return evaluateFiltersForUserProperty(*attribute, cache, evaluationTime.value_or(attribute->lastSetTimestamp()));
}

bool APMAudience::isFilterResultTrueForFilterID(const APMFilterResult* result, qint32 filterID)
{
    using namespace audience_evaluation;
    if (!result || result->currentResults().isEmpty())
        return false;
    const auto message = currentResultOf(result);
    const QList<quint64> status = message ? wordsFromVariants(APMPBGetArrayField(message.get(), kResultStatusSlot))
                                          : QList<quint64>();
    const QList<quint64> results = message
        ? wordsFromVariants(APMPBGetArrayField(message.get(), kResultResultsSlot))
        : QList<quint64>();
    if (status.isEmpty() || results.isEmpty()) {
        audience_evaluation::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 6023,
            QStringLiteral("Audience filter result is non-nil and is missing status or results array. Audience "
                           "result will not be bundled. Audience ID, result data"),
            result->audienceID(), message ? APMAudienceMessageForLog(message.get()) : QString());
        return false;
    }
    return isBitSet(status, filterID) && isBitSet(results, filterID);
}

APMFilterResult APMAudience::updatedFilterResultWithFilterID(qint32 filterID, qint32 audienceID,
    const APMFilterResult* current, std::optional<bool> newEvaluationResult, APMAudienceTimestampsCache& cache)
{
    using namespace audience_evaluation;
    QList<quint64> status, results;
    if (const auto message = currentResultOf(current)) {
        status = wordsFromVariants(APMPBGetArrayField(message.get(), kResultStatusSlot));
        results = wordsFromVariants(APMPBGetArrayField(message.get(), kResultResultsSlot));
    }
    recordOutcome(status, results, filterID, newEvaluationResult);
    return APMFilterResult(audienceID, encodedResult(status, results, audienceID, cache),
        current ? current->previousResults() : QByteArray());
}

std::optional<std::vector<std::unique_ptr<APMPBAudienceLeafFilterResult>>> APMAudience::resultsForBundling()
{
    using namespace audience_evaluation;
    APMError error;
    const auto rows = database_.allFilterResults(&error);
    if (!rows) {
        audience_evaluation::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 6019,
            QStringLiteral("Unable to query Audience filter results. Audience results will not be bundled. Error"),
            error.description());
        return std::nullopt;
    }
    std::vector<std::unique_ptr<APMPBAudienceLeafFilterResult>> leaves;
    QList<APMFilterResult> queued;
    for (const APMFilterResult& row : *rows) {
        auto current = currentResultOf(&row);
        if (!current) {
            audience_evaluation::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 6020,
                QStringLiteral("Current result data is nil. Audience result will not be bundled. Audience ID"),
                row.audienceID());
            continue;
        }
        if (!anyStatusBitSet(wordsFromVariants(APMPBGetArrayField(current.get(), kResultStatusSlot)))) {
            audience_evaluation::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 6021,
                QStringLiteral("Current result status is 0. Audience result will not be bundled. Audience ID"),
                row.audienceID());
            continue;
        }
        auto leaf = APMPBAudienceLeafFilterResult::initWithMessageInfo();
        APMPBSetInt32Field(leaf.get(), kLeafAudienceIDSlot, row.audienceID());
        APMPBSetMessageField(leaf.get(), kLeafCurrentSlot, current.get());
        if (!row.previousResults().isEmpty()) {
            APMPBSetBoolField(leaf.get(), kLeafPreviousClearedSlot, false);
            const auto previous = APMPBResultData::initWithBuffer(row.previousResults());
            if (previous && encoded(*previous) == encoded(*current)) {
                // Nothing new since the last bundle: no previous result, and
                // the first sequence filter keeps only its latest time.
                auto sequences = APMPBGetArrayField<APMPBSequenceFilterResultTimestamp>(
                    current.get(), kResultSequenceSlot);
                if (!sequences.empty()) {
                    const QVariantList times = APMPBGetArrayField(sequences.front().get(), kSequenceTimesSlot);
                    if (times.size() >= 2) {
                        APMPBSetArrayField(sequences.front().get(), kSequenceTimesSlot, QVariantList { times.last() });
                        APMPBSetArrayField(current.get(), kResultSequenceSlot, sequences);
                        APMPBSetMessageField(leaf.get(), kLeafCurrentSlot, current.get());
                    }
                }
            } else if (previous) {
                APMPBSetMessageField(leaf.get(), kLeafPreviousSlot, previous.get());
            }
        } else {
            APMPBSetBoolField(leaf.get(), kLeafPreviousClearedSlot, true);
        }
        leaves.push_back(std::move(leaf));
        queued.append(APMFilterResult(row.audienceID(), encoded(*current), row.currentResults()));
    }
    if (!queued.isEmpty()) {
        error = APMError();
        if (!database_.updateFilterResults(queued, &error) && error.isSet()) {
            audience_evaluation::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 6022,
                QStringLiteral("Unable to save updated Audience filter results. Audience results will not be "
                               "bundled. Error"),
                error.description());
            return std::nullopt;
        }
    }
    return leaves;
}

bool APMAudience::clearEvaluationResultsForSessionScopedFilters()
{
    using namespace audience_evaluation;
    APMError error;
    const auto sessionScoped = database_.allSessionScopedFilters(&error);
    if (!sessionScoped) {
        audience_evaluation::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 6040,
            QStringLiteral("Unable to query all session scoped filters. Session scoped results will not be cleared. "
                           "Error"),
            error.description());
        return false;
    }
    const auto rows = database_.allFilterResults(&error);
    if (!rows) {
        audience_evaluation::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 6041,
            QStringLiteral("Unable to query all filter results. Session scoped results will not be cleared. Error"),
            error.description());
        return false;
    }
    for (auto it = sessionScoped->constBegin(); it != sessionScoped->constEnd(); ++it) {
        const auto row = rows->constFind(it.key());
        if (row == rows->constEnd())
            continue;
        auto message = currentResultOf(&*row);
        if (!message)
            message = APMPBResultData::initWithMessageInfo();
        QList<quint64> status = wordsFromVariants(APMPBGetArrayField(message.get(), kResultStatusSlot));
        QList<quint64> results = wordsFromVariants(APMPBGetArrayField(message.get(), kResultResultsSlot));
        const QSet<qint32> cleared(it->begin(), it->end());
        for (qint32 filterID : cleared) {
            if (filterID < 0)
                continue;
            const qsizetype word = audienceResultWordIndex(filterID);
            if (word < status.size())
                setBit(status, filterID, false);
            if (word < results.size())
                setBit(results, filterID, false);
        }
        error = APMError();
        if (anyStatusBitSet(status)) {
            APMPBSetArrayField(message.get(), kResultStatusSlot, variantsFromWords(status));
            APMPBSetArrayField(message.get(), kResultResultsSlot, variantsFromWords(results));
            auto dynamic = APMPBGetArrayField<APMPBDynamicFilterResultTimestamp>(message.get(), kResultDynamicSlot);
            std::erase_if(dynamic, [&](const auto& entry) { return cleared.contains(APMPBGetInt32Field(entry.get(), 0)); });
            APMPBSetArrayField(message.get(), kResultDynamicSlot, dynamic);
            auto sequence
                = APMPBGetArrayField<APMPBSequenceFilterResultTimestamp>(message.get(), kResultSequenceSlot);
            std::erase_if(sequence, [&](const auto& entry) { return cleared.contains(APMPBGetInt32Field(entry.get(), 0)); });
            APMPBSetArrayField(message.get(), kResultSequenceSlot, sequence);
            if (!database_.updateFilterResults(
                    { APMFilterResult(it.key(), encoded(*message), row->currentResults()) }, &error)) {
                audience_evaluation::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 6043,
                    QStringLiteral("Unable to update filter results. Session scoped results will not be cleared. "
                                   "Error"),
                    error.description());
                return false;
            }
        } else if (!database_.deleteFilterResults({ *row }, &error)) {
            audience_evaluation::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 6042,
                QStringLiteral("Unable to delete filter results. Session scoped results will not be cleared. Error"),
                error.description());
            return false;
        }
    }
    return true;
}
