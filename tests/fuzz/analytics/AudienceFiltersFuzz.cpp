// Audience definitions of a remote configuration, which arrive from the
// network: every audience is checked as for storing, and every filter of it
// (checked or not) is evaluated against a fixed set of events and user
// properties, its answers recorded into a result record and read back.
// Experiment responses, also from the network, are decoded into snapshots
// and errors, and every snapshot must survive its own wire form. The first
// input byte picks the form: 0 a measurement configuration, 1 a stored
// result record (a damaged row of the database), 2 an experiment response.
//
// Input: the form byte, then the encoded message.

#include "FuzzTarget.h"
#include "analytics/audience/APMAudience.h"
#include "analytics/audience/APMAudienceDefinitionCheck.h"
#include "analytics/audience/APMAudienceFilterMatching.h"
#include "analytics/audience/APMAudienceTimestampsCache.h"
#include "analytics/experiments/APMETaskManager.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMValue.h"
#include "analytics/model/APMEventAggregates.h"
#include "analytics/model/APMEventFilter.h"
#include "analytics/model/APMFilterResult.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/wire/APMPBAudience.h"
#include "analytics/wire/APMPBEventFilter.h"
#include "analytics/wire/APMPBExperimentResponse.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementConfig.h"
#include "analytics/wire/APMPBPropertyFilter.h"
#include "analytics/wire/APMPBSnapshot.h"

#include <limits>
#include <vector>

namespace audience_filters_fuzz {

constexpr int32_t kConfigAudiencesSlot = 5;

struct Sample {
    QString name;
    EventParameters parameters;
};

const std::vector<Sample>& samples()
{
    static const std::vector<Sample> made = [] {
        const QString names[] = { QStringLiteral("purchase"), QStringLiteral("_f"), QStringLiteral("level_up"),
            QStringLiteral("a") };
        std::vector<Sample> list;
        for (const QString& name : names) {
            list.push_back({ name,
                { { QStringLiteral("value"), APMValue::initWithInt64(42) },
                    { QStringLiteral("price"), APMValue::initWithDouble(0.1) },
                    { QStringLiteral("huge"), APMValue::initWithDouble(std::numeric_limits<double>::max()) },
                    { QStringLiteral("currency"), *APMValue::initWithString(QStringLiteral("EUR")) },
                    { QStringLiteral("count"), *APMValue::initWithString(QStringLiteral("-12.50")) } } });
        }
        return list;
    }();
    return made;
}

const std::vector<APMUserAttribute>& properties()
{
    static const std::vector<APMUserAttribute> made = [] {
        std::vector<APMUserAttribute> list;
        const QString names[] = { QStringLiteral("tier"), QStringLiteral("_fot"), QStringLiteral("level") };
        const APMValue values[] = { *APMValue::initWithString(QStringLiteral("Gold")),
            APMValue::initWithInt64(std::numeric_limits<qint64>::min()), APMValue::initWithDouble(3.25) };
        for (const QString& name : names) {
            for (const APMValue& value : values) {
                if (auto attribute = APMUserAttribute::initWithOrigin(QStringLiteral("app"), name, value, 100))
                    list.push_back(*attribute);
            }
        }
        return list;
    }();
    return made;
}

void evaluateAudience(const APMPBAudience& audience, const QSet<qint32>& accepted)
{
    APMAudienceLimits limits;
    limits.maxFiltersPerAudience = 100;
    limits.maxParametersPerFilter = 250;
    checkAudienceDefinition(audience, accepted, limits, nullptr);
    const auto counts = APMEventAggregates::initWithName(QStringLiteral("purchase"), 7, 0, 2, 0);
    APMAudienceTimestampsCache cache;
    std::optional<APMFilterResult> result;
    const qint32 audienceID = APMPBGetInt32Field(&audience, 0);
    cache.populateCachedTimestamps(nullptr, audienceID);
    for (const auto& filter : APMPBGetArrayField<APMPBEventFilter>(&audience, 2)) {
        const qint32 filterID = APMPBGetInt32Field(filter.get(), 0);
        for (const Sample& sample : samples()) {
            const auto outcome
                = evaluateEventFilter(filter.get(), sample.name, sample.parameters, counts ? &*counts : nullptr);
            if (filterID < 0 || filterID >= 100)
                continue;
            const APMEventFilter row(audienceID, filterID, sample.name, {}, APMPBGetBoolField(filter.get(), 7),
                APMPBGetBoolField(filter.get(), 5), APMPBGetBoolField(filter.get(), 6));
            if (outcome.value_or(false))
                cache.addEvaluationTimestamp(1000.5 + filterID, row);
            result = APMAudience::updatedFilterResultWithFilterID(
                filterID, audienceID, result ? &*result : nullptr, outcome, cache);
            if (outcome.has_value() && APMAudience::isFilterResultTrueForFilterID(&*result, filterID) != *outcome)
                fuzz::fail("filter %d recorded as %d, evaluated as %d", filterID, !*outcome, *outcome);
        }
    }
    for (const auto& filter : APMPBGetArrayField<APMPBPropertyFilter>(&audience, 1)) {
        for (const APMUserAttribute& property : properties())
            evaluatePropertyFilter(filter.get(), &property);
    }
}

void storedRecord(const QByteArray& bytes)
{
    const APMFilterResult row(3, bytes, bytes);
    for (qint32 filterID : { 0, 1, 63, 64, 99 })
        APMAudience::isFilterResultTrueForFilterID(&row, filterID);
    APMAudienceTimestampsCache cache;
    cache.populateCachedTimestamps(&row, 3);
    const APMEventFilter sequence(3, 7, QStringLiteral("e"), {}, false, false, true);
    cache.addEvaluationTimestamp(-1e300, sequence);
    cache.addEvaluationTimestamp(std::numeric_limits<double>::quiet_NaN(), sequence);
    APMAudience::updatedFilterResultWithFilterID(7, 3, &row, true, cache);
}

void experimentResponse(const QByteArray& bytes)
{
    const auto snapshots = APMETaskManager::experimentSnapshotsFromData(bytes, 1000);
    const auto response = APMPBExperimentResponse::initWithBuffer(bytes);
    APMETaskManager::errorsFromExperimentResponse(response.get());
    for (const APMESnapshot& snapshot : snapshots.value_or(QList<APMESnapshot>())) {
        if (snapshot.sdkName().isEmpty())
            fuzz::fail("a snapshot without SDK name");
        const auto message = snapshot.proto();
        const auto bytesBack = message ? message->protoBuffer() : std::nullopt;
        if (!bytesBack)
            fuzz::fail("a snapshot without wire form");
        const auto decoded = APMPBSnapshot::initWithBuffer(*bytesBack);
        const auto again = decoded ? APMESnapshot::initWithProtobuf(*decoded, 1000) : std::nullopt;
        if (!again || again->flagsByExperimentID().keys() != snapshot.flagsByExperimentID().keys())
            fuzz::fail("a snapshot changed on its way through the wire");
    }
}

} // namespace audience_filters_fuzz

PRAVIK_FUZZ_TARGET(audience_filters)
{
    if (input.isEmpty())
        return;
    const QByteArray body = input.mid(1);
    switch (quint8(input[0]) % 3) {
    case 0: {
        const auto config = APMPBMeasurementConfig::initWithBuffer(body);
        if (!config)
            return;
        QSet<qint32> accepted;
        for (const auto& audience : APMPBGetArrayField<APMPBAudience>(config.get(), audience_filters_fuzz::kConfigAudiencesSlot)) {
            audience_filters_fuzz::evaluateAudience(*audience, accepted);
            accepted.insert(APMPBGetInt32Field(audience.get(), 0));
        }
        break;
    }
    case 1:
        audience_filters_fuzz::storedRecord(body);
        break;
    default:
        audience_filters_fuzz::experimentResponse(body);
        break;
    }
}
