// Bundling: the oldest run of raw events of one metadata fingerprint becomes
// one queued bundle, and the raw events it used are deleted, in one
// transaction.
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
#include "analytics/engine/APMMeasurementNames.h"
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

#include <cmath>
#include <limits>

using namespace apm_engine;
using namespace APMBundleSlot;

// The raw events one bundle takes: a run of consecutive rows of one
// fingerprint within one clock hour, below the size and count limits.
struct APMMeasurement::RawEventRun {
    bool failed = false;
    QList<APMRawEventData> events;
    // The first row of the run could not be read: its row ID (it can never
    // be bundled, and must not hold up the rows behind it).
    std::optional<qint64> unreadableRowID;
};

namespace {

qint64 millisecondsOf(double seconds)
{
    const double ms = std::trunc(seconds * 1000.0);
    if (!std::isfinite(ms) || ms < double(std::numeric_limits<qint64>::min())
        || ms >= double(std::numeric_limits<qint64>::max()))
        return 0;
    return qint64(ms);
}

} // namespace

bool APMMeasurement::bundleRawEvents()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("bundleRawEvents"));
    bool consumed = false;
    const bool committed = database_->performTransaction([&] {
        APMError error;
        const std::optional<qint64> fingerprint = database_->nextMetadataFingerprintToProcess(&error);
        if (!fingerprint) {
            if (error.code() == 0)
                return true; // no raw events
            log(APMMonitor::kLevelErrorMonitored, 23095, QStringLiteral("Unable to fetch next event metadata. Error"),
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
            = database_->queryRawEventsMetadataWithFingerprint(*fingerprint, &metadataError);
        if (!bundle) {
            log(APMMonitor::kLevelErrorMonitored, 23098, QStringLiteral("Unable to fetch event metadata. Metadata fingerprint, error"),
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
        environment_.audience->beginBundle();
        const std::optional<QList<APMEvent>> events = eventsAfterUpdatingEventAggregates(*processed, !denied);
        if (!events)
            return false;
        APMEventSampler::Events protoEvents;
        for (const APMEvent& event : *events) {
            if (auto proto = event.protoEvent())
                protoEvents.push_back(std::move(proto));
        }
        if (remoteConfig_->isEventSamplingEnabled() && !isDebugMode()) {
            APMError samplingError;
            std::optional<APMEventSampler::Events> sampled
                = environment_.sampler->sampleEvents(std::move(protoEvents), &samplingError);
            if (!sampled)
                return false;
            protoEvents = std::move(*sampled);
        }
        if (protoEvents.empty()) {
            log(APMMonitor::kLevelWarningSilent, 23159, QStringLiteral("No events left after sampling. Dropping bundle"));
            consumed = APMDeleteConsumedRawEvents(*database_, lastRowID, *fingerprint, *environment_.monitor);
            return consumed;
        }
        APMPBSetArrayField(bundle.get(), kEvents, protoEvents);
        double start = run.events.first().rawEvent().timestamp();
        double end = start;
        for (const APMRawEventData& raw : run.events) {
            start = std::min(start, raw.rawEvent().timestamp());
            end = std::max(end, raw.rawEvent().timestamp());
        }
        if (!updateAppMetadataForBundle(*bundle, start, end))
            return false;
        if (remoteConfig_->DMAConsentEnabled() && shouldUpdateNPAUserProperty()) {
            setPersonalizedAdsUserPropertyOnWorkerQueue();
            setShouldUpdateNPAUserProperty(false);
        }
        if (!denied) {
            for (const auto& property : APMPBGetArrayField<APMPBUserAttribute>(bundle.get(), kUserAttributes)) {
                if (!environment_.audience->evaluateFiltersForUserProperty(*property, start))
                    return false;
            }
            std::optional<APMAudienceEvaluator::Results> results = environment_.audience->resultsForBundling();
            if (!results) {
                log(APMMonitor::kLevelErrorMonitored, 23113, QStringLiteral("Unable to read audience evaluation results"));
                return false;
            }
            if (!results->empty())
                APMPBSetArrayField(bundle.get(), kAudienceResults, *results);
        }
        addBundleMetadataIntoBundle(*bundle, start, end);
        if (!remoteConfig_->sessionStitchingTokenFeatureEnabled() || denied)
            APMPBClearField(bundle.get(), kSessionStitchingToken);
        if (!database_->insertBundle(*bundle, APMEventsContainRealtimeEvent(*events), &error)) {
            log(APMMonitor::kLevelErrorMonitored, 23115, QStringLiteral("Unable to insert bundle. Error"), error.description());
            return false;
        }
        log(APMMonitor::kLevelVerbose, 23221, APMConsentSettingsUtil::description());
        log(APMMonitor::kLevelDebug, 23116, QStringLiteral("Bundle added to the upload queue. BundleID, timestamp (ms)"),
            APMPBGetInt32Field(bundle.get(), kBundleIndex), qint64(APMPBGetInt64Field(bundle.get(), kEndTimestamp)));
        consumed = APMDeleteConsumedRawEvents(*database_, lastRowID, *fingerprint, *environment_.monitor);
        return consumed;
    });
    if (!committed)
        return false;
    if (consumed)
        suspendedUploadTimestamp_ = 0;
    return consumed;
}

APMMeasurement::RawEventRun APMMeasurement::rawEventsWithMetadataFingerprint(qint64 fingerprint)
{
    RawEventRun run;
    const qint64 maxEvents = remoteConfig_->uploadMaxEventsPerBundle();
    const qint64 maxBytes = remoteConfig_->uploadMaxSizeLimitBytes();
    qint64 hour = 0;
    qint64 previousRowID = 0;
    qint64 totalBytes = 0;
    const APMRowFilter filter = [&](quint32 index, const APMRow& row) {
        if (index >= 1 && qint64(index) >= maxEvents)
            return false;
        APMError error;
        const std::optional<APMRawEventData> data = database_->rawEventDataFromDictionary(row, &error);
        if (!data) {
            log(APMMonitor::kLevelWarningMonitored, 23096, QStringLiteral("Failed to filter raw event. Error"),
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
        const auto proto = data->rawEvent().protoEvent();
        const qint64 size = proto ? proto->protoBuffer().value_or(QByteArray()).size() : 0;
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
    if (!database_->rawEventsWithMetadataFingerprint(fingerprint, &error, filter) && !run.unreadableRowID
        && run.events.isEmpty() && error.code() != 0) {
        log(APMMonitor::kLevelErrorMonitored, 23097, QStringLiteral("Inconsistent state, raw event is expected. Error"),
            error.description());
        run.failed = true;
    }
    return run;
}

bool APMMeasurement::dropUnreadableRawEvents(qint64 maxRowID, qint64 fingerprint, const QString& reason)
{
    log(APMMonitor::kLevelErrorMonitored, 23271,
        QStringLiteral("Dropping raw events that cannot be read. Metadata fingerprint, last row ID, unreadable part"),
        fingerprint, QStringLiteral("%1 (%2)").arg(maxRowID).arg(reason));
    return APMDeleteConsumedRawEvents(*database_, maxRowID, fingerprint, *environment_.monitor);
}

std::optional<QList<APMEvent>> APMMeasurement::processRawEvents(const QList<APMRawEventData>& rawEvents, qint64 fingerprint)
{
    const qint64 lastRowID = rawEvents.last().rowID();
    const bool keepInternalUnchecked = remoteConfig_->blocklistInternal() && !remoteConfig_->blocklistPublic();
    const bool removeRedundantEngagement = remoteConfig_->redundantEngagementRemovalEnabled();
    QList<APMEvent> kept;
    for (const APMRawEventData& raw : rawEvents) {
        const APMEvent& event = raw.rawEvent();
        const QString internalName = APMPublicEventsConvertedToInternal().value(event.name(), event.name());
        const bool internal = !APMIsPublicName(event.name());
        if (!(internal && keepInternalUnchecked)
            && (remoteConfig_->isEventBlocklisted(event.name()) || remoteConfig_->isEventBlocklisted(internalName))) {
            log(APMMonitor::kLevelWarningMonitored, 23099, QStringLiteral("Rejected event. Event name"),
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
        if (!APMDeleteConsumedRawEvents(*database_, lastRowID, fingerprint, *environment_.monitor))
            return std::nullopt;
        log(APMMonitor::kLevelWarningMonitored, 23100, QStringLiteral("Rejected all events."));
        return kept;
    }
    APMError error;
    std::optional<APMDailyCounts> counts = database_->dailyCounts(&error);
    if (!counts) {
        log(APMMonitor::kLevelErrorMonitored, 23101, QStringLiteral("Failed to query daily event counts. Error"),
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
            && APMAEU::isASRS(environment_.infoDictionary.value_or(QVariantMap()))) {
            QVariantMap parameters = APMVariantMapFromParameters(event.parameters());
            parameters.insert(QStringLiteral("sandbox"), qint64(1));
            event = event.copyWithParameters(parameters);
        }
        result.append(event);
    }
    if (changed && !database_->updateDailyCounts(*counts, &error)) {
        log(APMMonitor::kLevelErrorSilent, 23106, QStringLiteral("Failed to update daily event counts. Name, error"),
            QString(), error.description());
        return std::nullopt;
    }
    return result;
}

bool APMMeasurement::checkConversion(APMEvent& event, APMDailyCounts& counts)
{
    if (remoteConfig_->isEventCustomConversion(event.name()))
        event.setConversion(true);
    if (!event.isConversion() || !APMIsPublicName(event.name()))
        return false;
    const qint32 limit = remoteConfig_->maxConversionsPerDay();
    if (counts.conversionsCount() < limit) {
        const qint32 today = APMDailyCounts::dayNumberForTime(now(), persistedConfig_->midnightOffset());
        counts.incrementCountsForCurrentDay(today, false, true);
        counts.decrementAllEventsCount();
        return true;
    }
    event.setConversion(false);
    log(APMMonitor::kLevelWarning, 23102,
        QStringLiteral("Too many conversion events. Not logging event as conversion. Name, limit"),
        APMEventNameForLog(event.name()), limit);
    return false;
}

bool APMMeasurement::checkRealtime(APMEvent& event, APMDailyCounts& counts)
{
    if (!event.isRealtime() && !event.isConversion())
        return false;
    const qint32 today = APMDailyCounts::dayNumberForTime(now(), persistedConfig_->midnightOffset());
    if (APMIsRealtimeLimitedEvent(event, *environment_.monitor)) {
        if (counts.realtimeCount() < remoteConfig_->maxRealtimeEventCountPerDay()) {
            counts.incrementRealtimeCountsForCurrentDay(today);
            event.setRealtime(true);
            log(APMMonitor::kLevelDebug, 23103,
                QStringLiteral("Event is under real-time event count daily limit. Marking the event as real-time. Event name, parameters"),
                APMEventNameForLog(event.name()), APMParametersDescription(event.parameters()));
            return true;
        }
        event.setRealtime(false);
        log(APMMonitor::kLevelWarningMonitored, 23104,
            QStringLiteral("Number of real-time events is over the real-time event count daily limit. Event is no longer real-time. Event name, parameters"),
            APMEventNameForLog(event.name()), APMParametersDescription(event.parameters()));
        return false;
    }
    if (APMIsDCURealtimeEvent(event, *environment_.monitor)) {
        if (counts.dcuRealtimeCount() < remoteConfig_->maxRealtimeDCUEventCountPerDay()) {
            counts.incrementDCURealtimeCountsForCurrentDay(today);
            event.setRealtime(true);
            return true;
        }
        event.setRealtime(false);
        return false;
    }
    event.setRealtime(true);
    log(APMMonitor::kLevelDebug, 23105,
        QStringLiteral("Event is not subject to real-time event count daily limit. Marking an event as real-time. Event name, parameters"),
        APMEventNameForLog(event.name()), APMParametersDescription(event.parameters()));
    return false;
}

void APMMeasurement::resetSessionStateAndAddEngagementTime(
    const QList<APMRawEventData>& rawEvents, APMPBMeasurementBundle& bundle)
{
    const bool sessionStarted = std::any_of(rawEvents.begin(), rawEvents.end(),
        [](const APMRawEventData& raw) { return raw.rawEvent().name() == kSessionStartEvent; });
    if (sessionStarted) {
        environment_.audience->clearEvaluationResultsForSessionScopedFilters();
        for (const auto& property : APMPBGetArrayField<APMPBUserAttribute>(&bundle, kUserAttributes)) {
            if (!environment_.audience->evaluateFiltersForUserProperty(*property, std::nullopt))
                return;
        }
        APMError error;
        if (!database_->clearCurrentSessionCounts(&error)) {
            log(APMMonitor::kLevelErrorMonitored, 23185, QStringLiteral("Failed to clear event session counts. Error"),
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
        if (!database_->deleteUserAttributeWithName(kSessionEngagementProperty, &error)) {
            log(APMMonitor::kLevelErrorMonitored, 23188,
                QStringLiteral("Unable to delete session engagement property on session start. Error"), error.description());
            return;
        }
    }
    updateUserEngagement(engagement, bundle, true);
}

bool APMMeasurement::updateUserEngagement(qint64 engagementMs, APMPBMeasurementBundle& bundle, bool sessionScoped)
{
    if (engagementMs < 0) {
        log(APMMonitor::kLevelErrorSilent, 23186, QStringLiteral("User engagement time is negative."));
        return false;
    }
    if (engagementMs == 0)
        return true;
    const QString& name = sessionScoped ? kSessionEngagementProperty : kLifetimeEngagementProperty;
    APMError error;
    const std::optional<APMUserAttribute> stored = database_->userAttributeWithName(name, &error);
    if (!stored && error.code() != 0) {
        log(APMMonitor::kLevelErrorMonitored, 23187, QStringLiteral("Failed to query for user engagement user property. Name, error"),
            name, error.description());
        return false;
    }
    qint64 total = engagementMs;
    if (stored && stored->value().isInt64() && stored->value().int64Value() <= std::numeric_limits<qint64>::max() - total)
        total += stored->value().int64Value();
    const double setTime = now();
    const std::optional<APMUserAttribute> attribute
        = APMUserAttribute::initWithOrigin(kAutoOrigin, name, APMValue::initWithInt64(total), setTime);
    if (!attribute || !setUserPropertyInDatabaseOnWorkerQueue(*attribute))
        return false;
    auto properties = APMPBGetArrayField<APMPBUserAttribute>(&bundle, kUserAttributes);
    auto found = std::find_if(properties.begin(), properties.end(), [&name](const auto& property) {
        return APMPBGetStringField(property.get(), APMUserAttributeSlot::kName) == name;
    });
    if (found != properties.end()) {
        APMPBSetInt64Field(found->get(), APMUserAttributeSlot::kIntValue, total);
        APMPBSetInt64Field(found->get(), APMUserAttributeSlot::kSetTimestamp, millisecondsOf(setTime));
    } else if (auto property = attribute->protoUserAttribute()) {
        properties.push_back(std::move(property));
    }
    APMPBSetArrayField(&bundle, kUserAttributes, properties);
    return true;
}

void APMMeasurement::handleAnalyticsStorageConsentTransitions(const APMPBMeasurementBundle& bundle)
{
    const QString previous = persistedConfig_->previousBundledConsentSignals();
    const QString current = APMPBGetStringField(&bundle, kConsentSignals);
    if (previous == current)
        return;
    const bool wasDenied = APMIsAnalyticsStorageDeniedInSignal(previous);
    const bool isDenied = APMIsAnalyticsStorageDeniedInSignal(current);
    APMError error;
    if (!wasDenied && isDenied && !database_->createEventsSnapshotTable(&error))
        log(APMMonitor::kLevelWarningMonitored, 23266, QStringLiteral("Unable to create table snapshot. Error"),
            error.description());
    if (wasDenied && !isDenied && !database_->restoreFromEventsSnapshotTable(&error))
        log(APMMonitor::kLevelWarningMonitored, 23267, QStringLiteral("Unable to restore from table snapshot. Error"),
            error.description());
    persistedConfig_->setPreviousBundledConsentSignals(current);
}

std::optional<QList<APMEvent>> APMMeasurement::eventsAfterUpdatingEventAggregates(
    const QList<APMEvent>& events, bool allowEventFilterEvaluation)
{
    QList<APMEvent> result;
    for (const APMEvent& input : events) {
        APMError error;
        std::optional<APMEventAggregates> aggregates = database_->eventAggregatesWithName(input.name(), &error);
        if (!aggregates && error.code() != 0) {
            log(APMMonitor::kLevelErrorMonitored, 23107, QStringLiteral("Failed to query event aggregates. Name, error"),
                APMEventNameForLog(input.name()), error.description());
            return std::nullopt;
        }
        APMEvent event = input;
        if (aggregates) {
            event = input.copyWithPreviousTimestamp(aggregates->lastFireTimestamp());
            aggregates->incrementCurrentBundleCount();
            aggregates->incrementLifetimeCount();
            aggregates->incrementCurrentSessionCount();
            aggregates->setLastFireTimestamp(event.timestamp());
        } else {
            aggregates = APMEventAggregates::initWithName(input.name(), 1, 1, 1, input.timestamp());
        }
        if (!aggregates || !database_->updateEventAggregates(*aggregates, &error)) {
            log(APMMonitor::kLevelErrorMonitored, 23108, QStringLiteral("Failed to update event aggregates. Error"),
                error.description());
            return std::nullopt;
        }
        if (allowEventFilterEvaluation && !environment_.audience->evaluateFiltersForEvent(event, *aggregates))
            return std::nullopt;
        result.append(event);
    }
    return result;
}

bool APMMeasurement::updateAppMetadataForBundle(APMPBMeasurementBundle& bundle, double start, double end)
{
    APMError error;
    std::optional<APMAppMetadata> metadata = database_->queryAppMetadata(&error);
    if (!metadata) {
        log(APMMonitor::kLevelErrorMonitored, 23111, QStringLiteral("Unable to fetch app metadata for bundling events. Error"),
            error.description());
        return false;
    }
    const double previousEnd = metadata->lastBundleEndTimestamp();
    const double previousStart = metadata->lastBundleStartTimestamp();
    if (previousEnd > 0)
        APMPBSetInt64Field(&bundle, kPreviousBundleEnd, millisecondsOf(previousEnd));
    if (previousStart > 0)
        APMPBSetInt64Field(&bundle, kPreviousBundleStart, millisecondsOf(previousStart));
    else if (previousEnd > 0)
        APMPBSetInt64Field(&bundle, kPreviousBundleStart, millisecondsOf(previousEnd));
    metadata->incrementLastBundleIndex();
    metadata->setLastBundleStartTimestamp(start);
    metadata->setLastBundleEndTimestamp(end);
    APMPBSetInt32Field(&bundle, kBundleIndex, metadata->lastBundleIndex());
    if (!database_->updateAppMetadata(*metadata, &error)) {
        log(APMMonitor::kLevelErrorMonitored, 23112, QStringLiteral("Unable to update the app metadata. Error"),
            error.description());
        return false;
    }
    return true;
}

void APMMeasurement::addBundleMetadataIntoBundle(APMPBMeasurementBundle& bundle, double start, double end)
{
    const QList<qint64> experiments = remoteConfig_->experimentIDs();
    if (!experiments.isEmpty()) {
        QVariantList ids;
        for (qint64 id : experiments)
            ids.append(QVariant::fromValue(quint32(id)));
        APMPBSetArrayField(&bundle, kExperimentIDs, ids);
    }
    const QString monitoring = environment_.monitor->monitoringDataForDispatchWithSamplePeriod(
        remoteConfig_->monitoringSamplePeriod(), persistedConfig_->lastMonitorDataSampledTimestamp());
    if (!monitoring.isEmpty()) {
        APMPBSetStringField(&bundle, kMonitoringData, monitoring);
        persistedConfig_->setLastMonitorDataSampledTimestamp(now());
    }
    if (remoteConfig_->version() >= 0)
        APMPBSetInt64Field(&bundle, kConfigVersion, remoteConfig_->version());
    if (APMPBGetStringField(&bundle, kAppID).isEmpty()) {
        const QString appID = identity_->appID();
        APMPBSetStringField(&bundle, kAppID, !appID.isEmpty() ? appID : QCoreApplication::applicationName());
    }
    APMPBSetInt64Field(&bundle, kStartTimestamp, millisecondsOf(start));
    APMPBSetInt64Field(&bundle, kEndTimestamp, millisecondsOf(end));
}

