#include "analytics/audience/APMAudience.h"

#include "analytics/audience/APMAudienceFilterMatching.h"
#include "analytics/audience/APMAudienceResultRows.h"
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
#include "analytics/store/APMDatabase.h"
#include "analytics/wire/APMPBAudienceLeafFilterResult.h"
#include "analytics/wire/APMPBDynamicFilterResultTimestamp.h"
#include "analytics/wire/APMPBEventFilter.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBPropertyFilter.h"
#include "analytics/wire/APMPBResultData.h"
#include "analytics/wire/APMPBSequenceFilterResultTimestamp.h"
#include "analytics/wire/APMPBUserAttribute.h"

#include <functional>

using namespace audience_words;

namespace audience_evaluation {

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

// What differs between the event frame and the user-property frame.
struct FrameTexts {
    QString nameForLog;
    qint64 readCode;
    QString readMessage;
    qint64 saveCode;
    QString saveMessage;
};

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

// Evaluates the filter rows of one name into the audiences' rows.
// `evaluate` answers the outcome of one filter row (nothing when it is not
// evaluable or does not decode); `decide` turns the outcome and the earlier
// state into the value recorded, and records its time. Nothing is written
// here: a call writes its own rows at its end, a bundling pass its rows once at
// the end of the bundle.
template <class FilterRow>
bool evaluateFilterRows(const QList<FilterRow>& rows, APMAudienceResultRows& results,
    APMAudienceTimestampsCache& cache, const FrameTexts& texts,
    const std::function<std::optional<bool>(const FilterRow&)>& evaluate,
    const std::function<bool(const FilterRow&, bool wasTrue, bool outcome, APMAudienceTimestampsCache&)>& decide)
{
    for (const FilterRow& row : rows) {
        const qint32 audienceID = row.audienceID();
        const qint32 filterID = row.filterID();
        if (filterID < 0 || filterID >= kMaxFilterID)
            continue;
        APMError error;
        APMAudienceResultRows::Row* audience = results.row(audienceID, &error);
        if (!audience) {
            monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, texts.readCode, texts.readMessage,
                texts.nameForLog, errorForLog(error));
            return false;
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

// Writes the rows an evaluation call changed; a failure is logged with the
// call's own texts.
bool writeRows(APMAudienceResultRows& rows, const APMAudienceTimestampsCache& cache, const FrameTexts& texts)
{
    APMError error;
    if (!rows.write(cache, &error)) {
        monitor().logWithLevel(
            APMMonitor::kLevelErrorMonitored, texts.saveCode, texts.saveMessage, texts.nameForLog, errorForLog(error));
        return false;
    }
    return true;
}

} // namespace audience_evaluation

APMAudience::APMAudience(APMDatabase& database, LimitsProvider limits)
    : database_(database)
    , definitions_(database, std::move(limits))
    , bundler_(database)
{
}

bool APMAudience::updateAudiences(const std::vector<std::unique_ptr<APMPBAudience>>& audiences)
{
    return definitions_.updateAudiences(audiences);
}

bool APMAudience::maybeDeleteStaleFilterResults(const QSet<qint32>& acceptedAudienceIDs)
{
    return definitions_.maybeDeleteStaleFilterResults(acceptedAudienceIDs);
}

std::optional<std::vector<std::unique_ptr<APMPBAudienceLeafFilterResult>>> APMAudience::resultsForBundling()
{
    return bundler_.resultsForBundling();
}

bool APMAudience::writeBundleResults(APMAudienceResultRows& results, const APMAudienceTimestampsCache& cache)
{
    APMError error;
    if (!results.write(cache, &error)) {
        audience_evaluation::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 6022,
            QStringLiteral(
                "Unable to save updated Audience filter results. Audience results will not be bundled. Error"),
            error.description());
        return false;
    }
    return true;
}

bool APMAudience::clearEvaluationResultsForSessionScopedFilters()
{
    return bundler_.clearEvaluationResultsForSessionScopedFilters();
}

bool APMAudience::evaluateFiltersForEvent(const APMEvent& event, const APMEventAggregates* aggregates,
    APMAudienceTimestampsCache* cache, APMAudienceResultRows* results)
{
    return evaluateFiltersForEventName(
        event.name(), event.parameters(), aggregates, event.timestamp(), cache, results);
}

bool APMAudience::evaluateFiltersForEventName(const QString& eventName, const EventParameters& parameters,
    const APMEventAggregates* aggregates, double eventTimestamp, APMAudienceTimestampsCache* cache,
    APMAudienceResultRows* results)
{
    APMAudienceTimestampsCache ownCache;
    APMAudienceTimestampsCache& usedCache = cache ? *cache : ownCache;
    APMAudienceResultRows ownResults(database_);
    APMAudienceResultRows& usedResults = results ? *results : ownResults;
    APMError error;
    const auto rows = definitions_.eventFilterRows(eventName, &error);
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
        QStringLiteral("Unable to query filter result for audience. Event will not be evaluated. Event name, error"),
        6003,
        QStringLiteral(
            "Unable to save updated Audience filter results. Event will not be evaluated. Event name, error") };
    const auto evaluate = [&](const APMEventFilter& row) -> std::optional<bool> {
        const auto filter = definitions_.decodedEventFilter(row.data());
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
    if (!audience_evaluation::evaluateFilterRows<APMEventFilter>(
            *rows, usedResults, usedCache, texts, evaluate, decide))
        return false;
    return results || audience_evaluation::writeRows(ownResults, usedCache, texts);
}

bool APMAudience::evaluateFiltersForUserProperty(const APMUserAttribute& attribute,
    APMAudienceTimestampsCache* cache, double evaluationTimestamp, APMAudienceResultRows* results)
{
    APMAudienceTimestampsCache ownCache;
    APMAudienceTimestampsCache& usedCache = cache ? *cache : ownCache;
    APMAudienceResultRows ownResults(database_);
    APMAudienceResultRows& usedResults = results ? *results : ownResults;
    APMError error;
    const QString nameForLog = APMUserPropertyNameForLog(attribute.name());
    const auto rows = definitions_.propertyFilterRows(attribute.name(), &error);
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
            "Unable to query filter result for audience. Property will not be evaluated. Property name, error"),
        6007,
        QStringLiteral("Unable to save updated Audience filter results. User property will not be evaluated. "
                       "User property name, error") };
    const auto evaluate = [&](const APMPropertyFilter& row) -> std::optional<bool> {
        const auto filter = definitions_.decodedPropertyFilter(row.data());
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
    if (!audience_evaluation::evaluateFilterRows<APMPropertyFilter>(
            *rows, usedResults, usedCache, texts, evaluate, decide))
        return false;
    return results || audience_evaluation::writeRows(ownResults, usedCache, texts);
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

bool APMAudience::evaluateFiltersForNanoUserProperty(const APMPBUserAttribute& property,
    APMAudienceTimestampsCache* cache, std::optional<double> evaluationTime, APMAudienceResultRows* results)
{
    const auto attribute = userAttributeFromNanoUserProperty(property);
    if (!attribute) {
        audience_evaluation::monitor().logWithLevel(
            APMMonitor::kLevelErrorSilent, 6039, QStringLiteral("Could not convert user property from nano format."));
        return false;
    }
    return evaluateFiltersForUserProperty(
        *attribute, cache, evaluationTime.value_or(attribute->lastSetTimestamp()), results);
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
    return APMFilterResult(audienceID, APMAudienceResultRows::encodedResult(status, results, audienceID, cache),
        current ? current->previousResults() : QByteArray());
}
