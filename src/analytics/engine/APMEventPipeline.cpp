#include "analytics/engine/APMEventPipeline.h"
#include "analytics/engine/APMEngineContext.h"
#include "analytics/engine/APMMeasurement.h"
#include "analytics/engine/APMRawEventBundling.h"

#include "analytics/base/APMAlarm.h"
#include "analytics/base/APMAEU.h"
#include "analytics/base/APMEnvironmentInfo.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMHelpers.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/engine/APMBundleFields.h"
#include "analytics/engine/APMConditionalPropertyProcessor.h"
#include "analytics/engine/APMEventEditor.h"
#include "analytics/reporters/APMLifetimeValueRecorder.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "analytics/reporters/APMSessionState.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/model/APMDailyCounts.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMEventAggregates.h"
#include "analytics/model/APMEventNames.h"
#include "analytics/model/APMEventParameters.h"
#include "analytics/model/APMLogNames.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementBundle.h"
#include "analytics/wire/APMPBUserAttribute.h"

#include "platform/SystemFacts.h"

#include <QCoreApplication>

#include <limits>

using namespace apm_engine;
using namespace APMBundleSlot;

namespace {

const QString kSafelistedParameter = QStringLiteral("va_safelisted");
const QString kRolloutSessionStartEvent = QStringLiteral("_ssr");
const QString kAppExceptionEvent = QStringLiteral("_ae");
const QString kRolloutsParameter = QStringLiteral("_ffr");
const QString kSubscriptionIDParameter = QStringLiteral("_did");
const QString kProductIDParameter = QStringLiteral("product_id");
const QString kManualInstall = QStringLiteral("manual_install");
constexpr qint64 kErrorCodeEventCardinality = 8;
constexpr qint64 kErrorCodeBlocklisted = 11;
constexpr qint64 kErrorCodePublicEventsPerDay = 16;
constexpr qint32 kRefusalLogInterval = 1000;

QVariantMap plainParameters(const APMEvent& event)
{
    return APMVariantMapFromParameters(event.parameters());
}

// A refusal past a limit is logged at the limit and every 1000 after it
// (the count before this event minus the limit a multiple of 1000).
bool isLoggedRefusal(qint64 countBefore, qint64 limit)
{
    return countBefore >= limit && (countBefore - limit) % kRefusalLogInterval == 0;
}

} // namespace

namespace apm_event_pipeline {

// Every event's metadata names the library that wrote it.
constexpr qint64 kAppMetricsLibraryVersion = APMMeasurement::kAppMetricsLibraryVersion;

bool isAdEventForLogging(const APMEvent& event)
{
    return event.origin() == APMEventNames::kAdOrigin || event.name() == apm_engine::kOverallExposureEvent
        || event.name() == apm_engine::kUnitExposureEvent;
}

// Whether the monitor does anything with a line of this level.
bool isLogged(const APMMonitor& monitor, qint64 level)
{
    return monitor.isLoggableLevel(level) || APMMonitor::isMonitorableLevel(level);
}

} // namespace apm_event_pipeline

using namespace apm_event_pipeline;

APMEventPipeline::APMEventPipeline(APMEngineContext& shared, APMMeasurement& engine)
    : shared_(shared)
    , engine_(engine)
    , ownEnvironmentInfo_(
          std::make_unique<APMEnvironmentInfo>(*shared.environment.systemFacts, shared.environment.monitor))
{
}

APMEventPipeline::~APMEventPipeline() = default;

// ---- Logging entry -------------------------------------------------------------------

void APMEventPipeline::logEventOnWorkerQueueWithOrigin(const QString& origin, bool isPublicEvent, const QString& name,
    const QVariantMap& parameters, double timestamp, bool enabled, bool ignoreEnabled, bool ignoreInterceptor,
    const Interceptor& interceptor, const QVariantMap& addedScreenParameters)
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("logEventOnWorkerQueueWithOrigin"));
    const QVariantMap withDefaults = ignoreInterceptor || name == APMEventNames::kErrorEvent
        ? parameters
        : parametersWithAddedDefaultEventParameters(parameters);
    std::optional<APMEvent> event = APMEvent::initWithOrigin(
        origin, isPublicEvent, name, timestamp, 0, withDefaults, APMMeasurement::remoteConfig()->eventParameterLimits());
    if (!event) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23219, QStringLiteral("Attempted to log nil event. Origin, name, parameters"),
            origin, name);
        return;
    }
    if (!addedScreenParameters.isEmpty())
        event->addScreenParameters(addedScreenParameters);
    if ((!enabled && !ignoreEnabled) || isAdEventForLogging(*event)) {
        logEventOnWorkerQueue(*event, false);
        return;
    }
    if (!ignoreInterceptor && isPublicEvent && interceptor) {
        QVariantMap intercepted = withDefaults;
        for (auto it = addedScreenParameters.begin(); it != addedScreenParameters.end(); ++it)
            intercepted.insert(it.key(), it.value());
        interceptor(origin, name, intercepted, timestamp);
        return;
    }
    logEventOnWorkerQueue(*event, true);
}

void APMEventPipeline::handleInternalEventOnWorkerQueue(APMEvent event)
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("handleInternalEventOnWorkerQueue"));
    // Internal events of the engine's components get the default event
    // parameters (not error events) and no interceptor; the front end's
    // listeners hear of them as of any other.
    if (event.name() != APMEventNames::kErrorEvent) {
        if (const std::optional<QVariantMap> defaults = shared_.persistedConfig->defaultEventParameters())
            event.applyParameters(*defaults);
    }
    logEventOnWorkerQueue(event, true);
}

std::function<void(const QString&, const QString&, const QVariantMap&)> APMEventPipeline::internalEventLogger()
{
    return [this](const QString& origin, const QString& name, const QVariantMap& parameters) {
        engine_.logEventWithOrigin(origin, false, name, parameters, shared_.now(), true, true, true, nullptr, {});
    };
}

void APMEventPipeline::logEventOnWorkerQueue(const APMEvent& event, bool notifyEventListeners)
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("logEventOnWorkerQueue"));
    // The copy is taken first: handling may not change what listeners hear.
    const APMEvent announced = event;
    handleEventOnWorkerQueue(event);
    if (notifyEventListeners && shared_.environment.eventListeners)
        shared_.environment.eventListeners(announced);
}

// ---- The pipeline -------------------------------------------------------------------

void APMEventPipeline::handleEventOnWorkerQueue(const APMEvent& input)
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("handleEventOnWorkerQueue"));
    if (!shared_.enabled || !shared_.database) {
        shared_.log(APMMonitor::kLevelDebug, 23049, QStringLiteral("Analytics is disabled. Event not logged"));
        return;
    }
    std::optional<APMEvent> event = eventAfterSafelistingEvent(input);
    if (!event)
        return;
    engine_.processSessionFromEvent(*event);
    if (!dedupeSubscriptionEvent(*event) || shouldDropDuplicatedSessionStartWithRolloutEvent(*event))
        return;
    const QString rollouts = shared_.persistedConfig->basaltFeatureRollouts();
    if (event->name() == kAppExceptionEvent && !rollouts.isNull()) {
        QVariantMap parameters = plainParameters(*event);
        parameters.insert(kRolloutsParameter, rollouts);
        event = event->copyWithParameters(parameters);
    }
    writeSessionStartEventOnWorkerQueue(*event);
    writeEditedEventsOnWorkerQueue(*event);
}

std::optional<APMEvent> APMEventPipeline::eventAfterSafelistingEvent(const APMEvent& event)
{
    if (shared_.safelistedEvents.isEmpty())
        return event;
    if (!shared_.safelistedEvents.contains(event.name())) {
        shared_.log(APMMonitor::kLevelWarning, 23174, QStringLiteral("Event dropped. Reason: not in allowlist. Event name, origin"),
            APMEventNameForLog(event.name()), event.origin());
        return std::nullopt;
    }
    QVariantMap parameters = plainParameters(event);
    parameters.insert(kSafelistedParameter, qint64(1));
    return event.copyWithParameters(parameters);
}

bool APMEventPipeline::dedupeSubscriptionEvent(const APMEvent& event)
{
    if (!APMIsSubscriptionEvent(event))
        return true;
    const auto id = event.parameters().constFind(kSubscriptionIDParameter);
    if (id == event.parameters().cend() || !id->isInt64())
        return true;
    const QVariant productID
        = event.parameters().contains(kProductIDParameter) ? QVariant(event.parameters().value(kProductIDParameter).stringValue()) : QVariant();
    APMError error;
    const std::optional<bool> inserted = shared_.database->insertIfNotDuplicateSubscriptionID(QString::number(id->int64Value()), &error);
    if (!inserted) {
        shared_.log(APMMonitor::kLevelErrorSilent, 23181, QStringLiteral("Failed to save subscription ID. Product ID, error"),
            productID, error.description());
    } else if (!*inserted) {
        shared_.log(APMMonitor::kLevelWarningMonitored, 23182,
            QStringLiteral("Event dropped. Reason: Subscription purchase is a duplicate. Product ID"), productID);
        return false;
    }
    const std::optional<qint64> deleted = shared_.database->deleteSubscriptionsOverLimit(&error);
    if (!deleted) {
        shared_.log(APMMonitor::kLevelWarningSilent, 23183, QStringLiteral("Failed to delete older subscription records. Error"),
            error.description());
        return false;
    }
    if (*deleted > 0)
        shared_.log(APMMonitor::kLevelWarningSilent, 23184, QStringLiteral("Deleted older subscription records beyond limit"));
    return true;
}

bool APMEventPipeline::shouldDropDuplicatedSessionStartWithRolloutEvent(const APMEvent& event)
{
    if (event.name() != kRolloutSessionStartEvent)
        return false;
    const QString stored = shared_.persistedConfig->basaltFeatureRollouts();
    const auto parameter = event.parameters().constFind(kRolloutsParameter);
    const bool present = parameter != event.parameters().cend();
    const bool isString = present && parameter->isString();
    const QString text = isString ? parameter->stringValue() : QString();
    if ((isString && !stored.isNull() && text == stored) || (stored.isNull() && isString && text.isEmpty())
        || (stored.isNull() && !present)) {
        shared_.log(APMMonitor::kLevelVerbose, 23191, QStringLiteral("Feature rollouts value is a duplicate, dropping event"));
        return true;
    }
    if (isString && !text.isEmpty()) {
        shared_.persistedConfig->setBasaltFeatureRollouts(text);
    } else {
        shared_.persistedConfig->setBasaltFeatureRollouts(QString());
        if (present && !isString)
            shared_.log(APMMonitor::kLevelErrorSilent, 23190,
                QStringLiteral("Unable to process basalt feature rollouts, value is not a string."));
    }
    return false;
}

void APMEventPipeline::writeSessionStartEventOnWorkerQueue(const APMEvent& event)
{
    const QString rollouts = shared_.persistedConfig->basaltFeatureRollouts();
    if (event.name() != kSessionStartEvent || rollouts.isNull())
        return;
    const std::optional<APMEvent> companion = APMEvent::initWithOrigin(kAutoOrigin, false, kRolloutSessionStartEvent,
        shared_.now(), 0, { { kRolloutsParameter, rollouts } }, event.limits());
    if (companion)
        writeEventOnWorkerQueue(*companion);
}

void APMEventPipeline::writeEditedEventsOnWorkerQueue(const APMEvent& event)
{
    wroteRealtimeEvent_ = false;
    APMError error;
    const std::optional<APMEventEditor::Result> result
        = shared_.environment.eventEditor->handleEvent(event, *shared_.remoteConfig, &error);
    if (!result) {
        writeEventOnWorkerQueue(event);
        shared_.log(APMMonitor::kLevelErrorMonitored, 23223, QStringLiteral("Event editing failed. Event name"),
            APMEventNameForLog(event.name()));
        // The unedited event is stored like any other and needs its upload
        // scheduled: with a program that fails on every event nothing else
        // would ever schedule one.
        if (!armedUploadCannotMoveEarlier())
            engine_.updateSchedule();
        return;
    }
    std::optional<APMEvent> edited;
    if (result->editedEvent)
        edited = APMEvent::eventFromEditEvent(*result->editedEvent, event.limits());
    writeEventOnWorkerQueue(edited ? *edited : event);
    for (const APMPEvent& created : result->eventsToLog) {
        const QVariant origin = created.parameters().value(APMEventNames::kOriginParameter);
        const QString originText = origin.typeId() == QMetaType::QString ? origin.toString() : kAppOrigin;
        if (const auto made = APMEvent::initWithOrigin(
                originText, false, created.name(), created.timestamp(), 0, created.parameters(), event.limits()))
            writeEventOnWorkerQueue(*made);
    }
    if (!armedUploadCannotMoveEarlier())
        engine_.updateSchedule();
}

bool APMEventPipeline::armedUploadCannotMoveEarlier()
{
    // With an upload already armed, data that is neither real-time nor newer
    // than a failure (there is none) can only move the next upload time
    // later, so the armed one stays: the six queries of updateSchedule()
    // would decide the same. Anything else is decided in full.
    const std::optional<double> scheduled = shared_.alarm->scheduledTimestamp();
    return scheduled && *scheduled >= shared_.now() && !wroteRealtimeEvent_ && !shared_.isDebugMode()
        && engine_.suspendedUploadTimestamp() == 0 && shared_.persistedConfig->lastFailedUploadTimestamp() == 0;
}

void APMEventPipeline::writeEventOnWorkerQueue(const APMEvent& event)
{
    shared_.log(APMMonitor::kLevelDebug, 23051, QStringLiteral("Logging event: origin, name, params"), event.origin(),
        APMEventNameForLog(event.name()));
    const std::optional<QList<APMEvent>> triggered = shared_.environment.conditionalProperties->processEventOnWorkerQueue(
        event, [this](const APMEvent& produced) { writeFilteredEventOnWorkerQueue(produced); });
    if (!triggered)
        shared_.log(APMMonitor::kLevelWarningMonitored, 23050,
            QStringLiteral("Unable to process conditional user property. Event name, origin"),
            APMEventNameForLog(event.name()), event.origin());
    writeFilteredEventOnWorkerQueue(event);
    for (const APMEvent& produced : triggered.value_or(QList<APMEvent>()))
        writeFilteredEventOnWorkerQueue(produced);
}

void APMEventPipeline::writeFilteredEventOnWorkerQueue(const APMEvent& input)
{
    if (shared_.remoteConfig->isEventBlocklisted(input.name())) {
        shared_.log(APMMonitor::kLevelWarningSilent, 23052, QStringLiteral("Rejected event. Event name"),
            APMEventNameForLog(input.name()));
        if (!shared_.remoteConfig->blocklistInternal() && !shared_.remoteConfig->blocklistPublic() && input.name() != APMEventNames::kErrorEvent)
            APMLogErrorEventWithValue(kErrorCodeBlocklisted, QStringLiteral("_ev"), 100, input.name(), internalEventLogger());
        return;
    }
    // The refresh and the reset flag the stored event needs, in one trip.
    const bool setLastAdvertisingIDReset
        = shared_.identity->updateIdentifiersAndReadShouldSetLastAdvertisingIDResetUserProperty();
    APMEvent event = input;
    if (APMIsPurchaseRelatedEvent(event.name()))
        event.setConversion(true);
    const bool isPublic = APMIsPublicName(event.name());
    shared_.database->performTransaction([&] {
        if (!shared_.environment.lifetimeValue->updateLifetimeValueWithEvent(event)) {
            shared_.log(APMMonitor::kLevelErrorMonitored, 23053,
                QStringLiteral("Cannot record lifetime value of event. Name, currency code, transaction value"),
                APMEventNameForLog(event.name()));
            return false;
        }
        APMError error;
        std::optional<APMDailyCounts> counts = shared_.database->dailyCounts(&error);
        if (!counts) {
            shared_.log(APMMonitor::kLevelErrorMonitored, 23054, QStringLiteral("Data loss. Unable to query daily event counts. Error"),
                error.description());
            return false;
        }
        const bool keep = shouldProcessEvent(event, *counts, isPublic);
        const bool realtime = isRealtimeEvent(event, *counts);
        if (!shared_.database->updateDailyCounts(*counts, &error)) {
            shared_.log(APMMonitor::kLevelErrorMonitored, 23061, QStringLiteral("Data loss. Unable to update daily event counts. Name, error"),
                APMEventNameForLog(event.name()), error.description());
            return false;
        }
        if (!keep)
            return true;
        const bool written = writeEvent(event, isPublic, realtime, setLastAdvertisingIDReset);
        wroteRealtimeEvent_ = wroteRealtimeEvent_ || (written && realtime);
        return written;
    });
}

// ---- Limits ------------------------------------------------------------------------

bool APMEventPipeline::shouldProcessEvent(const APMEvent& event, APMDailyCounts& counts, bool isPublicEvent)
{
    const qint32 today = APMDailyCounts::dayNumberForTime(shared_.now(), shared_.persistedConfig->midnightOffset());
    if (counts.day() != today)
        counts.resetWithNewDay(today);
    const bool isError = event.name() == APMEventNames::kErrorEvent;
    const qint64 maxEvents = shared_.remoteConfig->maxEventsPerDay();
    const bool overAllEvents = counts.allEventsCount() >= maxEvents;
    bool refused = overAllEvents;
    if (overAllEvents) {
        if (isLoggedRefusal(counts.allEventsCount(), maxEvents))
            shared_.log(APMMonitor::kLevelErrorMonitored, 23055, QStringLiteral("Data loss. Too many events logged. Name, limit"),
                APMEventNameForLog(event.name()), maxEvents);
    } else if (isError) {
        const qint64 maxErrors = shared_.remoteConfig->maxErrorEventsPerDay();
        if (counts.errorEventsCount() >= maxErrors) {
            refused = true;
            if (isLoggedRefusal(counts.errorEventsCount(), maxErrors))
                shared_.log(APMMonitor::kLevelErrorMonitored, 23056, QStringLiteral("Too many error events logged. Error code, limit"),
                    plainParameters(event).value(APMEventNames::kErrorParameter), maxErrors);
        }
    } else if (isPublicEvent && counts.publicEventsCount() >= shared_.remoteConfig->maxPublicEventsPerDay()) {
        refused = true;
        const qint64 maxPublic = shared_.remoteConfig->maxPublicEventsPerDay();
        if (isLoggedRefusal(counts.publicEventsCount(), maxPublic))
            shared_.log(APMMonitor::kLevelErrorMonitored, 23057, QStringLiteral("Data loss. Too many public events logged. Name, limit"),
                APMEventNameForLog(event.name()), maxPublic);
        APMLogErrorEvent(kErrorCodePublicEventsPerDay, internalEventLogger());
    }
    if (isError) {
        counts.incrementErrorEventsCountForCurrentDay(today);
    } else {
        const qint64 items = std::max<qint64>(APMEventArrayItemCount(&event), 0);
        const qint32 effective = qint32(std::min<qint64>(1 + items, std::numeric_limits<qint32>::max()));
        counts.incrementCountsForCurrentDayByEffectiveEventCount(today, isPublicEvent, false, effective);
    }
    // Under the all-events limit a refused event gives one place back; past
    // it the refused events stay counted.
    if (refused && !overAllEvents)
        counts.decrementAllEventsCount();
    return !refused;
}

bool APMEventPipeline::isRealtimeEvent(APMEvent& event, APMDailyCounts& counts)
{
    const bool debug = shared_.isDebugMode();
    const qint32 maxRealtime = shared_.remoteConfig->maxRealtimeEventCountPerDay();
    const bool exempt = !debug && APMIsRealtimeExemptEvent(event);
    const bool conversion = event.isConversion() || shared_.remoteConfig->isEventCustomConversion(event.name());
    const bool conversionRealtime = conversion && (debug || exempt || counts.realtimeCount() < maxRealtime);
    if (!debug && event.isRealtime() && !exempt && counts.realtimeCount() >= maxRealtime) {
        event.setRealtime(false);
        shared_.log(APMMonitor::kLevelWarningMonitored, 23060,
            QStringLiteral("Too many real-time events. Event is no longer real-time. Event name, parameters"),
            APMEventNameForLog(event.name()), APMParametersDescription(event.parameters()));
    }
    if (event.isRealtime() && APMIsDCURealtimeEvent(event, *shared_.environment.monitor)
        && counts.dcuRealtimeCount() >= shared_.remoteConfig->maxRealtimeDCUEventCountPerDay())
        event.setRealtime(false);
    if (debug) {
        event.setRealtime(true);
        event.setDebug(true);
        shared_.log(APMMonitor::kLevelDebug, 23073,
            QStringLiteral("Debug mode is enabled. Marking event as debug and real-time. Event name, parameters"),
            APMEventNameForLog(event.name()), APMParametersDescription(event.parameters()));
    }
    return conversionRealtime || event.isRealtime();
}

// ---- Storing -----------------------------------------------------------------------

bool APMEventPipeline::writeEvent(
    const APMEvent& event, bool isPublicEvent, bool isRealtime, bool setLastAdvertisingIDReset)
{
    APMError error;
    APMError aggregatesError;
    const std::optional<bool> hasAggregates = shared_.database->hasEventAggregatesWithName(event.name(), &aggregatesError);
    if (!hasAggregates) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23063, QStringLiteral("Cannot query event aggregates. Name, error"),
            APMEventNameForLog(event.name()), aggregatesError.description());
        return false;
    }
    if (!*hasAggregates) {
        if (isPublicEvent) {
            const std::optional<qint64> count = shared_.database->publicEventCount(&error);
            if (!count) {
                shared_.log(APMMonitor::kLevelErrorMonitored, 23064, QStringLiteral("Cannot query event count. Error"),
                    error.description());
                return false;
            }
            if (*count >= shared_.remoteConfig->maxEventNameCardinality()) {
                shared_.log(APMMonitor::kLevelErrorMonitored, 23065,
                    QStringLiteral("Cannot set event. Reached limit on set events. Name"), APMEventNameForLog(event.name()));
                APMLogErrorEvent(kErrorCodeEventCardinality, internalEventLogger());
                return false;
            }
        }
        const std::optional<APMEventAggregates> fresh = APMEventAggregates::initWithName(event.name(), 0, 0, 0, 0);
        if (!fresh || !shared_.database->updateEventAggregates(*fresh, &error)) {
            shared_.log(APMMonitor::kLevelErrorMonitored, 23066, QStringLiteral("Data loss. Cannot record event aggregates. Error"),
                error.description());
            return false;
        }
    }
    if (setLastAdvertisingIDReset)
        setLastAdvertisingIDResetUserPropertyOnWorkerQueue();
    const std::optional<QList<APMUserAttribute>> attributes = shared_.database->userAttributesIncludingInternal(true, &error);
    if (!attributes) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23067, QStringLiteral("Data loss. Cannot query user properties. Error"),
            error.description());
        return false;
    }
    const RawEventMetadata& metadata = rawEventMetadataWithUserAttributes(*attributes);
    if (metadata.hasResettableDeviceID) {
        if (shared_.persistedConfig->unmatchedFirstOpenWithoutIDFA())
            logFirstOpenConsentedEvent(event.timestamp());
    } else if (event.name() == kFirstOpenEvent) {
        shared_.persistedConfig->setUnmatchedFirstOpenWithoutIDFA(true);
    }
    const qint64 fingerprint = metadata.fingerprint;
    if (!shared_.database->insertIfNotExistsRawEventMetadataEncoding(
            metadata.encoding, fingerprint, &error)) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23068, QStringLiteral("Data loss. Cannot record event metadata. Error"),
            error.description());
        return false;
    }
    const std::optional<qint64> deleted = shared_.database->deleteRawEventsOverAbsoluteLimit(&error);
    if (!deleted) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23069, QStringLiteral("Data loss. Unable to check raw event storage limit. Error"),
            error.description());
        return false;
    }
    if (*deleted > 0)
        shared_.log(APMMonitor::kLevelWarningMonitored, 23070, QStringLiteral("Data loss. Too many events stored on disk. Deleted count"),
            *deleted);
    if (!shared_.database->insertRawEvent(event, fingerprint, isRealtime, &error)) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23071, QStringLiteral("Data loss. Cannot record raw event. Error"),
            error.description());
        return false;
    }
    if (event.name() == kFirstOpenEvent) {
        const qint64 previous = engine_.previousFirstOpenCount().toLongLong();
        const qint64 base = previous < 1 ? 0 : previous;
        const qint64 next = base == std::numeric_limits<qint64>::max() ? base : base + 1;
        engine_.setPreviousFirstOpenCount(QString::number(next));
    }
    // The parameters' description is costly and only wanted when the line is.
    if (apm_event_pipeline::isLogged(*shared_.environment.monitor, APMMonitor::kLevelDebug))
        shared_.log(APMMonitor::kLevelDebug, 23072, QStringLiteral("Event logged. Event name, event params"),
            APMEventNameForLog(event.name()), APMParametersDescription(event.parameters()));
    return true;
}

const APMEventPipeline::RawEventMetadata& APMEventPipeline::rawEventMetadataWithUserAttributes(
    const QList<APMUserAttribute>& attributes)
{
    RawEventMetadataInputs inputs = rawEventMetadataInputs(attributes);
    if (keptMetadataInputs_ && *keptMetadataInputs_ == inputs)
        return keptMetadata_;
    keptMetadataInputs_.reset();
    const std::unique_ptr<APMPBMeasurementBundle> metadata = buildRawEventMetadata(inputs);
    keptMetadata_.encoding = metadata->protoBuffer().value_or(QByteArray());
    keptMetadata_.fingerprint = apm_64LSBMD5(keptMetadata_.encoding);
    keptMetadata_.hasResettableDeviceID = APMPBHasField(metadata.get(), kResettableDeviceID);
    keptMetadataInputs_ = std::move(inputs);
    return keptMetadata_;
}

std::unique_ptr<APMPBMeasurementBundle> APMEventPipeline::createRawEventMetadataWithUserAttributes(
    const QList<APMUserAttribute>& attributes)
{
    return buildRawEventMetadata(rawEventMetadataInputs(attributes));
}

APMEventPipeline::RawEventMetadataInputs APMEventPipeline::rawEventMetadataInputs(
    const QList<APMUserAttribute>& attributes)
{
    RawEventMetadataInputs inputs;
    // The application identifier (the bundle identifier); the analytics app
    // ID the engine was started with travels in its own field.
    inputs.applicationID = shared_.identity->appID();
    if (inputs.applicationID.isEmpty())
        inputs.applicationID = QCoreApplication::applicationName();
    inputs.fromAppStore = shared_.identity->isFromAppStore();
    inputs.appVersion = shared_.identity->appVersion();
    inputs.vmpAppID = shared_.identity->appIDFromVMP();
    inputs.adNestAppID = shared_.identity->appIDFromAdNest();
    inputs.installationID = shared_.identity->basaltInstallationID();
    const bool hasUserID = std::any_of(attributes.begin(), attributes.end(),
        [](const APMUserAttribute& attribute) { return attribute.name() == kUserIDProperty; });
    // Also moves the session stitching token on, so it is asked for every
    // event.
    APMIdentity::EventIdentifiers identifiers = shared_.identity->eventIdentifiersWithSessionNumber(
        shared_.persistedConfig->sessionNumber(), shared_.environment.session->isSessionExpired(), hasUserID);
    inputs.sessionStitchingToken = std::move(identifiers.sessionStitchingToken);
    inputs.appVersionMajor = shared_.identity->appVersionMajor();
    inputs.appVersionMinor = shared_.identity->appVersionMinor();
    inputs.appVersionRelease = shared_.identity->appVersionRelease();
    const APMIdentity::AdvertisingIdentifiers& advertising = identifiers.advertising;
    inputs.appleConsentStatus = advertising.appleConsentStatus;
    inputs.hasLimitedAdTracking = advertising.hasLimitedAdTracking;
    inputs.limitedAdTracking = advertising.limitedAdTracking;
    inputs.resettableDeviceID = advertising.resettableDeviceID;
    inputs.appInstanceID = advertising.appInstanceID;
    inputs.consentSignals = APMConsentSettingsUtil::consentSignals();
    inputs.gateIDFAOnATTMAS = shared_.remoteConfig->gateIDFAOnATTMASEnabled();
    // The vendor ID is read exactly when the identifiers' step would read it
    // (its first read makes one).
    const QString signalsInForce = inputs.consentSignals.size() >= 4 ? inputs.consentSignals : QString();
    if (!APMBundleUsesResettableDeviceID(signalsInForce, inputs.gateIDFAOnATTMAS, *shared_.identity, advertising))
        inputs.vendorID = shared_.identity->identifierForVendor();
    inputs.dma = shared_.remoteConfig->DMAConsentEnabled();
    if (inputs.dma) {
        inputs.consentDiagnostics = APMConsentSettingsUtil::consentDiagnostics();
        inputs.adUserDataDenied = APMConsentSettingsUtil::isAdUserDataDenied();
        inputs.dmaRegion = shared_.remoteConfig->isDMARegion();
        inputs.corePlatformServices = shared_.remoteConfig->corePlatformServices();
    }
    // Every event's metadata carries the device facts; reading them costs
    // file reads, so they are read again once an hour (when the time zone's
    // offset could have changed too).
    APMEnvironmentInfo& facts
        = shared_.environment.environmentInfo ? *shared_.environment.environmentInfo : *ownEnvironmentInfo_;
    const qint64 hour = qint64(shared_.now() / 3600);
    if (hour != timeZoneHour_) {
        timeZoneHour_ = hour;
        timeZoneOffsetMinutes_ = facts.timeZoneOffsetMinutes();
        osVersion_ = facts.deviceOSVersion();
        userDefaultLanguage_ = facts.userDefaultLanguage();
    }
    inputs.deviceModel = facts.deviceModel();
    inputs.osVersion = osVersion_;
    inputs.timeZoneOffsetMinutes = timeZoneOffsetMinutes_;
    inputs.userDefaultLanguage = userDefaultLanguage_;
    if (inputs.dma && !attributes.isEmpty()) {
        const bool hasNPA = std::any_of(attributes.begin(), attributes.end(),
            [](const APMUserAttribute& attribute) { return attribute.name() == kNPAProperty; });
        if (!hasNPA)
            inputs.npa = shared_.database->userAttributeWithName(kNPAProperty, nullptr);
    }
    inputs.attributes = attributes;
    return inputs;
}

std::unique_ptr<APMPBMeasurementBundle> APMEventPipeline::buildRawEventMetadata(
    const RawEventMetadataInputs& inputs)
{
    auto metadata = APMPBMeasurementBundle::initWithMessageInfo();
    APMPBMeasurementBundle& bundle = *metadata;
    APMPBSetInt32Field(&bundle, kProtocolVersion, 1);
    APMPBSetStringField(&bundle, kPlatform, APMEnvironmentInfo::platformName());
    APMPBSetStringField(&bundle, kAppID, inputs.applicationID);
    if (!inputs.fromAppStore)
        APMPBSetStringField(&bundle, kAppStore, kManualInstall);
    if (!inputs.appVersion.isEmpty())
        APMPBSetStringField(&bundle, kAppVersion, inputs.appVersion);
    if (!inputs.vmpAppID.isEmpty())
        APMPBSetStringField(&bundle, kVMPAppID, inputs.vmpAppID);
    else if (!inputs.adNestAppID.isEmpty())
        APMPBSetStringField(&bundle, kAdNestAppID, inputs.adNestAppID);
    APMPBSetInt64Field(&bundle, kLibraryVersion, kAppMetricsLibraryVersion);
    if (!inputs.installationID.isEmpty())
        APMPBSetStringField(&bundle, kInstallationID, inputs.installationID);
    if (!inputs.sessionStitchingToken.isEmpty())
        APMPBSetStringField(&bundle, kSessionStitchingToken, inputs.sessionStitchingToken);
    if (inputs.appVersionMajor)
        APMPBSetInt32Field(&bundle, kAppVersionMajor, *inputs.appVersionMajor);
    if (inputs.appVersionMinor)
        APMPBSetInt32Field(&bundle, kAppVersionMinor, *inputs.appVersionMinor);
    if (inputs.appVersionRelease)
        APMPBSetInt32Field(&bundle, kAppVersionRelease, *inputs.appVersionRelease);
    APMIdentity::AdvertisingIdentifiers advertising;
    advertising.appleConsentStatus = inputs.appleConsentStatus;
    advertising.hasLimitedAdTracking = inputs.hasLimitedAdTracking;
    advertising.limitedAdTracking = inputs.limitedAdTracking;
    advertising.resettableDeviceID = inputs.resettableDeviceID;
    advertising.appInstanceID = inputs.appInstanceID;
    APMApplyIdentifiersToBundle(
        bundle, inputs.consentSignals, inputs.gateIDFAOnATTMAS, *shared_.identity, advertising, true);
    if (inputs.dma)
        APMApplyDMAConsentToBundle(
            bundle, inputs.consentDiagnostics, inputs.adUserDataDenied, nullptr, *shared_.remoteConfig, true);
    APMPBSetStringField(&bundle, kDeviceModel, inputs.deviceModel);
    APMPBSetStringField(&bundle, kOSVersion, inputs.osVersion);
    APMPBSetInt32Field(&bundle, kTimeZoneOffsetMinutes, inputs.timeZoneOffsetMinutes);
    if (!inputs.userDefaultLanguage.isEmpty())
        APMPBSetStringField(&bundle, kUserDefaultLanguage, inputs.userDefaultLanguage);
    if (!inputs.attributes.isEmpty()) {
        std::vector<std::unique_ptr<APMPBUserAttribute>> properties;
        for (const APMUserAttribute& attribute : inputs.attributes) {
            if (auto property = attribute.protoUserAttribute())
                properties.push_back(std::move(property));
        }
        if (inputs.npa)
            properties.push_back(inputs.npa->protoUserAttribute());
        APMPBSetArrayField(&bundle, kUserAttributes, std::move(properties));
    }
    return metadata;
}

void APMEventPipeline::setLastAdvertisingIDResetUserPropertyOnWorkerQueue()
{
    if (!shared_.database->containsUserAttributeWithName(kUserIDProperty, nullptr).value_or(false))
        return;
    const std::optional<bool> hasReset = shared_.database->containsUserAttributeWithName(kLastAdvertisingIDResetProperty, nullptr);
    if (!hasReset || *hasReset)
        return;
    if (const auto attribute = APMUserAttribute::initWithOrigin(
            kAutoOrigin, kLastAdvertisingIDResetProperty, APMValue::initWithInt64(1), shared_.now()))
        setUserAttributeOnWorkerQueue(*attribute);
    shared_.identity->setShouldSetLastAdvertisingIDResetUserProperty(false);
}

void APMEventPipeline::logFirstOpenConsentedEvent(double timestamp)
{
    shared_.persistedConfig->setUnmatchedFirstOpenWithoutIDFA(false);
    const qint64 count = engine_.previousFirstOpenCount().toLongLong();
    const std::optional<APMUserAttribute> firstInstall = shared_.database->userAttributeWithName(kFirstOpenAfterInstallProperty, nullptr);
    const bool withoutAttribution = firstInstall && firstInstall->value().isInt64() && firstInstall->value().int64Value() < 1;
    const QVariantMap parameters { { kPreviousFirstOpenCountParameter, count < 2 ? qint64(0) : count - 1 },
        { kUpdateWithAnalyticsParameter, qint64(withoutAttribution ? 1 : 0) } };
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:933"), [weak, timestamp, parameters] {
        const auto self = weak.lock();
        if (!self || !*self)
            return;
        if (auto event = APMEvent::initWithOrigin(kAutoOrigin, false, kFirstOpenConsentedEvent, timestamp, 0,
                parameters, (*self)->remoteConfigInstance()->eventParameterLimits())) {
            event->setRealtime(true);
            (*self)->writeEventOnWorkerQueue(*event);
        }
    });
}
