#include "analytics/audience/APMSequenceTimestampsCache.h"

#include "analytics/audience/APMAudienceResultWords.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBSequenceFilterResultTimestamp.h"

#include <algorithm>

namespace {
constexpr int kCacheFilterIDSlot = 0, kCacheTimesSlot = 1;
}

APMSequenceTimestampsCache::APMSequenceTimestampsCache(qint32 audienceID)
    : audienceID_(audienceID)
{
}

std::optional<QList<double>> APMSequenceTimestampsCache::sequenceTimestampsForFilterID(qint32 filterID) const
{
    const auto it = allSequenceTimestampsByFilterID_.constFind(filterID);
    if (it == allSequenceTimestampsByFilterID_.constEnd())
        return std::nullopt;
    return *it;
}

void APMSequenceTimestampsCache::addEventFilterTimestamp(double timestamp, qint32 filterID)
{
    QList<double>& times = allSequenceTimestampsByFilterID_[filterID];
    if (!times.isEmpty() && timestamp < times.last()) {
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelWarningSilent, 42000,
            QStringLiteral("Adding a sequence timestamp less than the last added timestamp"), timestamp,
            times.last());
    }
    if (!times.isEmpty()
        && audience_words::wholeSeconds(times.last()) == audience_words::wholeSeconds(timestamp))
        return;
    times.append(timestamp);
}

void APMSequenceTimestampsCache::setUserPropertyTimestamp(double timestamp, qint32 filterID)
{
    QList<double>& times = allSequenceTimestampsByFilterID_[filterID];
    if (!times.isEmpty() && timestamp < times.last()) {
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelWarningSilent, 42001,
            QStringLiteral("Setting a sequence timestamp less than the last set timestamp"), timestamp,
            times.last());
    }
    times = { timestamp };
}

std::vector<std::unique_ptr<APMPBSequenceFilterResultTimestamp>>
APMSequenceTimestampsCache::sequenceFilterResultTimestamps() const
{
    std::vector<std::unique_ptr<APMPBSequenceFilterResultTimestamp>> messages;
    for (auto it = allSequenceTimestampsByFilterID_.constBegin(); it != allSequenceTimestampsByFilterID_.constEnd();
         ++it) {
        auto message = APMPBSequenceFilterResultTimestamp::initWithMessageInfo();
        if (!message)
            continue;
        APMPBSetInt32Field(message.get(), kCacheFilterIDSlot, it.key());
        if (!it->isEmpty()) {
            QList<double> sorted = *it;
            std::sort(sorted.begin(), sorted.end());
            QVariantList seconds;
            for (double time : sorted)
                seconds.append(audience_words::wholeSeconds(time));
            APMPBSetArrayField(message.get(), kCacheTimesSlot, seconds);
        }
        messages.push_back(std::move(message));
    }
    return messages;
}
