// Bundling: the oldest run of raw events of one metadata fingerprint becomes
// one queued bundle, and the raw events it used are deleted, in one
// transaction.
#include "analytics/engine/APMBundler.h"

#include "analytics/engine/APMEngineContext.h"
#include "analytics/engine/APMMeasurement.h"
#include "analytics/engine/APMRawEventBundling.h"

#include "analytics/base/APMAEU.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/engine/APMAudienceEvaluator.h"
#include "analytics/engine/APMBundleFields.h"
#include "analytics/engine/APMEventSampler.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/model/APMAppMetadata.h"
#include "analytics/model/APMDailyCounts.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMEventAggregates.h"
#include "analytics/model/APMEventNames.h"
#include "analytics/model/APMLogNames.h"
#include "analytics/model/APMRawEventData.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/wire/APMPBAudienceLeafFilterResult.h"
#include "analytics/wire/APMPBEvent.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementBundle.h"
#include "analytics/wire/APMPBUserAttribute.h"

#include <QCoreApplication>
#include <QHash>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace apm_engine;
using namespace APMBundleSlot;

namespace apm_bundler {

// One more firing of the event under its name's aggregates.
void advanceAggregates(APMEventAggregates& aggregates, double timestamp)
{
    aggregates.incrementCurrentBundleCount();
    aggregates.incrementLifetimeCount();
    aggregates.incrementCurrentSessionCount();
    aggregates.setLastFireTimestamp(timestamp);
}

} // namespace apm_bundler

// The raw events one bundle takes: a run of consecutive rows of one
// fingerprint within one clock hour, below the size and count limits.
struct APMBundler::RawEventRun {
    bool failed = false;
    QList<APMRawEventData> events;
    // The first row of the run could not be read: its row ID (it can never
    // be bundled, and must not hold up the rows behind it).
    std::optional<qint64> unreadableRowID;
};

APMBundler::APMBundler(APMEngineContext& shared, APMMeasurement& engine)
    : shared_(shared)
    , engine_(engine)
{
}

bool APMBundler::bundleRawEvents()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("bundleRawEvents"));
    bool consumed = false;
    const bool committed = shared_.database->performTransaction([&] {
        APMError error;
        const std::optional<qint64> fingerprint = shared_.database->nextMetadataFingerprintToProcess(&error);
        if (!fingerprint) {
            if (error.code() == 0)
                return true; // no raw events
            shared_.log(APMMonitor::kLevelErrorMonitored, 23095, QStringLiteral("Unable to fetch next event metadata. Error"),
                error.description());
            return false;
        }
        RawEventRun run = rawEventsWithMetadataFingerprint(*fingerprint);
        if (run.failed)
            return false;
        if (run.unreadableRowID) {
            consumed = dropUnreadableRawEvents(*run.unreadableRowID, *fingerprint, QStringLiteral("raw event"));
            return consumed;
        }
        if (run.events.isEmpty())
            return true;
        const qint64 lastRowID = run.events.last().rowID();
        APMError metadataError;
        std::unique_ptr<APMPBMeasurementBundle> bundle
            = shared_.database->queryRawEventsMetadataWithFingerprint(*fingerprint, &metadataError);
        if (!bundle) {
            shared_.log(APMMonitor::kLevelErrorMonitored, 23098, QStringLiteral("Unable to fetch event metadata. Metadata fingerprint, error"),
                *fingerprint, metadataError.description());
            // Missing or undecodable metadata never comes back: the events
            // under it cannot be bundled and must not block the others.
            if (metadataError.code() == APMError::StorageFailure)
                return false;
            consumed = dropUnreadableRawEvents(lastRowID, *fingerprint, QStringLiteral("metadata"));
            return consumed;
        }
        const std::optional<QList<APMEvent>> processed = processRawEvents(run.events, *fingerprint);
        if (!processed)
            return false;
        // Every event was rejected and its raw event deleted: committed,
        // but no bundle was made.
        if (processed->isEmpty())
            return true;
        const bool denied = APMConsentSettingsUtil::isAnalyticsStorageDenied();
        // A step of it that fails is logged and ends only that evaluation.
        resetSessionStateAndAddEngagementTime(run.events, *bundle);
        handleAnalyticsStorageConsentTransitions(*bundle);
        shared_.environment.audience->beginBundle();
        const std::optional<QList<APMEvent>> events = eventsAfterUpdatingEventAggregates(*processed, !denied);
        if (!events)
            return false;
        APMEventSampler::Events protoEvents;
        for (const APMEvent& event : *events) {
            if (auto proto = event.protoEvent())
                protoEvents.push_back(std::move(proto));
        }
        if (shared_.remoteConfig->isEventSamplingEnabled() && !shared_.isDebugMode()) {
            APMError samplingError;
            std::optional<APMEventSampler::Events> sampled
                = shared_.environment.sampler->sampleEvents(std::move(protoEvents), &samplingError);
            if (!sampled)
                return false;
            protoEvents = std::move(*sampled);
        }
        if (protoEvents.empty()) {
            shared_.log(APMMonitor::kLevelWarningSilent, 23159, QStringLiteral("No events left after sampling. Dropping bundle"));
            // The events were evaluated and their raw events go: their
            // audience results stay, though no bundle carries them yet.
            if (!shared_.environment.audience->finishBundle())
                return false;
            consumed = APMDeleteConsumedRawEvents(*shared_.database, lastRowID, *fingerprint, *shared_.environment.monitor);
            return consumed;
        }
        APMPBSetArrayField(bundle.get(), kEvents, std::move(protoEvents));
        double start = run.events.first().rawEvent().timestamp();
        double end = start;
        for (const APMRawEventData& raw : run.events) {
            start = std::min(start, raw.rawEvent().timestamp());
            end = std::max(end, raw.rawEvent().timestamp());
        }
        if (!updateAppMetadataForBundle(*bundle, start, end))
            return false;
        if (shared_.remoteConfig->DMAConsentEnabled() && engine_.shouldUpdateNPAUserProperty()) {
            engine_.setPersonalizedAdsUserPropertyOnWorkerQueue();
            engine_.setShouldUpdateNPAUserProperty(false);
        }
        if (!denied) {
            for (const auto& property : APMPBGetArrayField<APMPBUserAttribute>(bundle.get(), kUserAttributes)) {
                if (!shared_.environment.audience->evaluateFiltersForUserProperty(*property, start))
                    return false;
            }
            std::optional<APMAudienceEvaluator::Results> results = shared_.environment.audience->resultsForBundling();
            if (!results) {
                shared_.log(APMMonitor::kLevelErrorMonitored, 23113, QStringLiteral("Unable to read audience evaluation results"));
                return false;
            }
            if (!results->empty())
                APMPBSetArrayField(bundle.get(), kAudienceResults, *results);
        }
        addBundleMetadataIntoBundle(*bundle, start, end);
        if (!shared_.remoteConfig->sessionStitchingTokenFeatureEnabled() || denied)
            APMPBClearField(bundle.get(), kSessionStitchingToken);
        if (!shared_.database->insertBundle(*bundle, APMEventsContainRealtimeEvent(*events), &error)) {
            shared_.log(APMMonitor::kLevelErrorMonitored, 23115, QStringLiteral("Unable to insert bundle. Error"), error.description());
            return false;
        }
        shared_.log(APMMonitor::kLevelVerbose, 23221, APMConsentSettingsUtil::description());
        shared_.log(APMMonitor::kLevelDebug, 23116, QStringLiteral("Bundle added to the upload queue. BundleID, timestamp (ms)"),
            APMPBGetInt32Field(bundle.get(), kBundleIndex), qint64(APMPBGetInt64Field(bundle.get(), kEndTimestamp)));
        consumed = APMDeleteConsumedRawEvents(*shared_.database, lastRowID, *fingerprint, *shared_.environment.monitor);
        return consumed;
    });
    if (!committed)
        return false;
    if (consumed)
        engine_.resumeUploads();
    return consumed;
}

APMBundler::RawEventRun APMBundler::rawEventsWithMetadataFingerprint(qint64 fingerprint)
{
    RawEventRun run;
    const qint64 maxEvents = shared_.remoteConfig->uploadMaxEventsPerBundle();
    const qint64 maxBytes = shared_.remoteConfig->uploadMaxSizeLimitBytes();
    qint64 hour = 0;
    qint64 previousRowID = 0;
    qint64 totalBytes = 0;
    const APMRowFilter filter = [&](quint32 index, const APMRow& row) {
        if (index >= 1 && qint64(index) >= maxEvents)
            return false;
        APMError error;
        const std::optional<APMRawEventData> data = shared_.database->rawEventDataFromDictionary(row, &error);
        if (!data) {
            shared_.log(APMMonitor::kLevelWarningMonitored, 23096, QStringLiteral("Failed to filter raw event. Error"),
                error.description());
            if (index == 0 && row.value(QStringLiteral("rowid")).canConvert<qint64>())
                run.unreadableRowID = row.value(QStringLiteral("rowid")).toLongLong();
            return false;
        }
        const double timestamp = data->rawEvent().timestamp();
        const qint64 eventHour = std::isfinite(timestamp) ? qint64(std::floor(timestamp)) / 3600 : 0;
        if (index == 0) {
            hour = eventHour;
        } else if (eventHour != hour || data->rowID() != previousRowID + 1) {
            return false;
        }
        const qint64 size = data->rawEvent().protoBytes().size();
        // The first event always goes, even alone above the limit: otherwise
        // it could never be sent and would hold up every event behind it.
        if (index > 0 && size + totalBytes >= maxBytes)
            return false;
        totalBytes += size;
        previousRowID = data->rowID();
        run.events.append(*data);
        return true;
    };
    APMError error;
    if (!shared_.database->rawEventsWithMetadataFingerprint(fingerprint, &error, filter) && !run.unreadableRowID
        && run.events.isEmpty() && error.code() != 0) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23097, QStringLiteral("Inconsistent state, raw event is expected. Error"),
            error.description());
        run.failed = true;
    }
    return run;
}

bool APMBundler::dropUnreadableRawEvents(qint64 maxRowID, qint64 fingerprint, const QString& reason)
{
    shared_.log(APMMonitor::kLevelErrorMonitored, 23271,
        QStringLiteral("Dropping raw events that cannot be read. Metadata fingerprint, last row ID, unreadable part"),
        fingerprint, QStringLiteral("%1 (%2)").arg(maxRowID).arg(reason));
    return APMDeleteConsumedRawEvents(*shared_.database, maxRowID, fingerprint, *shared_.environment.monitor);
}

std::optional<QList<APMEvent>> APMBundler::processRawEvents(const QList<APMRawEventData>& rawEvents, qint64 fingerprint)
{
    const qint64 lastRowID = rawEvents.last().rowID();
    const bool keepInternalUnchecked = shared_.remoteConfig->blocklistInternal() && !shared_.remoteConfig->blocklistPublic();
    const bool removeRedundantEngagement = shared_.remoteConfig->redundantEngagementRemovalEnabled();
    QList<APMEvent> kept;
    for (const APMRawEventData& raw : rawEvents) {
        const APMEvent& event = raw.rawEvent();
        const QString internalName = APMPublicEventsConvertedToInternal().value(event.name(), event.name());
        const bool internal = !APMIsPublicName(event.name());
        if (!(internal && keepInternalUnchecked)
            && (shared_.remoteConfig->isEventBlocklisted(event.name()) || shared_.remoteConfig->isEventBlocklisted(internalName))) {
            shared_.log(APMMonitor::kLevelWarningMonitored, 23099, QStringLiteral("Rejected event. Event name"),
                APMEventNameForLog(event.name()));
            continue;
        }
        if (removeRedundantEngagement && event.name() == kEngagementEvent) {
            const auto firstRun = event.parameters().constFind(kFirstRunParameter);
            if (firstRun != event.parameters().cend() && firstRun->isInt64() && firstRun->int64Value() == 1)
                continue;
        }
        kept.append(event);
    }
    if (kept.isEmpty()) {
        if (!APMDeleteConsumedRawEvents(*shared_.database, lastRowID, fingerprint, *shared_.environment.monitor))
            return std::nullopt;
        shared_.log(APMMonitor::kLevelWarningMonitored, 23100, QStringLiteral("Rejected all events."));
        return kept;
    }
    APMError error;
    std::optional<APMDailyCounts> counts = shared_.database->dailyCounts(&error);
    if (!counts) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23101, QStringLiteral("Failed to query daily event counts. Error"),
            error.description());
        return std::nullopt;
    }
    bool changed = false;
    QList<APMEvent> result;
    for (APMEvent event : kept) {
        const auto converted = APMPublicEventsConvertedToInternal().constFind(event.name());
        if (converted != APMPublicEventsConvertedToInternal().cend()) {
            if (auto renamed = APMEvent::initWithOrigin(event.origin(), false, *converted, event.timestamp(),
                    event.previousTimestamp(), APMVariantMapFromParameters(event.parameters()), event.limits()))
                event = *renamed;
        }
        changed = checkConversion(event, *counts) || changed;
        changed = checkRealtime(event, *counts) || changed;
        // Purchases made with a sandbox (test) receipt are marked as such.
        if (event.name() == APMEventNames::kInAppPurchaseEvent
            && APMAEU::isASRS(shared_.environment.infoDictionary.value_or(QVariantMap()))) {
            QVariantMap parameters = APMVariantMapFromParameters(event.parameters());
            parameters.insert(QStringLiteral("sandbox"), qint64(1));
            event = event.copyWithParameters(parameters);
        }
        result.append(event);
    }
    if (changed && !shared_.database->updateDailyCounts(*counts, &error)) {
        shared_.log(APMMonitor::kLevelErrorSilent, 23106, QStringLiteral("Failed to update daily event counts. Name, error"),
            QString(), error.description());
        return std::nullopt;
    }
    return result;
}

bool APMBundler::checkConversion(APMEvent& event, APMDailyCounts& counts)
{
    if (shared_.remoteConfig->isEventCustomConversion(event.name()))
        event.setConversion(true);
    if (!event.isConversion() || !APMIsPublicName(event.name()))
        return false;
    const qint32 limit = shared_.remoteConfig->maxConversionsPerDay();
    if (counts.conversionsCount() < limit) {
        const qint32 today = APMDailyCounts::dayNumberForTime(shared_.now(), shared_.persistedConfig->midnightOffset());
        counts.incrementCountsForCurrentDay(today, false, true);
        counts.decrementAllEventsCount();
        return true;
    }
    event.setConversion(false);
    shared_.log(APMMonitor::kLevelWarning, 23102,
        QStringLiteral("Too many conversion events. Not logging event as conversion. Name, limit"),
        APMEventNameForLog(event.name()), limit);
    return false;
}

bool APMBundler::checkRealtime(APMEvent& event, APMDailyCounts& counts)
{
    if (!event.isRealtime() && !event.isConversion())
        return false;
    const qint32 today = APMDailyCounts::dayNumberForTime(shared_.now(), shared_.persistedConfig->midnightOffset());
    if (APMIsRealtimeLimitedEvent(event, *shared_.environment.monitor)) {
        if (counts.realtimeCount() < shared_.remoteConfig->maxRealtimeEventCountPerDay()) {
            counts.incrementRealtimeCountsForCurrentDay(today);
            event.setRealtime(true);
            shared_.log(APMMonitor::kLevelDebug, 23103,
                QStringLiteral("Event is under real-time event count daily limit. Marking the event as real-time. Event name, parameters"),
                APMEventNameForLog(event.name()), APMParametersDescription(event.parameters()));
            return true;
        }
        event.setRealtime(false);
        shared_.log(APMMonitor::kLevelWarningMonitored, 23104,
            QStringLiteral("Number of real-time events is over the real-time event count daily limit. Event is no longer real-time. Event name, parameters"),
            APMEventNameForLog(event.name()), APMParametersDescription(event.parameters()));
        return false;
    }
    if (APMIsDCURealtimeEvent(event, *shared_.environment.monitor)) {
        if (counts.dcuRealtimeCount() < shared_.remoteConfig->maxRealtimeDCUEventCountPerDay()) {
            counts.incrementDCURealtimeCountsForCurrentDay(today);
            event.setRealtime(true);
            return true;
        }
        event.setRealtime(false);
        return false;
    }
    event.setRealtime(true);
    shared_.log(APMMonitor::kLevelDebug, 23105,
        QStringLiteral("Event is not subject to real-time event count daily limit. Marking an event as real-time. Event name, parameters"),
        APMEventNameForLog(event.name()), APMParametersDescription(event.parameters()));
    return false;
}

void APMBundler::resetSessionStateAndAddEngagementTime(const QList<APMRawEventData>& rawEvents, APMPBMeasurementBundle& bundle)
{
    const bool sessionStarted = std::any_of(rawEvents.begin(), rawEvents.end(),
        [](const APMRawEventData& raw) { return raw.rawEvent().name() == kSessionStartEvent; });
    if (sessionStarted) {
        shared_.environment.audience->clearEvaluationResultsForSessionScopedFilters();
        for (const auto& property : APMPBGetArrayField<APMPBUserAttribute>(&bundle, kUserAttributes)) {
            if (!shared_.environment.audience->evaluateFiltersForUserProperty(*property, std::nullopt))
                return;
        }
        APMError error;
        if (!shared_.database->clearCurrentSessionCounts(&error)) {
            shared_.log(APMMonitor::kLevelErrorMonitored, 23185, QStringLiteral("Failed to clear event session counts. Error"),
                error.description());
            return;
        }
    }
    qint64 engagement = 0;
    for (const APMRawEventData& raw : rawEvents) {
        const EventParameters& parameters = raw.rawEvent().parameters();
        const auto time = parameters.constFind(kEngagementTimeParameter);
        if (time != parameters.cend() && time->isInt64() && !parameters.contains(kFirstRunParameter)) {
            const qint64 value = time->int64Value();
            const bool overflows = (value > 0 && engagement > std::numeric_limits<qint64>::max() - value)
                || (value < 0 && engagement < std::numeric_limits<qint64>::min() - value);
            engagement = overflows ? engagement : engagement + value;
        }
    }
    if (!updateUserEngagement(engagement, bundle, false))
        return; // a failed total is logged; the bundle goes on without it
    if (sessionStarted) {
        APMError error;
        if (!shared_.database->deleteUserAttributeWithName(kSessionEngagementProperty, &error)) {
            shared_.log(APMMonitor::kLevelErrorMonitored, 23188,
                QStringLiteral("Unable to delete session engagement property on session start. Error"), error.description());
            return;
        }
    }
    updateUserEngagement(engagement, bundle, true);
}

bool APMBundler::updateUserEngagement(qint64 engagementMs, APMPBMeasurementBundle& bundle, bool sessionScoped)
{
    if (engagementMs < 0) {
        shared_.log(APMMonitor::kLevelErrorSilent, 23186, QStringLiteral("User engagement time is negative."));
        return false;
    }
    if (engagementMs == 0)
        return true;
    const QString& name = sessionScoped ? kSessionEngagementProperty : kLifetimeEngagementProperty;
    APMError error;
    const std::optional<APMUserAttribute> stored = shared_.database->userAttributeWithName(name, &error);
    if (!stored && error.code() != 0) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23187, QStringLiteral("Failed to query for user engagement user property. Name, error"),
            name, error.description());
        return false;
    }
    qint64 total = engagementMs;
    if (stored && stored->value().isInt64() && stored->value().int64Value() <= std::numeric_limits<qint64>::max() - total)
        total += stored->value().int64Value();
    const double setTime = shared_.now();
    const std::optional<APMUserAttribute> attribute
        = APMUserAttribute::initWithOrigin(kAutoOrigin, name, APMValue::initWithInt64(total), setTime);
    if (!attribute || !engine_.setUserPropertyInDatabaseOnWorkerQueue(*attribute))
        return false;
    auto properties = APMPBGetArrayField<APMPBUserAttribute>(&bundle, kUserAttributes);
    auto found = std::find_if(properties.begin(), properties.end(), [&name](const auto& property) {
        return APMPBGetStringField(property.get(), APMUserAttributeSlot::kName) == name;
    });
    if (found != properties.end()) {
        APMPBSetInt64Field(found->get(), APMUserAttributeSlot::kIntValue, total);
        APMPBSetInt64Field(found->get(), APMUserAttributeSlot::kSetTimestamp, APMMillisecondsFromSeconds(setTime).value_or(0));
    } else if (auto property = attribute->protoUserAttribute()) {
        properties.push_back(std::move(property));
    }
    APMPBSetArrayField(&bundle, kUserAttributes, std::move(properties));
    return true;
}

void APMBundler::handleAnalyticsStorageConsentTransitions(const APMPBMeasurementBundle& bundle)
{
    const QString previous = shared_.persistedConfig->previousBundledConsentSignals();
    const QString current = APMPBGetStringField(&bundle, kConsentSignals);
    if (previous == current)
        return;
    const bool wasDenied = APMIsAnalyticsStorageDeniedInSignal(previous);
    const bool isDenied = APMIsAnalyticsStorageDeniedInSignal(current);
    APMError error;
    if (!wasDenied && isDenied && !shared_.database->createEventsSnapshotTable(&error))
        shared_.log(APMMonitor::kLevelWarningMonitored, 23266, QStringLiteral("Unable to create table snapshot. Error"),
            error.description());
    if (wasDenied && !isDenied && !shared_.database->restoreFromEventsSnapshotTable(&error))
        shared_.log(APMMonitor::kLevelWarningMonitored, 23267, QStringLiteral("Unable to restore from table snapshot. Error"),
            error.description());
    shared_.persistedConfig->setPreviousBundledConsentSignals(current);
}

std::optional<QList<APMEvent>> APMBundler::eventsAfterUpdatingEventAggregates(
    const QList<APMEvent>& events, bool allowEventFilterEvaluation)
{
    // Each name's aggregates are read once, carried from event to event and
    // written once at the end, in the order the names were last seen: the
    // rows a read and a write per event would leave, without a query and an
    // upsert per event.
    struct Running {
        APMEventAggregates aggregates;
        qsizetype lastSeen;
    };
    QHash<QString, Running> running;
    QList<APMEvent> result;
    result.reserve(events.size());
    for (qsizetype index = 0; index < events.size(); ++index) {
        const APMEvent& input = events[index];
        auto found = running.find(input.name());
        APMEvent event = input;
        if (found == running.end()) {
            APMError error;
            std::optional<APMEventAggregates> aggregates
                = shared_.database->eventAggregatesWithName(input.name(), &error);
            if (!aggregates && error.code() != 0) {
                shared_.log(APMMonitor::kLevelErrorMonitored, 23107,
                    QStringLiteral("Failed to query event aggregates. Name, error"),
                    APMEventNameForLog(input.name()), error.description());
                return std::nullopt;
            }
            if (aggregates) {
                event = input.copyWithPreviousTimestamp(aggregates->lastFireTimestamp());
                apm_bundler::advanceAggregates(*aggregates, event.timestamp());
            } else {
                aggregates = APMEventAggregates::initWithName(input.name(), 1, 1, 1, input.timestamp());
            }
            if (!aggregates) {
                shared_.log(APMMonitor::kLevelErrorMonitored, 23108,
                    QStringLiteral("Failed to update event aggregates. Error"), error.description());
                return std::nullopt;
            }
            found = running.insert(input.name(), Running { *aggregates, index });
        } else {
            event = input.copyWithPreviousTimestamp(found->aggregates.lastFireTimestamp());
            apm_bundler::advanceAggregates(found->aggregates, event.timestamp());
            found->lastSeen = index;
        }
        if (allowEventFilterEvaluation
            && !shared_.environment.audience->evaluateFiltersForEvent(event, found->aggregates))
            return std::nullopt;
        result.append(event);
    }
    std::vector<const Running*> toWrite;
    toWrite.reserve(size_t(running.size()));
    for (const Running& entry : std::as_const(running))
        toWrite.push_back(&entry);
    std::sort(toWrite.begin(), toWrite.end(),
        [](const Running* a, const Running* b) { return a->lastSeen < b->lastSeen; });
    for (const Running* entry : toWrite) {
        APMError error;
        if (!shared_.database->updateEventAggregates(entry->aggregates, &error)) {
            shared_.log(APMMonitor::kLevelErrorMonitored, 23108, QStringLiteral("Failed to update event aggregates. Error"),
                error.description());
            return std::nullopt;
        }
    }
    return result;
}

bool APMBundler::updateAppMetadataForBundle(APMPBMeasurementBundle& bundle, double start, double end)
{
    APMError error;
    std::optional<APMAppMetadata> metadata = shared_.database->queryAppMetadata(&error);
    if (!metadata) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23111, QStringLiteral("Unable to fetch app metadata for bundling events. Error"),
            error.description());
        return false;
    }
    const double previousEnd = metadata->lastBundleEndTimestamp();
    const double previousStart = metadata->lastBundleStartTimestamp();
    if (previousEnd > 0)
        APMPBSetInt64Field(&bundle, kPreviousBundleEnd, APMMillisecondsFromSeconds(previousEnd).value_or(0));
    if (previousStart > 0)
        APMPBSetInt64Field(&bundle, kPreviousBundleStart, APMMillisecondsFromSeconds(previousStart).value_or(0));
    else if (previousEnd > 0)
        APMPBSetInt64Field(&bundle, kPreviousBundleStart, APMMillisecondsFromSeconds(previousEnd).value_or(0));
    metadata->incrementLastBundleIndex();
    metadata->setLastBundleStartTimestamp(start);
    metadata->setLastBundleEndTimestamp(end);
    APMPBSetInt32Field(&bundle, kBundleIndex, metadata->lastBundleIndex());
    if (!shared_.database->updateAppMetadata(*metadata, &error)) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23112, QStringLiteral("Unable to update the app metadata. Error"),
            error.description());
        return false;
    }
    return true;
}

void APMBundler::addBundleMetadataIntoBundle(APMPBMeasurementBundle& bundle, double start, double end)
{
    const QList<qint64> experiments = shared_.remoteConfig->experimentIDs();
    if (!experiments.isEmpty()) {
        QVariantList ids;
        for (qint64 id : experiments)
            ids.append(QVariant::fromValue(quint32(id)));
        APMPBSetArrayField(&bundle, kExperimentIDs, ids);
    }
    const QString monitoring = shared_.environment.monitor->monitoringDataForDispatchWithSamplePeriod(
        shared_.remoteConfig->monitoringSamplePeriod(), shared_.persistedConfig->lastMonitorDataSampledTimestamp());
    if (!monitoring.isEmpty()) {
        APMPBSetStringField(&bundle, kMonitoringData, monitoring);
        shared_.persistedConfig->setLastMonitorDataSampledTimestamp(shared_.now());
    }
    if (shared_.remoteConfig->version() >= 0)
        APMPBSetInt64Field(&bundle, kConfigVersion, shared_.remoteConfig->version());
    if (APMPBGetStringField(&bundle, kAppID).isEmpty()) {
        const QString appID = shared_.identity->appID();
        APMPBSetStringField(&bundle, kAppID, !appID.isEmpty() ? appID : QCoreApplication::applicationName());
    }
    APMPBSetInt64Field(&bundle, kStartTimestamp, APMMillisecondsFromSeconds(start).value_or(0));
    APMPBSetInt64Field(&bundle, kEndTimestamp, APMMillisecondsFromSeconds(end).value_or(0));
}

