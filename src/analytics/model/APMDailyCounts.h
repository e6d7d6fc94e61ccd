#pragma once

#include <QtGlobal>

// The events the engine accepted on one day, which its daily limits are
// checked against. Every increment names the current day; a day other than
// the one counted starts the counters again from zero. Counters stop at the
// largest 32-bit value rather than wrap.
class APMDailyCounts {
public:
    static constexpr double kSecondsPerDay = 86400.0;

    // The day a moment (seconds since 1970) belongs to when days start the
    // offset (seconds) after midnight UTC: floor((now - offset) / 86400),
    // held to the 32-bit range (a time that is no number gives day 0).
    static qint32 dayNumberForTime(double now, double midnightOffset);

    APMDailyCounts(qint32 day, qint32 conversionsCount, qint32 allEventsCount, qint32 publicEventsCount,
        qint32 errorEventsCount, qint32 realtimeCount, qint32 dcuRealtimeCount);

    qint32 day() const { return day_; }
    qint32 conversionsCount() const { return conversionsCount_; }
    qint32 allEventsCount() const { return allEventsCount_; }
    qint32 publicEventsCount() const { return publicEventsCount_; }
    qint32 errorEventsCount() const { return errorEventsCount_; }
    qint32 realtimeCount() const { return realtimeCount_; }
    qint32 dcuRealtimeCount() const { return dcuRealtimeCount_; }

    // One event: a conversion counts once, whatever the effective count.
    void incrementCountsForCurrentDay(qint32 currentDay, bool isPublicEvent, bool isConversion);
    void incrementCountsForCurrentDayByEffectiveEventCount(
        qint32 currentDay, bool isPublicEvent, bool isConversion, qint32 effectiveEventCount);
    // An error event counts among all events too.
    void incrementErrorEventsCountForCurrentDay(qint32 currentDay);
    void incrementRealtimeCountsForCurrentDay(qint32 currentDay);
    void incrementDCURealtimeCountsForCurrentDay(qint32 currentDay);
    // Never below zero; the day is not checked.
    void decrementAllEventsCount();
    void resetWithNewDay(qint32 day);

    bool operator==(const APMDailyCounts& other) const = default;

private:
    void rollOverTo(qint32 currentDay);

    qint32 day_;
    qint32 conversionsCount_;
    qint32 allEventsCount_;
    qint32 publicEventsCount_;
    qint32 errorEventsCount_;
    qint32 realtimeCount_;
    qint32 dcuRealtimeCount_;
};
