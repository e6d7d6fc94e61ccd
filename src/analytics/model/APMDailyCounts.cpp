#include "analytics/model/APMDailyCounts.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr qint64 kCountMax = std::numeric_limits<qint32>::max();

// Adds within [0, largest 32-bit value]: a count is never negative and never wraps.
qint32 addCount(qint32 count, qint32 amount)
{
    return static_cast<qint32>(std::clamp<qint64>(qint64(count) + amount, 0, kCountMax));
}

} // namespace

qint32 APMDailyCounts::dayNumberForTime(double now, double midnightOffset)
{
    const double day = std::floor((now - midnightOffset) / kSecondsPerDay);
    if (std::isnan(day))
        return 0;
    return static_cast<qint32>(
        std::clamp(day, double(std::numeric_limits<qint32>::min()), double(kCountMax)));
}

APMDailyCounts::APMDailyCounts(qint32 day, qint32 conversionsCount, qint32 allEventsCount,
    qint32 publicEventsCount, qint32 errorEventsCount, qint32 realtimeCount, qint32 dcuRealtimeCount)
    : day_(day)
    , conversionsCount_(conversionsCount)
    , allEventsCount_(allEventsCount)
    , publicEventsCount_(publicEventsCount)
    , errorEventsCount_(errorEventsCount)
    , realtimeCount_(realtimeCount)
    , dcuRealtimeCount_(dcuRealtimeCount)
{
}

void APMDailyCounts::rollOverTo(qint32 currentDay)
{
    if (currentDay != day_)
        resetWithNewDay(currentDay);
}

void APMDailyCounts::resetWithNewDay(qint32 day)
{
    day_ = day;
    conversionsCount_ = 0;
    allEventsCount_ = 0;
    publicEventsCount_ = 0;
    errorEventsCount_ = 0;
    realtimeCount_ = 0;
    dcuRealtimeCount_ = 0;
}

void APMDailyCounts::incrementCountsForCurrentDay(qint32 currentDay, bool isPublicEvent, bool isConversion)
{
    incrementCountsForCurrentDayByEffectiveEventCount(currentDay, isPublicEvent, isConversion, 1);
}

void APMDailyCounts::incrementCountsForCurrentDayByEffectiveEventCount(
    qint32 currentDay, bool isPublicEvent, bool isConversion, qint32 effectiveEventCount)
{
    rollOverTo(currentDay);
    if (isConversion)
        conversionsCount_ = addCount(conversionsCount_, 1);
    allEventsCount_ = addCount(allEventsCount_, effectiveEventCount);
    if (isPublicEvent)
        publicEventsCount_ = addCount(publicEventsCount_, effectiveEventCount);
}

void APMDailyCounts::incrementErrorEventsCountForCurrentDay(qint32 currentDay)
{
    rollOverTo(currentDay);
    allEventsCount_ = addCount(allEventsCount_, 1);
    errorEventsCount_ = addCount(errorEventsCount_, 1);
}

void APMDailyCounts::incrementRealtimeCountsForCurrentDay(qint32 currentDay)
{
    rollOverTo(currentDay);
    realtimeCount_ = addCount(realtimeCount_, 1);
}

void APMDailyCounts::incrementDCURealtimeCountsForCurrentDay(qint32 currentDay)
{
    rollOverTo(currentDay);
    dcuRealtimeCount_ = addCount(dcuRealtimeCount_, 1);
}

void APMDailyCounts::decrementAllEventsCount()
{
    allEventsCount_ = addCount(allEventsCount_, -1);
}
