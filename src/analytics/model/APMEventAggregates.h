#pragma once

#include <QString>

#include <optional>

// The running counters of one event name, as kept in the events table. The
// counts never go negative: one that would pass the largest 32-bit value
// starts again at 0 (logged).
class APMEventAggregates {
public:
    // Nothing when the name is not a valid internal event name, or (logged)
    // when a count is negative. Sampling starts at rate 1, not exempt, with
    // nothing bundled yet.
    static std::optional<APMEventAggregates> initWithName(const QString& name, qint32 lifetimeCount,
        qint32 currentBundleCount, qint32 currentSessionCount, double lastFireTimestamp);

    const QString& name() const { return name_; }
    qint32 lifetimeCount() const { return lifetimeCount_; }
    qint32 currentBundleCount() const { return currentBundleCount_; }
    qint32 currentSessionCount() const { return currentSessionCount_; }

    void incrementLifetimeCount();
    void incrementCurrentBundleCount();
    void incrementCurrentSessionCount();

    double lastFireTimestamp() const { return lastFireTimestamp_; }
    void setLastFireTimestamp(double timestamp) { lastFireTimestamp_ = timestamp; }
    double lastBundledTimestamp() const { return lastBundledTimestamp_; }
    void setLastBundledTimestamp(double timestamp) { lastBundledTimestamp_ = timestamp; }
    const std::optional<qint64>& lastSampledComplexEventID() const { return lastSampledComplexEventID_; }
    void setLastSampledComplexEventID(std::optional<qint64> eventID) { lastSampledComplexEventID_ = eventID; }
    qint32 lastSamplingRate() const { return lastSamplingRate_; }
    void setLastSamplingRate(qint32 rate) { lastSamplingRate_ = rate; }
    bool lastExemptFromSampling() const { return lastExemptFromSampling_; }
    void setLastExemptFromSampling(bool exempt) { lastExemptFromSampling_ = exempt; }
    qint32 lastBundledDay() const { return lastBundledDay_; }
    void setLastBundledDay(qint32 day) { lastBundledDay_ = day; }

private:
    APMEventAggregates() = default;

    QString name_;
    qint32 lifetimeCount_ = 0;
    qint32 currentBundleCount_ = 0;
    qint32 currentSessionCount_ = 0;
    double lastFireTimestamp_ = 0;
    double lastBundledTimestamp_ = 0;
    std::optional<qint64> lastSampledComplexEventID_;
    qint32 lastSamplingRate_ = 1;
    bool lastExemptFromSampling_ = false;
    qint32 lastBundledDay_ = 0;
};
