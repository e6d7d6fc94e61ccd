// The upload queue: finished bundles, gzip-compressed, waiting in table
// queue for upload, oldest first. Rows that can no longer be read are
// removed as soon as a read meets them, so they never hold up the uploads
// behind them.

#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/model/APMStoreLimits.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/store/APMGzip.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementBundle.h"
#include "platform/Clock.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

namespace {

const QString kQueueRowIDColumn = QStringLiteral("rowid");
const QString kQueueDataColumn = QStringLiteral("data");
const QString kEndTimestampColumn = QStringLiteral("bundle_end_timestamp");
const QString kQueueRealtimeColumn = QStringLiteral("is_realtime");
const QString kRetryCountColumn = QStringLiteral("retry_count");

// Slots of the bundle message: end time (ms), app ID, upload retry count.
constexpr int32_t kBundleEndTimestampSlot = 5;
constexpr int32_t kBundleAppIDSlot = 14;
constexpr int32_t kBundleRetryCountSlot = 35;

// A retry counter that reaches this value stays there.
constexpr qint64 kRetryLimit = std::numeric_limits<qint32>::max();
// Row ids bound per statement, well below SQLite's bound-parameter limit
// (999 in older builds), so any number of ids can be named.
constexpr qsizetype kRowIDsPerStatement = 500;

const QString kOldestBundlesQuery
    = QStringLiteral("SELECT rowid, data, retry_count FROM queue ORDER BY rowid ASC LIMIT ?");
const QString kBundlesWithRowIDsQuery = QStringLiteral("SELECT rowid, data, retry_count FROM queue WHERE %1");
// Only the named rows: others at the limit are not being raised.
const QString kRetryLimitReachedQuery
    = QStringLiteral("SELECT EXISTS (SELECT 1 FROM queue WHERE %1 AND retry_count = ? LIMIT 1)");
const QString kRetryBelowLimitCondition = QStringLiteral("%1 AND retry_count < ?");
const QString kStaleBundlesCondition
    = QStringLiteral("abs(bundle_end_timestamp - cast(? as REAL)) > cast(? as REAL)");
const QString kLatestBundleTimeQuery = QStringLiteral("SELECT MAX(bundle_end_timestamp) FROM queue");
const QString kQueueEmptyQuery = QStringLiteral("SELECT NOT EXISTS (SELECT 1 FROM queue LIMIT 1)");
// The flag is bound, so the statement is prepared once and kept.
const QString kContainsRealtimeQuery
    = QStringLiteral("SELECT EXISTS (SELECT 1 FROM queue WHERE is_realtime = ? LIMIT 1)");

constexpr qint64 kStoringOutsideMaxQueueTimeCode = 12016;
constexpr qint64 kSavingBundleCode = 12018;
constexpr qint64 kUnreadableBundleRemovedCode = 12019;
constexpr qint64 kUnreadableBundleRemovalFailedCode = 12020;
constexpr qint64 kRetryLimitReachedCode = 12054;

// "rowid IN (?,?,...)" with one placeholder for each of count (> 0) ids;
// the ids themselves are bound.
QString rowIDInCondition(qsizetype count)
{
    QString placeholders = QStringLiteral("?");
    placeholders.reserve(2 * count);
    for (qsizetype i = 1; i < count; ++i)
        placeholders += QStringLiteral(",?");
    return QStringLiteral("rowid IN (%1)").arg(placeholders);
}

// Runs the step once per slice of at most kRowIDsPerStatement ids, with the
// slice's condition and its ids as parameters; stops at the first failure.
bool forEachRowIDSlice(const QList<qint64>& rowIDs, APMError* error,
    const std::function<bool(const QString& condition, QVariantList parameters)>& step)
{
    if (!APMCheckCondition(!rowIDs.isEmpty(), error, APMError::StorageFailure,
            QStringLiteral("Received empty row IDs to process")))
        return false;
    for (qsizetype first = 0; first < rowIDs.size(); first += kRowIDsPerStatement) {
        const QList<qint64> slice = rowIDs.mid(first, kRowIDsPerStatement);
        QVariantList parameters;
        parameters.reserve(slice.size() + 1);
        for (qint64 id : slice)
            parameters.append(id);
        if (!step(rowIDInCondition(slice.size()), std::move(parameters)))
            return false;
    }
    return true;
}

// The bundle of one queue row with its row id and its encoded size, or
// nothing (with the reason) when the row cannot be read.
struct DecodedRow {
    APMQueuedBundle queued;
    quint64 size = 0;
};

std::optional<DecodedRow> bundleFromQueueRow(const APMRow& row, APMError* error)
{
    if (!APMCheckCondition(
            !row.isEmpty(), error, APMError::StorageFailure, QStringLiteral("Cannot process empty rowData")))
        return std::nullopt;
    const QVariant rowID = row.value(kQueueRowIDColumn);
    if (!APMCheckCondition(rowID.metaType().id() == QMetaType::LongLong, error, APMError::StorageFailure,
            QStringLiteral("Cannot process queued bundle without row ID")))
        return std::nullopt;
    const QVariant data = row.value(kQueueDataColumn);
    if (!APMCheckCondition(data.metaType().id() == QMetaType::QByteArray && !data.toByteArray().isEmpty(),
            error, APMError::StorageFailure, QStringLiteral("Cannot decompress an empty bundle data")))
        return std::nullopt;
    QString reason;
    const QByteArray encoding = APMGzip::dataByInflatingGzippedData(data.toByteArray(), &reason);
    if (encoding.isEmpty()) {
        APMSetErrorWithCode(error, APMError::InvalidState,
            reason.isEmpty() ? QStringLiteral("Decompressed bundle data is empty") : reason);
        return std::nullopt;
    }
    std::unique_ptr<APMPBMeasurementBundle> bundle = APMPBMeasurementBundle::initWithBuffer(encoding);
    if (!APMCheckPointerNotNull(bundle.get(), error, APMError::InvalidState,
            QStringLiteral("Unable to parse bundle from decompressed data")))
        return std::nullopt;
    quint64 size = quint64(encoding.size());
    // The uploaded bundle carries how often its upload failed before.
    const QVariant retryCount = row.value(kRetryCountColumn);
    if (retryCount.metaType().id() == QMetaType::LongLong && retryCount.toLongLong() > 0) {
        APMPBSetInt32Field(
            bundle.get(), kBundleRetryCountSlot, qint32(std::min(retryCount.toLongLong(), kRetryLimit)));
        size = quint64(bundle->protoBuffer().value_or(encoding).size());
    }
    return DecodedRow { APMQueuedBundle { std::move(bundle), rowID.toLongLong() }, size };
}

// Removes queue rows that could not be read, so they do not come back at
// the head of every later upload. A removal that fails is logged; the rows
// are tried again at the next read.
void removeUnreadableRows(APMSqliteStore& store, const QList<qint64>& rowIDs)
{
    if (rowIDs.isEmpty())
        return;
    APMError error;
    const bool removed
        = forEachRowIDSlice(rowIDs, &error, [&](const QString& condition, const QVariantList& parameters) {
              return store
                  .deleteRecordsFromTableWithName(APMDatabase::kQueueTable, condition, parameters, &error)
                  .has_value();
          });
    if (!removed)
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored,
            kUnreadableBundleRemovalFailedCode,
            QStringLiteral("Failed to remove unreadable queued bundles. Error"), QVariant::fromValue(error));
}

void logUnreadableRow(const APMRow& row, const APMError& reason)
{
    APMLibrary::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, kUnreadableBundleRemovedCode,
        QStringLiteral("Data loss. Removing queued bundle that cannot be read. Row ID, error"),
        row.value(kQueueRowIDColumn), QVariant::fromValue(reason));
}

// The row's id when it has one that can be named in a delete.
std::optional<qint64> rowIDOf(const APMRow& row)
{
    const QVariant rowID = row.value(kQueueRowIDColumn);
    if (rowID.metaType().id() != QMetaType::LongLong)
        return std::nullopt;
    return rowID.toLongLong();
}

} // namespace

bool APMDatabase::insertBundle(const APMPBMeasurementBundle& bundle, bool isRealtime, APMError* error)
{
    const QByteArray encoding = bundle.protoBuffer().value_or(QByteArray());
    const qint64 endMilliseconds = APMPBGetInt64Field(&bundle, kBundleEndTimestampSlot);
    if (!APMCheckCondition(!encoding.isEmpty(), error, APMError::InvalidArgument,
            QStringLiteral("Failed to insert nil bundle"))
        || !APMCheckCondition(!APMPBGetStringField(&bundle, kBundleAppIDSlot).isEmpty(), error,
            APMError::InvalidArgument, QStringLiteral("Failed to insert bundle without App ID"))
        || !APMCheckCondition(endMilliseconds > 0, error, APMError::InvalidArgument,
            QStringLiteral("Failed to insert bundle without valid timestamp")))
        return false;
    if (!maybeDeleteStaleData(error))
        return false;

    const double endTimestamp = double(endMilliseconds) / 1000.0;
    if (std::fabs(clock().now() - endTimestamp) > APMStoreLimits::current()->maxQueueTime())
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelWarningMonitored,
            kStoringOutsideMaxQueueTimeCode,
            QStringLiteral("Storing bundle outside of the max uploading time span"));

    const QByteArray compressed = APMGzip::dataByGzippingData(encoding, nullptr);
    if (!APMCheckCondition(!compressed.isEmpty(), error, APMError::InvalidState,
            QStringLiteral("Failed to compress bundle")))
        return false;
    APMLibrary::monitor().logWithLevel(APMMonitor::kLevelDebug, kSavingBundleCode,
        QStringLiteral("Saving bundle. size (bytes)"), QString::number(compressed.size()));

    APMSqliteStore* store = openStore(error);
    const APMRecord record {
        { kEndTimestampColumn, endTimestamp },
        { kQueueDataColumn, compressed },
        { kQueueRealtimeColumn, qint64(isRealtime ? 1 : 0) },
        { kRetryCountColumn, qint64(APMPBGetInt32Field(&bundle, kBundleRetryCountSlot)) },
    };
    return store && store->upsertRecord(record, kQueueTable, error);
}

std::optional<std::vector<APMQueuedBundle>> APMDatabase::queryBundlesWithCountLimit(
    qint64 countLimit, quint64 sizeLimit, APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    std::vector<APMQueuedBundle> taken;
    QList<qint64> unreadable;
    quint64 totalSize = 0;
    bool full = false;
    // The rows are converted while they are read, so the read ends with the
    // first bundle that does not fit: one row more than the result needs.
    const APMRowFilter scan = [&](quint32, const APMRow& row) {
        if (full)
            return false;
        APMError reason;
        std::optional<DecodedRow> decoded = bundleFromQueueRow(row, &reason);
        if (!decoded) {
            logUnreadableRow(row, reason);
            if (std::optional<qint64> rowID = rowIDOf(row))
                unreadable.append(*rowID);
            return true;
        }
        // The first bundle always goes, even alone above the limit.
        const bool fits = decoded->size <= sizeLimit && totalSize <= sizeLimit - decoded->size;
        if (!taken.empty() && !fits)
            return false;
        totalSize = fits ? totalSize + decoded->size : std::numeric_limits<quint64>::max();
        taken.push_back(std::move(decoded->queued));
        full = totalSize > sizeLimit;
        return true;
    };
    const std::optional<QList<APMRow>> rows
        = store->recordsForQueryWithFilter(kOldestBundlesQuery, { countLimit }, error, scan);
    if (!rows)
        return std::nullopt;
    removeUnreadableRows(*store, unreadable);
    return taken;
}

std::optional<std::vector<APMQueuedBundle>> APMDatabase::queryBundlesWithRowIDs(
    const QList<qint64>& rowIDs, APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    std::vector<APMQueuedBundle> bundles;
    QList<qint64> unreadable;
    const bool read
        = forEachRowIDSlice(rowIDs, error, [&](const QString& condition, const QVariantList& parameters) {
              const std::optional<QList<APMRow>> rows
                  = store->recordsForQuery(kBundlesWithRowIDsQuery.arg(condition), parameters, error);
              if (!rows)
                  return false;
              for (const APMRow& row : *rows) {
                  APMError reason;
                  if (std::optional<DecodedRow> decoded = bundleFromQueueRow(row, &reason)) {
                      bundles.push_back(std::move(decoded->queued));
                      continue;
                  }
                  logUnreadableRow(row, reason);
                  if (std::optional<qint64> rowID = rowIDOf(row))
                      unreadable.append(*rowID);
              }
              return true;
          });
    if (!read)
        return std::nullopt;
    removeUnreadableRows(*store, unreadable);
    return bundles;
}

bool APMDatabase::incrementRetryCounterForBundlesWithIDs(const QList<qint64>& rowIDs, APMError* error)
{
    if (!APMCheckCondition(!rowIDs.isEmpty(), error, APMError::InvalidArgument,
            QStringLiteral("Failed to increment retry counter")))
        return false;
    APMSqliteStore* store = openStore(error);
    if (!store)
        return false;
    bool limitReached = false;
    const bool raised
        = forEachRowIDSlice(rowIDs, error, [&](const QString& condition, QVariantList parameters) {
              parameters.append(kRetryLimit);
              const QVariant atLimit
                  = store->numberForQuery(kRetryLimitReachedQuery.arg(condition), parameters, error);
              if (!atLimit.isValid())
                  return false;
              limitReached = limitReached || atLimit.toLongLong() != 0;
              return store->increaseColumn(kRetryCountColumn, 1, kQueueTable,
                  kRetryBelowLimitCondition.arg(condition), parameters, error);
          });
    if (limitReached)
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, kRetryLimitReachedCode,
            QStringLiteral("The number of upload retries exceeds the limit. Will remain unchanged."));
    return raised;
}

bool APMDatabase::deleteBundlesWithRowIDs(const QList<qint64>& rowIDs, APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return false;
    return forEachRowIDSlice(rowIDs, error, [&](const QString& condition, const QVariantList& parameters) {
        return store->deleteRecordsFromTableWithName(kQueueTable, condition, parameters, error).has_value();
    });
}

std::optional<bool> APMDatabase::maybeDeleteStaleData(APMError* error)
{
    if (!APMCheckPointerNotNull(persistedConfig_, error, APMError::InvalidState,
            QStringLiteral("Cannot delete stale data without persisted configuration")))
        return std::nullopt;
    const std::shared_ptr<const APMStoreLimits> limits = APMStoreLimits::current();
    const double current = clock().now();
    // A clock set back counts too: the interval is measured both ways.
    if (std::fabs(current - persistedConfig_->lastDeleteStaleBundlesTimestamp())
        <= limits->databaseDeleteStaleBundlesInterval())
        return false;
    const double maxAge = limits->maxQueueTime();
    if (!deleteStaleRawEventsDataOlderThanMaxAge(maxAge, error)
        || !deleteStaleBundlesOlderThanMaxAge(maxAge, error))
        return std::nullopt;
    persistedConfig_->setLastDeleteStaleBundlesTimestamp(current);
    return true;
}

bool APMDatabase::deleteStaleBundlesOlderThanMaxAge(double maxAge, APMError* error)
{
    // NaN compares false with everything and would delete nothing silently.
    if (!APMCheckCondition(maxAge >= 0, error, APMError::InvalidArgument,
            QStringLiteral("Cannot delete stale bundles after negative time period")))
        return false;
    APMSqliteStore* store = openStore(error);
    return store
        && store->deleteRecordsFromTableWithName(
            kQueueTable, kStaleBundlesCondition, { clock().now(), maxAge }, error);
}

std::optional<double> APMDatabase::queryLatestBundleTime(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    const QVariant latest = store->numberForQuery(kLatestBundleTimeQuery, {}, error);
    if (!latest.isValid())
        return std::nullopt;
    return latest.toDouble();
}

std::optional<bool> APMDatabase::isQueuedBundleTableEmpty(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    const QVariant empty = store->numberForQuery(kQueueEmptyQuery, {}, error);
    if (!empty.isValid())
        return std::nullopt;
    return empty.toLongLong() != 0;
}

std::optional<bool> APMDatabase::containsRealtimeBundlesWithError(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    const QVariant realtime = store->numberForQuery(kContainsRealtimeQuery, { qint64(1) }, error);
    if (!realtime.isValid())
        return std::nullopt;
    return realtime.toLongLong() != 0;
}
