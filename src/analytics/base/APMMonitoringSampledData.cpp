#include "analytics/base/APMMonitoringSampledData.h"

#include "analytics/base/APMConfigStore.h"
#include "platform/Clock.h"

#include <cmath>
#include <limits>

namespace {

enum Index : int { ContextIndex = 0, PopulationIndex = 1, KeyIndex = 2, TimestampIndex = 3, Count = 4 };

double secondsOf(const QDateTime& date)
{
    return static_cast<double>(date.toMSecsSinceEpoch()) / 1000.0;
}

QDateTime dateOf(double seconds)
{
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e14)
        return QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(seconds * 1000.0)), Qt::UTC);
}

} // namespace

APMMonitoringSampledData::APMMonitoringSampledData(
    const QVariantList& array, platform::Clock& clock, RandomBelow randomBelow)
    : clock_(clock)
    , randomBelow_(std::move(randomBelow))
{
    if (isValidUserDefaultsArrayEntry(array))
        sampledData_ = array;
}

void APMMonitoringSampledData::insertOrUpdateSampledDataWithKey(
    const QString& key, const QString& encodedContext)
{
    if (key.isNull() || encodedContext.isNull())
        return;
    if (sampledData_.isEmpty()) {
        sampledData_ = sampledDataEntryWithKey(key, dateOf(clock_.now()), encodedContext, qlonglong(1));
        return;
    }
    // A stored record may be damaged; the count never goes below one or
    // past the int64 range.
    qint64 population = std::max<qint64>(APMConfigStore::int64FromNumber(sampledData_[PopulationIndex]), 0);
    if (population < std::numeric_limits<qint64>::max())
        ++population;
    sampledData_[PopulationIndex] = qlonglong(population);
    if (randomBelow_(static_cast<quint64>(population)) == 0) {
        sampledData_[KeyIndex] = key;
        sampledData_[ContextIndex] = encodedContext;
    }
}

QString APMMonitoringSampledData::monitoringDataForDispatchWithSamplePeriod(
    double samplePeriod, double lastSampledTimestamp)
{
    const double now = clock_.now();
    if (sampledData_.isEmpty()) {
        if (lastSampledTimestamp > 0 && std::fabs(now - lastSampledTimestamp) > samplePeriod)
            return QStringLiteral("0:");
        return QString();
    }
    if (!(secondsOf(sampledData_[TimestampIndex].toDateTime()) < now - samplePeriod))
        return QString();
    const QString answer = monitoringURLParamWithKey(sampledData_[KeyIndex].toString(),
        APMConfigStore::int64FromNumber(sampledData_[PopulationIndex]),
        sampledData_[ContextIndex].toString());
    sampledData_.clear();
    return answer;
}

bool APMMonitoringSampledData::isValidUserDefaultsArrayEntry(const QVariant& entry)
{
    const int type = entry.metaType().id();
    if (type != QMetaType::QVariantList)
        return false;
    const QVariantList list = entry.toList();
    return list.size() == Count && list[ContextIndex].metaType().id() == QMetaType::QString
        && APMConfigStore::isNumber(list[PopulationIndex])
        && list[KeyIndex].metaType().id() == QMetaType::QString
        && list[TimestampIndex].metaType().id() == QMetaType::QDateTime;
}

QVariantList APMMonitoringSampledData::sampledDataEntryWithKey(
    const QString& key, const QDateTime& timestamp, const QString& context, const QVariant& population)
{
    if (key.isNull() || !timestamp.isValid() || context.isNull() || !population.isValid())
        return {};
    QVariantList entry(Count);
    entry[ContextIndex] = context;
    entry[PopulationIndex] = population;
    entry[KeyIndex] = key;
    entry[TimestampIndex] = timestamp;
    return entry;
}

QString APMMonitoringSampledData::monitoringURLParamWithKey(
    const QString& key, qint64 population, const QString& context)
{
    QString param = QString::number(population) + QLatin1Char(':') + key;
    if (!context.isEmpty())
        param += QLatin1Char(':') + context;
    return param;
}
