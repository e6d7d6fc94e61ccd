#include "analytics/audience/APMAudienceTimestampsCache.h"

#include "analytics/audience/APMAudienceResultWords.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/model/APMAudienceFilter.h"
#include "analytics/model/APMEventFilter.h"
#include "analytics/model/APMFilterResult.h"
#include "analytics/wire/APMPBDynamicFilterResultTimestamp.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBResultData.h"
#include "analytics/wire/APMPBSequenceFilterResultTimestamp.h"

namespace {
constexpr int kStoredDynamicSlot = 2, kStoredSequenceSlot = 3;
constexpr int kTimestampFilterIDSlot = 0, kTimestampTimeSlot = 1;
} // namespace

void APMAudienceTimestampsCache::populateCachedTimestamps(const APMFilterResult* result, qint32 audienceID)
{
    const bool needDynamic = !cachedDynamicFilterEvaluationTimestamps_.contains(audienceID);
    const bool needSequence = !cachedSequenceEvaluationTimestamps_.contains(audienceID);
    if (!needDynamic && !needSequence)
        return;
    std::unique_ptr<APMPBResultData> stored;
    if (result && !result->currentResults().isEmpty())
        stored = APMPBResultData::initWithBuffer(result->currentResults());
    if (needDynamic) {
        QMap<qint32, double> times;
        if (stored) {
            for (const auto& entry :
                APMPBGetArrayField<APMPBDynamicFilterResultTimestamp>(stored.get(), kStoredDynamicSlot))
                times.insert(APMPBGetInt32Field(entry.get(), kTimestampFilterIDSlot),
                    double(APMPBGetInt64Field(entry.get(), kTimestampTimeSlot)));
        }
        cachedDynamicFilterEvaluationTimestamps_.insert(audienceID, times);
    }
    if (needSequence) {
        APMSequenceTimestampsCache sequence(audienceID);
        if (stored) {
            for (const auto& entry :
                APMPBGetArrayField<APMPBSequenceFilterResultTimestamp>(stored.get(), kStoredSequenceSlot)) {
                const QVariantList times = APMPBGetArrayField(entry.get(), kTimestampTimeSlot);
                if (!times.isEmpty())
                    sequence.addEventFilterTimestamp(
                        double(times.last().toLongLong()), APMPBGetInt32Field(entry.get(), kTimestampFilterIDSlot));
            }
        }
        cachedSequenceEvaluationTimestamps_.insert(audienceID, sequence);
    }
}

void APMAudienceTimestampsCache::addEvaluationTimestamp(double timestamp, const APMAudienceFilter& filter)
{
    const qint32 audienceID = filter.audienceID();
    if (filter.isSequence()) {
        auto it = cachedSequenceEvaluationTimestamps_.find(audienceID);
        if (it == cachedSequenceEvaluationTimestamps_.end())
            it = cachedSequenceEvaluationTimestamps_.insert(audienceID, APMSequenceTimestampsCache(audienceID));
        if (dynamic_cast<const APMEventFilter*>(&filter))
            it->addEventFilterTimestamp(timestamp, filter.filterID());
        else
            it->setUserPropertyTimestamp(timestamp, filter.filterID());
        return;
    }
    if (!filter.isSessionScoped() && !filter.isDynamic())
        return;
    const auto it = cachedDynamicFilterEvaluationTimestamps_.find(audienceID);
    if (it == cachedDynamicFilterEvaluationTimestamps_.end())
        return;
    const double stored = it->value(filter.filterID(), 0);
    if (timestamp > stored) {
        it->insert(filter.filterID(), timestamp);
        return;
    }
    APMLibrary::monitor().logWithLevel(APMMonitor::kLevelWarningSilent, 6037,
        QStringLiteral("Candidate evaluation timestamp is earlier than cached evaluation timestamp"), timestamp,
        stored);
}

std::vector<std::unique_ptr<APMPBDynamicFilterResultTimestamp>>
APMAudienceTimestampsCache::dynamicTimestampsForAudienceID(qint32 audienceID) const
{
    std::vector<std::unique_ptr<APMPBDynamicFilterResultTimestamp>> messages;
    const QMap<qint32, double> times = cachedDynamicFilterEvaluationTimestamps_.value(audienceID);
    for (auto it = times.constBegin(); it != times.constEnd(); ++it) {
        auto message = APMPBDynamicFilterResultTimestamp::initWithMessageInfo();
        if (!message)
            continue;
        APMPBSetInt32Field(message.get(), kTimestampFilterIDSlot, it.key());
        APMPBSetInt64Field(message.get(), kTimestampTimeSlot, audience_words::wholeSeconds(it.value()));
        messages.push_back(std::move(message));
    }
    return messages;
}

std::optional<std::vector<std::unique_ptr<APMPBSequenceFilterResultTimestamp>>>
APMAudienceTimestampsCache::sequenceTimestampsForAudienceID(qint32 audienceID) const
{
    const auto it = cachedSequenceEvaluationTimestamps_.constFind(audienceID);
    if (it == cachedSequenceEvaluationTimestamps_.constEnd())
        return std::nullopt;
    return it->sequenceFilterResultTimestamps();
}
