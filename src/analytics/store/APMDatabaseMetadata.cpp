#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/model/APMAppMetadata.h"
#include "analytics/model/APMDailyCounts.h"
#include "analytics/store/APMDatabase.h"
#include "platform/Clock.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The app metadata row is the row with this rowid.
const QString kMetadataRowIDColumn = QStringLiteral("rowid");
const QString kAppMetadataRowID = QStringLiteral("1");
constexpr qint64 kAppMetadataTableLimit = 1;

const QString kLastBundleIndexColumn = QStringLiteral("last_bundle_index");
const QString kLastBundleStartColumn = QStringLiteral("last_bundle_start_timestamp");
const QString kLastBundleEndColumn = QStringLiteral("last_bundle_end_timestamp");
const QString kDayColumn = QStringLiteral("day");
const QString kConversionsColumn = QStringLiteral("daily_conversions_count");
const QString kEventsColumn = QStringLiteral("daily_events_count");
const QString kPublicEventsColumn = QStringLiteral("daily_public_events_count");
const QString kErrorEventsColumn = QStringLiteral("daily_error_events_count");
const QString kMetadataRealtimeColumn = QStringLiteral("daily_real_time_conversion_events_count");
const QString kDCURealtimeColumn = QStringLiteral("daily_real_time_dcu_events_count");

const QString kEmptyMetadataRow = QStringLiteral("Received empty dictionary for getting app metadata");
const QString kEmptyCountsRow = QStringLiteral("Received empty dictionary for getting daily counts");
const QString kBadBundleColumns = QStringLiteral("Received invalid bundle columns for getting app metadata");
const QString kNoAppMetadataRow = QStringLiteral("App metadata row does not exist");

const QString kLogQueryFailed = QStringLiteral("Failed to query app metadata");
const QString kLogUpdateFailed = QStringLiteral("Unable to update the app metadata. Error");

bool isMetadataNumber(const QVariant& value)
{
    switch (value.metaType().id()) {
    case QMetaType::LongLong:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

// A stored number as a 32-bit integer; nothing when it is no number or lies
// outside the range (a fraction is dropped).
std::optional<qint32> metadataInt32FromColumn(const QVariant& value)
{
    if (!isMetadataNumber(value))
        return std::nullopt;
    const double number = value.toDouble();
    if (value.metaType().id() == QMetaType::LongLong) {
        const qint64 integer = value.toLongLong();
        if (integer < std::numeric_limits<qint32>::min() || integer > std::numeric_limits<qint32>::max())
            return std::nullopt;
        return static_cast<qint32>(integer);
    }
    if (!std::isfinite(number) || number < std::numeric_limits<qint32>::min()
        || number >= double(std::numeric_limits<qint32>::max()) + 1.0)
        return std::nullopt;
    return static_cast<qint32>(number);
}

std::optional<APMAppMetadata> appMetadataFromRow(const APMRow& row, APMError* error)
{
    if (!APMCheckCondition(!row.isEmpty(), error, APMError::StorageFailure, kEmptyMetadataRow))
        return std::nullopt;
    const std::optional<qint32> index = metadataInt32FromColumn(row.value(kLastBundleIndexColumn));
    const QVariant start = row.value(kLastBundleStartColumn);
    const QVariant end = row.value(kLastBundleEndColumn);
    if (!index || !isMetadataNumber(end) || (!isMetadataNumber(start) && !APMIsSqlNull(start))) {
        APMSetErrorWithCode(error, APMError::StorageFailure, kBadBundleColumns);
        return std::nullopt;
    }
    return APMAppMetadata::initWithLastBundleIndex(
        *index, isMetadataNumber(start) ? start.toDouble() : 0.0, end.toDouble());
}

APMRecord recordFromAppMetadata(const APMAppMetadata& metadata)
{
    return {
        { kMetadataRowIDColumn, kAppMetadataRowID },
        { kLastBundleIndexColumn, metadata.lastBundleIndex() },
        { kLastBundleStartColumn, metadata.lastBundleStartTimestamp() },
        { kLastBundleEndColumn, metadata.lastBundleEndTimestamp() },
    };
}

// The daily counts' update, its text built once: it runs on every logged
// event. The values go in the order of dailyCountsValues().
const QString& dailyCountsUpdateSQL()
{
    static const QString sql = [] {
        const QStringList columns { kDayColumn, kConversionsColumn, kEventsColumn, kPublicEventsColumn,
            kErrorEventsColumn, kMetadataRealtimeColumn, kDCURealtimeColumn };
        return QStringLiteral("UPDATE %1 SET %2=? WHERE %3=?")
            .arg(APMDatabase::kAppMetadataTable, columns.join(QStringLiteral("=?,")), kMetadataRowIDColumn);
    }();
    return sql;
}

QVariantList dailyCountsValues(const APMDailyCounts& counts)
{
    return { counts.day(), counts.conversionsCount(), counts.allEventsCount(), counts.publicEventsCount(),
        counts.errorEventsCount(), counts.realtimeCount(), counts.dcuRealtimeCount(), kAppMetadataRowID };
}

// The first of the objects read, or nothing with an error when the row is missing.
template <typename T> std::optional<T> firstOrMissing(std::optional<QList<T>> objects, APMError* error)
{
    if (!objects)
        return std::nullopt;
    if (objects->isEmpty()) {
        APMSetErrorWithCode(error, APMError::InvalidState, kNoAppMetadataRow);
        return std::nullopt;
    }
    return objects->first();
}

} // namespace

bool APMDatabase::initializeAppMetadata()
{
    return performTransaction([this] {
        APMError error;
        const auto existing = dataTypesFromTableWithName<APMAppMetadata>(
            kAppMetadataTable, kMetadataRowIDColumn, kAppMetadataRowID, &error, &appMetadataFromRow);
        if (!existing) {
            APMLibrary::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 12005, kLogQueryFailed);
            return false;
        }
        if (!existing->isEmpty())
            return true;
        const std::optional<APMAppMetadata> fresh = APMAppMetadata::initWithLastBundleIndex(0, 0.0, 0.0);
        if (!upsertDataType(recordFromAppMetadata(*fresh), kAppMetadataTable, kMetadataRowIDColumn, kAppMetadataRowID,
                kAppMetadataTableLimit, &error)) {
            APMLibrary::monitor().logWithLevel(
                APMMonitor::kLevelErrorMonitored, 12006, kLogUpdateFailed, QVariant::fromValue(error));
            return false;
        }
        return true;
    });
}

std::optional<APMAppMetadata> APMDatabase::queryAppMetadata(APMError* error)
{
    return firstOrMissing(dataTypesFromTableWithName<APMAppMetadata>(
                              kAppMetadataTable, kMetadataRowIDColumn, kAppMetadataRowID, error, &appMetadataFromRow),
        error);
}

bool APMDatabase::updateAppMetadata(const APMAppMetadata& metadata, APMError* error)
{
    return updateDataType(
        recordFromAppMetadata(metadata), kAppMetadataTable, kMetadataRowIDColumn, kAppMetadataRowID, error);
}

std::optional<APMDailyCounts> APMDatabase::dailyCounts(APMError* error)
{
    const double midnightOffset = persistedConfig_ ? persistedConfig_->midnightOffset() : 0.0;
    const qint32 today = APMDailyCounts::dayNumberForTime(clock().now(), midnightOffset);
    const qint64 version = dataVersion();
    if (dailyCountsCache_ && version >= 0 && dailyCountsCache_->dataVersion == version
        && dailyCountsCache_->today == today)
        return dailyCountsCache_->counts;
    dailyCountsCache_.reset();
    const CreateDataTypeBlock<APMDailyCounts> create
        = [today](const APMRow& row, APMError* rowError) -> std::optional<APMDailyCounts> {
        if (!APMCheckCondition(!row.isEmpty(), rowError, APMError::StorageFailure, kEmptyCountsRow))
            return std::nullopt;
        // A fresh row holds no counts yet: today, all zero.
        const auto count = [&row](const QString& column) {
            return std::max(0, metadataInt32FromColumn(row.value(column)).value_or(0));
        };
        return APMDailyCounts(metadataInt32FromColumn(row.value(kDayColumn)).value_or(today),
            count(kConversionsColumn), count(kEventsColumn), count(kPublicEventsColumn),
            count(kErrorEventsColumn), count(kMetadataRealtimeColumn), count(kDCURealtimeColumn));
    };
    std::optional<APMDailyCounts> counts = firstOrMissing(dataTypesFromTableWithName<APMDailyCounts>(
                                                              kAppMetadataTable, kMetadataRowIDColumn, kAppMetadataRowID, error, create),
        error);
    if (counts && version >= 0)
        dailyCountsCache_ = DailyCountsCache { *counts, today, version };
    return counts;
}

bool APMDatabase::updateDailyCounts(const APMDailyCounts& counts, APMError* error)
{
    // The row's change drops the counts kept; once it is made they are these.
    std::optional<DailyCountsCache> kept = std::move(dailyCountsCache_);
    dailyCountsCache_.reset();
    if (!updateRowWithStatement(dailyCountsUpdateSQL(), dailyCountsValues(counts), error))
        return false;
    if (kept) {
        // What a read of the row gives back: counts below zero read as zero.
        const auto stored = [](qint32 count) { return std::max(0, count); };
        kept->counts = APMDailyCounts(counts.day(), stored(counts.conversionsCount()),
            stored(counts.allEventsCount()), stored(counts.publicEventsCount()), stored(counts.errorEventsCount()),
            stored(counts.realtimeCount()), stored(counts.dcuRealtimeCount()));
        dailyCountsCache_ = std::move(kept);
    }
    return true;
}
