#include "analytics/engine/APMRateEventSampler.h"

#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/model/APMEventAggregates.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/wire/APMPBEventParam.h"
#include "analytics/wire/APMPBFieldAccess.h"

#include <QHash>
#include <QRandomGenerator>

#include <cmath>

const QString APMRateEventSampler::kSamplingRateParameter = QStringLiteral("_sr");
const QString APMRateEventSampler::kExemptFromSamplingParameter = QStringLiteral("_efs");
const QString APMRateEventSampler::kComplexEventIDParameter = QStringLiteral("_eid");

namespace rate_sampling {

// Slots of the event and parameter messages (field number − 1).
constexpr int32_t kEventParams = 0;
constexpr int32_t kEventName = 1;
constexpr int32_t kEventTimestamp = 2;
constexpr int32_t kEventPreviousTimestamp = 3;
constexpr int32_t kParamName = 0;
constexpr int32_t kParamInt = 2;
constexpr double kSecondsPerDay = 86400.0;

// The sampling columns of one name's row, as this bundle leaves them.
struct NameState {
    double lastBundledTimestamp = 0;
    qint32 lastBundledDay = 0;
    qint32 lastSamplingRate = 1;
    std::optional<qint64> lastSampledComplexEventID;
    bool lastExemptFromSampling = false;
};

// The account day of a time in milliseconds; 0 (never) when it does not fit.
qint32 accountDay(qint64 millis, qint32 offsetMinutes)
{
    const double day = std::floor((double(millis) / 1000.0 + double(offsetMinutes) * 60.0) / kSecondsPerDay);
    return day > 0 && day < 2147483647.0 ? qint32(day) : 0;
}

std::optional<qint64> intParameter(const APMPBEvent& event, const QString& name)
{
    for (const auto& param : APMPBGetArrayField<APMPBEventParam>(&event, kEventParams)) {
        if (APMPBGetStringField(param.get(), kParamName) == name && APMPBHasField(param.get(), kParamInt))
            return APMPBGetInt64Field(param.get(), kParamInt);
    }
    return std::nullopt;
}

// Adds an integer parameter unless the event has one of that name already.
void addIntParameter(APMPBEvent& event, const QString& name, qint64 value, APMMonitor& monitor, qint64 failureCode,
    const QString& failureMessage)
{
    std::vector<std::unique_ptr<APMPBEventParam>> params = APMPBGetArrayField<APMPBEventParam>(&event, kEventParams);
    for (const auto& param : params) {
        if (APMPBGetStringField(param.get(), kParamName) == name) {
            monitor.logWithLevel(APMMonitor::kLevelWarningMonitored, 23156,
                QStringLiteral("Event parameter already exists. Parameter name"), name);
            return;
        }
    }
    std::unique_ptr<APMPBEventParam> param = APMPBEventParam::initWithMessageInfo();
    if (!param) {
        monitor.logWithLevel(APMMonitor::kLevelErrorSilent, failureCode, failureMessage);
        return;
    }
    APMPBSetStringField(param.get(), kParamName, name);
    APMPBSetInt64Field(param.get(), kParamInt, value);
    params.push_back(std::move(param));
    APMPBSetArrayField(&event, kEventParams, params);
}

} // namespace rate_sampling

APMRateEventSampler::APMRateEventSampler(Sources sources)
    : sources_(std::move(sources))
{
    if (!sources_.randomBelow)
        sources_.randomBelow = [](quint32 bound) { return QRandomGenerator::global()->bounded(bound); };
}

bool APMRateEventSampler::canEventBeSampled(const QString& name, const APMRemoteConfig& config) const
{
    if (!config.isEventSamplingEnabled() || !config.eventHasSamplingRate(name))
        return false;
    if (config.samplingRateForEvent(name) <= 1) {
        sources_.monitor->logWithLevel(
            APMMonitor::kLevelWarningSilent, 23154, QStringLiteral("Invalid sampling rate provided"));
        return false;
    }
    return true;
}

bool APMRateEventSampler::isEventBundledAfterRoll(qint32 rate) const
{
    return rate <= 1 || sources_.randomBelow(quint32(rate)) == 0;
}

std::optional<APMEventSampler::Events> APMRateEventSampler::sampleEvents(Events events, APMError* error)
{
    using namespace rate_sampling;
    APMMonitor& monitor = *sources_.monitor;
    APMDatabase* database = sources_.database ? sources_.database() : nullptr;
    APMRemoteConfig* config = sources_.remoteConfig ? sources_.remoteConfig() : nullptr;
    if (!database || !config) {
        if (error)
            *error = APMError::apm_errorWithCode(APMError::InvalidState, QStringLiteral("Sampling before start"));
        return std::nullopt;
    }

    APMError readError;
    const std::optional<QList<APMEventAggregates>> rows = database->allEventAggregates(&readError);
    if (!rows) {
        monitor.logWithLevel(APMMonitor::kLevelErrorMonitored, 23157,
            QStringLiteral("Unable to query all event aggregates for cache. error"), readError.description());
        if (error)
            *error = readError;
        return std::nullopt;
    }
    QHash<QString, NameState> states;
    for (const APMEventAggregates& row : *rows) {
        states.insert(row.name(),
            NameState { row.lastBundledTimestamp(), row.lastBundledDay(), row.lastSamplingRate(),
                row.lastSampledComplexEventID(), row.lastExemptFromSampling() });
    }

    const qint32 offsetMinutes = config->analyticsAccountTimeZoneOffsetMinutes();
    QStringList touched;
    Events kept;
    for (std::unique_ptr<APMPBEvent>& event : events) {
        const QString name = APMPBGetStringField(event.get(), kEventName);
        if (name.isEmpty()) {
            monitor.logWithLevel(APMMonitor::kLevelErrorSilent, 23155,
                QStringLiteral("Dropping event at sampling. Event has no name"));
            continue;
        }
        if (!touched.contains(name))
            touched.append(name);
        NameState& state = states[name];
        const qint64 millis = APMPBGetInt64Field(event.get(), kEventTimestamp);
        const qint32 today = accountDay(millis, offsetMinutes);
        const auto markBundled = [&] {
            state.lastBundledTimestamp = double(millis) / 1000.0;
            state.lastBundledDay = today;
        };
        if (!canEventBeSampled(name, *config)) {
            markBundled();
            kept.push_back(std::move(event));
            continue;
        }
        const qint32 rate = config->samplingRateForEvent(name);
        state.lastSamplingRate = rate;
        if (isEventBundledAfterRoll(rate)) {
            state.lastSampledComplexEventID.reset();
            markBundled();
            addIntParameter(*event, kSamplingRateParameter, rate, monitor, 23153,
                QStringLiteral("Failed to create sampling rate parameter"));
            kept.push_back(std::move(event));
            continue;
        }
        const qint32 lastDay = state.lastBundledDay != 0
            ? state.lastBundledDay
            : accountDay(APMPBGetInt64Field(event.get(), kEventPreviousTimestamp), offsetMinutes);
        if (lastDay == today) {
            if (const std::optional<qint64> complexID = intParameter(*event, kComplexEventIDParameter))
                state.lastSampledComplexEventID = complexID;
            continue;
        }
        markBundled();
        state.lastExemptFromSampling = true;
        addIntParameter(*event, kSamplingRateParameter, rate, monitor, 23153,
            QStringLiteral("Failed to create sampling rate parameter"));
        addIntParameter(*event, kExemptFromSamplingParameter, 1, monitor, 23158,
            QStringLiteral("Failed to create exempt from sampling parameter"));
        kept.push_back(std::move(event));
    }

    for (const QString& name : touched) {
        APMError rowError;
        std::optional<APMEventAggregates> row = database->eventAggregatesWithName(name, &rowError);
        if (!row) {
            if (rowError.code() == 0)
                continue; // a name bundling has not counted keeps no sampling state
            monitor.logWithLevel(APMMonitor::kLevelErrorMonitored, 23151,
                QStringLiteral("Unable to query event aggregates to update database. Name, error"), name,
                rowError.description());
            if (error)
                *error = rowError;
            return std::nullopt;
        }
        const NameState& state = states[name];
        if (state.lastBundledTimestamp != 0)
            row->setLastBundledTimestamp(state.lastBundledTimestamp);
        row->setLastSamplingRate(state.lastSamplingRate);
        row->setLastSampledComplexEventID(state.lastSampledComplexEventID);
        row->setLastExemptFromSampling(state.lastExemptFromSampling);
        row->setLastBundledDay(state.lastBundledDay);
        if (!database->updateEventAggregates(*row, &rowError)) {
            monitor.logWithLevel(APMMonitor::kLevelErrorMonitored, 23152,
                QStringLiteral("Failed to update event aggregates after removing removing events due to sampling. Error"),
                rowError.description());
            if (error)
                *error = rowError;
            return std::nullopt;
        }
    }
    return kept;
}
