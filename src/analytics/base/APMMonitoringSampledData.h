#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <functional>

namespace platform {
class Clock;
} // namespace platform

// The one sampled health record of the monitor: a reservoir of one message.
// The record is either absent or four values: the encoded context (string),
// the population, i.e. how many messages were seen since it started
// (integer), the monitoring key of the sampled message (string), and when
// the record was started (date). Not thread-safe; the monitor guards it.
class APMMonitoringSampledData {
public:
    using RandomBelow = std::function<quint64(quint64 bound)>; // uniform in [0, bound)

    // Keeps the array when it is a valid record, else starts empty.
    APMMonitoringSampledData(const QVariantList& array, platform::Clock& clock, RandomBelow randomBelow);

    // Counts the message; it replaces the sampled one with probability
    // 1/population. Starts a record when there is none. A null key or
    // context changes nothing.
    void insertOrUpdateSampledDataWithKey(const QString& key, const QString& encodedContext);
    // "population:key:context" (or "population:key" for an empty context)
    // once the record is older than the period, dropping it; "0:" when there
    // is no record and the last sample was taken more than a period ago; a
    // null QString otherwise.
    QString monitoringDataForDispatchWithSamplePeriod(double samplePeriod, double lastSampledTimestamp);
    // A copy of the record; empty when there is none.
    QVariantList sampledData() const { return sampledData_; }

    // Exactly four elements typed string, number, string, date.
    static bool isValidUserDefaultsArrayEntry(const QVariant& entry);
    // The record of the four values; empty unless all four are present.
    static QVariantList sampledDataEntryWithKey(
        const QString& key, const QDateTime& timestamp, const QString& context, const QVariant& population);
    static QString monitoringURLParamWithKey(const QString& key, qint64 population, const QString& context);

private:
    platform::Clock& clock_;
    RandomBelow randomBelow_;
    QVariantList sampledData_;
};
