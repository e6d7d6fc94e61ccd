// Raw events: every accepted event waits in raw_events until it is bundled,
// pointing by fingerprint at the bundle metadata (device, app and user
// properties) that was current when it was logged; that metadata is stored
// once per fingerprint in raw_events_metadata.

#include "analytics/base/APMHelpers.h"
#include "analytics/base/APMValue.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMRawEventData.h"
#include "analytics/model/APMStoreLimits.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/wire/APMPBEvent.h"
#include "analytics/wire/APMPBEventParam.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementBundle.h"
#include "platform/Clock.h"

#include <QHash>
#include <QScopeGuard>

#include <algorithm>
#include <memory>

namespace {

const QString kRawEventRowIDColumn = QStringLiteral("rowid");
const QString kRawEventNameColumn = QStringLiteral("name");
const QString kTimestampColumn = QStringLiteral("timestamp");
const QString kRawEventFingerprintColumn = QStringLiteral("metadata_fingerprint");
const QString kRawEventDataColumn = QStringLiteral("data");
const QString kRawEventRealtimeColumn = QStringLiteral("is_realtime");
const QString kMetadataColumn = QStringLiteral("metadata");

// The event parameter that carries the event's origin.
const QString kOriginParameter = QStringLiteral("_o");

// New fingerprints are refused once the metadata table holds this many rows.
constexpr qint64 kMaxRawEventsMetadataRows = 100000;
// The most raw events one read hands out.
constexpr qint64 kMaxRawEventsPerRead = 1000;

// Slots of the event and event-parameter messages.
constexpr int32_t kRawEventParamsSlot = 0;
constexpr int32_t kRawEventPreviousTimestampSlot = 3;
constexpr int32_t kRawEventParamNameSlot = 0;
constexpr int32_t kRawEventParamStringSlot = 1;

const QString kMetadataExistsQuery = QStringLiteral(
    "SELECT EXISTS (SELECT 1 FROM raw_events_metadata WHERE metadata_fingerprint = ? AND metadata = ?)");
const QString kRawEventsEmptyQuery = QStringLiteral("SELECT NOT EXISTS (SELECT 1 FROM raw_events LIMIT 1)");
const QString kLatestRawEventTimeQuery = QStringLiteral("SELECT MAX(timestamp) FROM raw_events");
const QString kRawEventsOfFingerprintQuery = QStringLiteral(
    "SELECT rowid, * FROM raw_events WHERE metadata_fingerprint = ? ORDER BY rowid ASC LIMIT ?");
const QString kContainsFingerprintQuery
    = QStringLiteral("SELECT EXISTS (SELECT 1 FROM raw_events WHERE metadata_fingerprint = ? LIMIT 1)");
// The flag is bound, so the statement is prepared once and kept.
const QString kRawEventContainsRealtimeQuery
    = QStringLiteral("SELECT EXISTS (SELECT 1 FROM raw_events WHERE is_realtime = ? LIMIT 1)");
const QString kNextFingerprintQuery
    = QStringLiteral("SELECT metadata_fingerprint, MIN(rowid) FROM raw_events");
// The lowest and highest row IDs (NULL for an empty table): each is one
// index lookup, where a count would walk every row.
const QString kRowIDRangeQuery
    = QStringLiteral("SELECT MIN(rowid) AS lowest, MAX(rowid) AS highest FROM raw_events");
const QString kLowestColumn = QStringLiteral("lowest");
const QString kHighestColumn = QStringLiteral("highest");

const QString kMetadataFingerprintCondition = QStringLiteral("metadata_fingerprint == ?");
const QString kUnusedMetadataCondition
    = QStringLiteral("metadata_fingerprint NOT IN (SELECT DISTINCT metadata_fingerprint FROM raw_events)");
const QString kConsumedRawEventsCondition = QStringLiteral("rowid <= ? AND metadata_fingerprint = ?");
const QString kOverAbsoluteLimitCondition
    = QStringLiteral("rowid IN (SELECT rowid FROM raw_events ORDER BY rowid DESC LIMIT -1 OFFSET ?)");
const QString kStaleRawEventsCondition = QStringLiteral("abs(timestamp - cast(? as REAL)) > cast(? as REAL)");

// The raw event's insert, its text built once: it runs on every logged
// event. The values go name, timestamp, fingerprint, data, real-time flag.
const QString& rawEventInsertSQL()
{
    static const QString sql
        = QStringLiteral("INSERT OR REPLACE INTO %1 (%2, %3, %4, %5, %6) VALUES (?, ?, ?, ?, ?)")
              .arg(APMDatabase::kRawEventsTable, kRawEventNameColumn, kTimestampColumn,
                  kRawEventFingerprintColumn, kRawEventDataColumn, kRawEventRealtimeColumn);
    return sql;
}

// A numeric probe that answers 0 or 1.
std::optional<bool> booleanForQuery(
    const APMDatabase& database, const QString& query, const QVariantList& parameters, APMError* error)
{
    APMSqliteStore* store = database.openStore(error);
    if (!store)
        return std::nullopt;
    const QVariant number = store->numberForQuery(query, parameters, error);
    if (!number.isValid())
        return std::nullopt;
    return number.toLongLong() != 0;
}

bool isRawEventInteger(const QVariant& value)
{
    return value.metaType().id() == QMetaType::LongLong;
}

// A decoded parameter as the event takes it. An item list decodes to an
// array of maps of plain values; handed over as a plain list it is cleaned
// into the event's own item form, as the items of a newly logged event are,
// so that the event's wire form carries them again.
QVariant eventParameterObject(const QVariant& decoded)
{
    if (decoded.metaType() == QMetaType::fromType<APMValue>() && decoded.value<APMValue>().isArray())
        return decoded.value<APMValue>().arrayValue();
    return decoded;
}

} // namespace

struct APMDatabase::RawEventReadMemo {
    // By row id: the row as read and the event made of it.
    QHash<qint64, std::pair<APMRow, APMRawEventData>> decoded;
};

bool APMDatabase::insertIfNotExistsRawEventMetadata(
    const APMPBMeasurementBundle& metadata, APMError* error, qint64* fingerprint)
{
    const QByteArray encoding = metadata.protoBuffer().value_or(QByteArray());
    const qint64 hash = apm_64LSBMD5(encoding);
    if (fingerprint)
        *fingerprint = hash;
    return insertIfNotExistsRawEventMetadataEncoding(encoding, hash, error);
}

bool APMDatabase::insertIfNotExistsRawEventMetadataEncoding(
    const QByteArray& encoding, qint64 fingerprint, APMError* error)
{
    if (!APMCheckCondition(!encoding.isEmpty(), error, APMError::StorageFailure,
            QStringLiteral(
                "Received empty measurement bundle metadata for getting dictionary representation")))
        return false;
    const qint64 version = dataVersion();
    if (storedMetadataCache_ && version >= 0 && storedMetadataCache_->dataVersion == version
        && storedMetadataCache_->fingerprint == fingerprint && storedMetadataCache_->encoding == encoding)
        return true;
    storedMetadataCache_.reset();
    // Comparing the stored bytes is all the check needs (no decoding), and
    // a damaged row under this fingerprint is replaced by the good one.
    const std::optional<bool> stored
        = booleanForQuery(*this, kMetadataExistsQuery, { fingerprint, encoding }, nullptr);
    if (!stored.value_or(false)) {
        const APMRecord record { { kRawEventFingerprintColumn, fingerprint }, { kMetadataColumn, encoding } };
        if (!upsertDataType(record, kRawEventsMetadataTable, kRawEventFingerprintColumn, fingerprint,
                kMaxRawEventsMetadataRows, error))
            return false;
    }
    if (version >= 0)
        storedMetadataCache_ = StoredMetadataCache { encoding, fingerprint, version };
    return true;
}

std::unique_ptr<APMPBMeasurementBundle> APMDatabase::queryRawEventsMetadataWithFingerprint(
    qint64 fingerprint, APMError* error)
{
    using Metadata = std::shared_ptr<APMPBMeasurementBundle>;
    const CreateDataTypeBlock<Metadata> create
        = [](const APMRow& row, APMError* error) -> std::optional<Metadata> {
        if (!APMCheckCondition(!row.isEmpty(), error, APMError::StorageFailure,
                QStringLiteral("Received empty dictionary for getting measurement bundle")))
            return std::nullopt;
        const QVariant bytes = row.value(kMetadataColumn);
        if (!APMCheckCondition(
                bytes.metaType().id() == QMetaType::QByteArray && !bytes.toByteArray().isEmpty(), error,
                APMError::StorageFailure,
                QStringLiteral("Event metadata should not be empty for getting measurement bundle")))
            return std::nullopt;
        Metadata bundle = APMPBMeasurementBundle::initWithBuffer(bytes.toByteArray());
        if (!bundle)
            return std::nullopt;
        return bundle;
    };
    const std::optional<QList<Metadata>> found
        = dataTypesFromTableWithName(kRawEventsMetadataTable, kRawEventFingerprintColumn, fingerprint, error, create);
    if (!found || found->isEmpty())
        return nullptr;
    return APMPBMeasurementBundle::initWithMessageInfo(found->first()->messageInfo());
}

bool APMDatabase::deleteRawEventMetadataWithMetadataFingerprint(qint64 fingerprint, APMError* error)
{
    APMSqliteStore* store = openStore(error);
    return store
        && store->deleteRecordsFromTableWithName(
            kRawEventsMetadataTable, kMetadataFingerprintCondition, { fingerprint }, error);
}

bool APMDatabase::deleteUnusedRawEventsMetadata(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    return store
        && store->deleteRecordsFromTableWithName(
            kRawEventsMetadataTable, kUnusedMetadataCondition, {}, error);
}

bool APMDatabase::insertRawEvent(
    const APMEvent& event, qint64 metadataFingerprint, bool isRealtime, APMError* error)
{
    // The name has its own column; the stored wire form goes without it.
    const QByteArray data = event.protoBytes(APMEvent::NameInWireForm::Leave);
    if (!APMCheckCondition(!data.isEmpty(), error, APMError::StorageFailure,
            QStringLiteral("Received empty raw event data for getting dictionary representation")))
        return false;
    // The row's insert drops the summary kept; once it is in, the summary
    // is what it was plus this row.
    std::optional<RawEventsSummaryCache> kept;
    if (RawEventsSummaryCache* current = rawEventsSummary())
        kept = *current;
    if (!insertRowWithStatement(rawEventInsertSQL(),
            { event.name(), event.timestamp(), metadataFingerprint, data, qint64(isRealtime ? 1 : 0) },
            error))
        return false;
    if (kept) {
        if (kept->latestTimestamp) {
            const std::optional<double> latest = *kept->latestTimestamp;
            kept->latestTimestamp = latest ? std::max(*latest, event.timestamp()) : event.timestamp();
        }
        if (isRealtime)
            kept->containsRealtime = true;
        if (kept->rowIDs) {
            const qint64 inserted = openStore(nullptr)->lastInsertedRowID();
            const std::optional<RowIDRange>& range = *kept->rowIDs;
            kept->rowIDs = range
                ? RowIDRange { std::min(range->lowest, inserted), std::max(range->highest, inserted) }
                : RowIDRange { inserted, inserted };
        }
        rawEventsSummaryCache_ = std::move(kept);
    }
    return true;
}

APMDatabase::RawEventsSummaryCache* APMDatabase::rawEventsSummary()
{
    const qint64 version = dataVersion();
    if (version < 0) {
        rawEventsSummaryCache_.reset();
        return nullptr;
    }
    if (!rawEventsSummaryCache_ || rawEventsSummaryCache_->dataVersion != version)
        rawEventsSummaryCache_ = RawEventsSummaryCache { std::nullopt, std::nullopt, std::nullopt, version };
    return &*rawEventsSummaryCache_;
}

std::optional<bool> APMDatabase::isRawEventsTableEmpty(APMError* error)
{
    return booleanForQuery(*this, kRawEventsEmptyQuery, {}, error);
}

std::optional<double> APMDatabase::queryLatestRawEventTime(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    if (const RawEventsSummaryCache* kept = rawEventsSummary(); kept && kept->latestTimestamp)
        return *kept->latestTimestamp;
    bool failed = false;
    const QVariant latest = store->numberForQuery(kLatestRawEventTimeQuery, {}, error, &failed);
    const std::optional<double> answer
        = latest.isValid() ? std::optional<double>(latest.toDouble()) : std::nullopt;
    if (!failed) {
        if (RawEventsSummaryCache* kept = rawEventsSummary())
            kept->latestTimestamp = answer;
    }
    return answer;
}

std::optional<QList<APMRawEventData>> APMDatabase::rawEventsWithMetadataFingerprint(
    qint64 fingerprint, APMError* error, const APMRowFilter& eventFilter)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    RawEventReadMemo memo;
    rawEventReadMemo_ = &memo;
    const auto endOfRead = qScopeGuard([this] { rawEventReadMemo_ = nullptr; });
    const std::optional<QList<APMRow>> rows = store->recordsForQueryWithFilter(
        kRawEventsOfFingerprintQuery, { fingerprint, kMaxRawEventsPerRead }, error, eventFilter);
    if (!rows)
        return std::nullopt;
    QList<APMRawEventData> events;
    for (const APMRow& row : *rows) {
        if (std::optional<APMRawEventData> event = rawEventDataFromDictionary(row, error))
            events.append(*event);
    }
    if (!rows->isEmpty() && events.isEmpty())
        return std::nullopt; // the conversion's error stands
    return events;
}

std::optional<bool> APMDatabase::containsRawEventWithMetadataFingerprint(qint64 fingerprint, APMError* error)
{
    return booleanForQuery(*this, kContainsFingerprintQuery, { fingerprint }, error);
}

bool APMDatabase::deleteRawEventsWithMaxRowID(qint64 maxRowID, qint64 metadataFingerprint, APMError* error)
{
    // Only the events of the bundled fingerprint: events of other metadata
    // logged in between keep their place until their own bundle.
    APMSqliteStore* store = openStore(error);
    return store
        && store->deleteRecordsFromTableWithName(
            kRawEventsTable, kConsumedRawEventsCondition, { maxRowID, metadataFingerprint }, error);
}

std::optional<qint64> APMDatabase::deleteRawEventsOverAbsoluteLimit(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    // The newest limit - 1 events stay, leaving room for the one the engine
    // inserts next. A limit of 0 gives the offset -1, which SQLite reads as
    // no offset: every event goes.
    const qint64 keep = qint64(APMStoreLimits::current()->maxEventsStored()) - 1;
    const std::optional<std::optional<RowIDRange>> rowIDs = rawEventRowIDRange(error);
    if (!rowIDs)
        return std::nullopt;
    // The row count never exceeds the span of the row IDs: below it nothing
    // can be over the limit.
    if (!*rowIDs || (*rowIDs)->highest - (*rowIDs)->lowest < keep)
        return 0; // empty, or too few row ids to hold more than the limit
    const std::optional<qint32> deleted = store->deleteRecordsFromTableWithName(
        kRawEventsTable, kOverAbsoluteLimitCondition, { keep }, error);
    if (!deleted)
        return std::nullopt;
    return *deleted;
}

std::optional<std::optional<APMDatabase::RowIDRange>> APMDatabase::rawEventRowIDRange(APMError* error)
{
    if (const RawEventsSummaryCache* kept = rawEventsSummary(); kept && kept->rowIDs)
        return kept->rowIDs;
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    const std::optional<QList<APMRow>> rows = store->recordsForQuery(kRowIDRangeQuery, {}, error);
    if (!rows || rows->size() != 1)
        return std::nullopt;
    const QVariant lowest = rows->first().value(kLowestColumn);
    const QVariant highest = rows->first().value(kHighestColumn);
    std::optional<RowIDRange> range;
    if (isRawEventInteger(lowest) && isRawEventInteger(highest))
        range = RowIDRange { lowest.toLongLong(), highest.toLongLong() };
    if (RawEventsSummaryCache* kept = rawEventsSummary())
        kept->rowIDs = range;
    return range;
}

bool APMDatabase::deleteStaleRawEventsDataOlderThanMaxAge(double maxAge, APMError* error)
{
    // NaN compares false with everything and would delete nothing silently.
    if (!APMCheckCondition(maxAge >= 0, error, APMError::InvalidArgument,
            QStringLiteral("Cannot delete stale raw events given negative time period")))
        return false;
    APMSqliteStore* store = openStore(error);
    if (!store)
        return false;
    const double now = clock().now();
    const std::optional<qint32> deleted = store->deleteRecordsFromTableWithName(
        kRawEventsTable, kStaleRawEventsCondition, { now, maxAge }, error);
    if (!deleted)
        return false;
    return *deleted == 0 || deleteUnusedRawEventsMetadata(error);
}

std::optional<qint64> APMDatabase::nextMetadataFingerprintToProcess(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    const std::optional<QList<APMRow>> rows = store->recordsForQuery(kNextFingerprintQuery, {}, error);
    if (!rows)
        return std::nullopt;
    if (!APMCheckCondition(rows->size() == 1, error, APMError::InvalidState,
            QStringLiteral("Only one event metadata should be processed")))
        return std::nullopt;
    const QVariant fingerprint = rows->first().value(kRawEventFingerprintColumn);
    if (!isRawEventInteger(fingerprint))
        return std::nullopt; // no raw events
    return fingerprint.toLongLong();
}

std::optional<bool> APMDatabase::containsRealtimeRawEventsWithError(APMError* error)
{
    if (!openStore(error))
        return std::nullopt;
    if (const RawEventsSummaryCache* kept = rawEventsSummary(); kept && kept->containsRealtime)
        return *kept->containsRealtime;
    const std::optional<bool> answer
        = booleanForQuery(*this, kRawEventContainsRealtimeQuery, { qint64(1) }, error);
    if (answer) {
        if (RawEventsSummaryCache* kept = rawEventsSummary())
            kept->containsRealtime = answer;
    }
    return answer;
}

std::optional<APMRawEventData> APMDatabase::rawEventDataFromDictionary(const APMRow& row, APMError* error)
{
    if (rawEventReadMemo_) {
        const auto kept = rawEventReadMemo_->decoded.constFind(row.value(kRawEventRowIDColumn).toLongLong());
        if (kept != rawEventReadMemo_->decoded.cend() && kept->first == row)
            return kept->second;
    }
    if (!APMCheckCondition(!row.isEmpty(), error, APMError::InvalidArgument,
            QStringLiteral("Received empty dictionary for getting raw event data")))
        return std::nullopt;
    const QVariant rowID = row.value(kRawEventRowIDColumn);
    const QVariant data = row.value(kRawEventDataColumn);
    const QVariant fingerprint = row.value(kRawEventFingerprintColumn);
    if (!APMCheckCondition(APMIsSqlValue(rowID) && isRawEventInteger(rowID), error, APMError::InvalidArgument,
            QStringLiteral("Unable to find row ID in the database dictionary"))
        || !APMCheckCondition(APMIsSqlValue(data) && data.metaType().id() == QMetaType::QByteArray, error,
            APMError::InvalidArgument, QStringLiteral("Unable to find event data in the database dictionary"))
        || !APMCheckCondition(APMIsSqlValue(fingerprint) && isRawEventInteger(fingerprint), error,
            APMError::InvalidArgument,
            QStringLiteral("Unable to find event metadata in the database dictionary")))
        return std::nullopt;

    const std::unique_ptr<APMPBEvent> proto = APMPBEvent::initWithBuffer(data.toByteArray());
    if (!APMCheckPointerNotNull(
            proto.get(), error, APMError::StorageFailure, QStringLiteral("Failed to parse event from data")))
        return std::nullopt;

    QString origin;
    QVariantMap parameters;
    // The decoded record is only read here: its parameters are taken, not copied.
    for (const auto& param : APMPBTakeArrayField<APMPBEventParam>(proto.get(), kRawEventParamsSlot)) {
        if (APMPBGetStringField(param.get(), kRawEventParamNameSlot) == kOriginParameter) {
            if (!APMCheckCondition(APMPBHasField(param.get(), kRawEventParamStringSlot), error,
                    APMError::InvalidState,
                    QStringLiteral("Cannot create an event from database. Origin parameter is not a string")))
                return std::nullopt;
            origin = APMPBGetStringField(param.get(), kRawEventParamStringSlot);
            continue;
        }
        const std::optional<QVariantMap> entry = eventParamsFromBlob(param.get(), false, error);
        if (!APMCheckCondition(entry && !entry->isEmpty(), error, APMError::InvalidState,
                QStringLiteral("Failed to parse event params from data")))
            return std::nullopt;
        for (auto it = entry->cbegin(); it != entry->cend(); ++it)
            parameters.insert(it.key(), eventParameterObject(it.value()));
    }
    if (!APMCheckCondition(!origin.isEmpty(), error, APMError::InvalidState,
            QStringLiteral("Cannot create an event from database. Missing origin parameter")))
        return std::nullopt;

    const double previousTimestamp
        = double(APMPBGetInt64Field(proto.get(), kRawEventPreviousTimestampSlot)) / 1000.0;
    const std::optional<APMEvent> event = APMEvent::initWithOrigin(origin, false,
        row.value(kRawEventNameColumn).toString(), row.value(kTimestampColumn).toDouble(), previousTimestamp,
        parameters, APMStoreLimits::current()->eventParameterLimits());
    std::optional<APMRawEventData> rawEvent = event
        ? APMRawEventData::initWithRawEvent(event, rowID.toLongLong(), fingerprint.toLongLong())
        : std::nullopt;
    APMCheckCondition(rawEvent.has_value(), error, APMError::InvalidState,
        QStringLiteral("Failed to initialize raw event data from dictionary"));
    if (rawEvent && rawEventReadMemo_)
        rawEventReadMemo_->decoded.insert(rowID.toLongLong(), { row, *rawEvent });
    return rawEvent;
}
