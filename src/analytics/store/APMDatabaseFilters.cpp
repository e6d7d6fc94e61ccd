// Audience filters (event_filters, property_filters) and audience results
// (audience_filter_values) of the measurement database.

#include "analytics/model/APMEventFilter.h"
#include "analytics/model/APMFilterResult.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/wire/APMPBEventFilter.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBPropertyFilter.h"
#include "analytics/model/APMPropertyFilter.h"

#include <QMetaType>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <limits>

namespace {

const QString kAudienceIDColumn = QStringLiteral("audience_id");
const QString kFilterIDColumn = QStringLiteral("filter_id");
const QString kEventNameColumn = QStringLiteral("event_name");
const QString kPropertyNameColumn = QStringLiteral("property_name");
const QString kDataColumn = QStringLiteral("data");
const QString kSessionScopedColumn = QStringLiteral("session_scoped");
const QString kCurrentResultsColumn = QStringLiteral("current_results");
const QString kPreviousResultsColumn = QStringLiteral("previous_results");

// Slots of the flags in the encoded filter messages.
constexpr int32_t kEventFilterDynamicSlot = 5; // tag 6
constexpr int32_t kEventFilterSequenceSlot = 6; // tag 7
constexpr int32_t kEventFilterSessionScopedSlot = 7; // tag 8
constexpr int32_t kPropertyFilterDynamicSlot = 3; // tag 4
constexpr int32_t kPropertyFilterSequenceSlot = 4; // tag 5
constexpr int32_t kPropertyFilterSessionScopedSlot = 5; // tag 6

// Deletes by key go in statements of this many keys: far below SQLite's
// limits on bound parameters and on the depth of an OR chain, and always the
// same text, so one prepared statement serves every chunk (a short last
// chunk repeats its last key, which deletes nothing twice).
constexpr qsizetype kDeleteChunkSize = 100;

// A stored 32-bit number; nothing for anything else (NULL, text, a REAL, a
// number outside 32 bits), which this table never holds from our writes.
std::optional<qint32> int32FromColumn(const QVariant& value)
{
    if (value.typeId() != QMetaType::LongLong)
        return std::nullopt;
    const qint64 number = value.toLongLong();
    if (number < std::numeric_limits<qint32>::min() || number > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return static_cast<qint32>(number);
}

QByteArray blobFromColumn(const QVariant& value)
{
    return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : QByteArray();
}

struct FilterFlags {
    bool sessionScoped = false;
    bool dynamic = false;
    bool sequence = false;
};

// The flags as the stored message says; all off when it no longer decodes.
template <class Message>
FilterFlags flagsFromFilterData(
    const QByteArray& data, int32_t sessionScopedSlot, int32_t dynamicSlot, int32_t sequenceSlot)
{
    const auto message = Message::initWithBuffer(data);
    if (!message)
        return {};
    return { APMPBGetBoolField(message.get(), sessionScopedSlot),
        APMPBGetBoolField(message.get(), dynamicSlot), APMPBGetBoolField(message.get(), sequenceSlot) };
}

std::optional<APMEventFilter> eventFilterFromRow(const APMRow& row, APMError* error)
{
    if (row.isEmpty()) {
        APMSetErrorWithCode(error, APMError::StorageFailure,
            QStringLiteral("Received empty dictionary for getting event filter"));
        return std::nullopt;
    }
    const auto audienceID = int32FromColumn(row.value(kAudienceIDColumn));
    const auto filterID = int32FromColumn(row.value(kFilterIDColumn));
    if (!audienceID || !filterID)
        return std::nullopt;
    const QByteArray data = blobFromColumn(row.value(kDataColumn));
    const FilterFlags flags = flagsFromFilterData<APMPBEventFilter>(
        data, kEventFilterSessionScopedSlot, kEventFilterDynamicSlot, kEventFilterSequenceSlot);
    return APMEventFilter(*audienceID, *filterID, row.value(kEventNameColumn).toString(), data,
        flags.sessionScoped, flags.dynamic, flags.sequence);
}

std::optional<APMPropertyFilter> propertyFilterFromRow(const APMRow& row, APMError* error)
{
    if (row.isEmpty()) {
        APMSetErrorWithCode(error, APMError::StorageFailure,
            QStringLiteral("Received empty dictionary for getting property filter"));
        return std::nullopt;
    }
    const auto audienceID = int32FromColumn(row.value(kAudienceIDColumn));
    const auto filterID = int32FromColumn(row.value(kFilterIDColumn));
    if (!audienceID || !filterID)
        return std::nullopt;
    const QByteArray data = blobFromColumn(row.value(kDataColumn));
    const FilterFlags flags = flagsFromFilterData<APMPBPropertyFilter>(
        data, kPropertyFilterSessionScopedSlot, kPropertyFilterDynamicSlot, kPropertyFilterSequenceSlot);
    return APMPropertyFilter(*audienceID, *filterID, row.value(kPropertyNameColumn).toString(), data,
        flags.sessionScoped, flags.dynamic, flags.sequence);
}

std::optional<APMFilterResult> filterResultFromRow(const APMRow& row, APMError* error)
{
    if (row.isEmpty()) {
        APMSetErrorWithCode(error, APMError::StorageFailure,
            QStringLiteral("Received empty dictionary for getting filter result"));
        return std::nullopt;
    }
    const auto audienceID = int32FromColumn(row.value(kAudienceIDColumn));
    if (!audienceID)
        return std::nullopt;
    return APMFilterResult(*audienceID, blobFromColumn(row.value(kCurrentResultsColumn)),
        blobFromColumn(row.value(kPreviousResultsColumn)));
}

// One filter row, and what differs between the two filter tables.
struct FilterRow {
    qint32 audienceID;
    qint32 filterID;
    QString name;
    QByteArray data;
    bool sessionScoped;
};

struct FilterTable {
    const QString& table;
    const QString& nameColumn;
    QString emptyNameMessage;
    QString emptyDataMessage;
};

bool upsertFilterRows(
    APMSqliteStore& store, const QList<FilterRow>& rows, const FilterTable& table, APMError* error)
{
    for (const FilterRow& row : rows) {
        if (!APMCheckCondition(!row.name.isEmpty(), error, APMError::StorageFailure, table.emptyNameMessage)
            || !APMCheckCondition(
                !row.data.isEmpty(), error, APMError::StorageFailure, table.emptyDataMessage))
            return false;
        const APMRecord record {
            { kAudienceIDColumn, row.audienceID },
            { kFilterIDColumn, row.filterID },
            { table.nameColumn, row.name },
            { kDataColumn, row.data },
            { kSessionScopedColumn, row.sessionScoped },
        };
        if (!store.upsertRecord(record, table.table, error))
            return false;
    }
    return true;
}

// Deletes the rows matching `term` for every key (one key fills the term's
// placeholders), in chunks of one fixed statement text.
bool deleteByKeysInChunks(APMSqliteStore& store, const QString& table, const QString& term,
    const QList<QVariantList>& keys, APMError* error)
{
    QStringList terms;
    for (qsizetype i = 0; i < kDeleteChunkSize; ++i)
        terms.append(term);
    const QString condition = terms.join(QStringLiteral(" OR "));
    for (qsizetype start = 0; start < keys.size(); start += kDeleteChunkSize) {
        QVariantList parameters;
        for (qsizetype i = 0; i < kDeleteChunkSize; ++i)
            parameters += keys.at(std::min(start + i, keys.size() - 1));
        if (!store.deleteRecordsFromTableWithName(table, condition, parameters, error))
            return false;
    }
    return true;
}

bool deleteFilterRows(
    APMSqliteStore& store, const QString& table, const QList<QVariantList>& keys, APMError* error)
{
    return deleteByKeysInChunks(store, table, QStringLiteral("(audience_id=? AND filter_id=?)"), keys, error);
}

} // namespace

bool APMDatabase::updateEventFilters(const QList<APMEventFilter>& filters, APMError* error)
{
    if (!APMCheckCondition(!filters.isEmpty(), error, APMError::InvalidArgument,
            QStringLiteral("Received empty event filters to update")))
        return false;
    APMSqliteStore* store = openStore(error);
    if (!store)
        return false;
    QList<FilterRow> rows;
    rows.reserve(filters.size());
    for (const APMEventFilter& filter : filters)
        rows.append({ filter.audienceID(), filter.filterID(), filter.eventName(), filter.data(),
            filter.isSessionScoped() });
    const FilterTable table { kEventFiltersTable, kEventNameColumn,
        QStringLiteral("Received event filter with empty event name for getting dictionary representation"),
        QStringLiteral("Received event filter with empty data for getting dictionary representation") };
    return upsertFilterRows(*store, rows, table, error);
}

bool APMDatabase::updatePropertyFilters(const QList<APMPropertyFilter>& filters, APMError* error)
{
    if (!APMCheckCondition(!filters.isEmpty(), error, APMError::InvalidArgument,
            QStringLiteral("Received empty property filters to update")))
        return false;
    APMSqliteStore* store = openStore(error);
    if (!store)
        return false;
    QList<FilterRow> rows;
    rows.reserve(filters.size());
    for (const APMPropertyFilter& filter : filters)
        rows.append({ filter.audienceID(), filter.filterID(), filter.propertyName(), filter.data(),
            filter.isSessionScoped() });
    const FilterTable table { kPropertyFiltersTable, kPropertyNameColumn,
        QStringLiteral(
            "Received property filter with empty property name for getting dictionary representation"),
        QStringLiteral("Received property filter with empty data for getting dictionary representation") };
    return upsertFilterRows(*store, rows, table, error);
}

std::optional<QList<APMEventFilter>> APMDatabase::eventFiltersForEventName(
    const QString& eventName, APMError* error)
{
    if (!APMCheckCondition(!eventName.isEmpty(), error, APMError::InvalidArgument,
            QStringLiteral("Received empty event name for getting event filters")))
        return std::nullopt;
    return dataTypesFromTableWithName<APMEventFilter>(
        kEventFiltersTable, kEventNameColumn, eventName, error, eventFilterFromRow);
}

std::optional<QList<APMPropertyFilter>> APMDatabase::propertyFiltersForPropertyName(
    const QString& propertyName, APMError* error)
{
    if (!APMCheckCondition(!propertyName.isEmpty(), error, APMError::InvalidArgument,
            QStringLiteral("Received empty property name for getting property filters")))
        return std::nullopt;
    return dataTypesFromTableWithName<APMPropertyFilter>(
        kPropertyFiltersTable, kPropertyNameColumn, propertyName, error, propertyFilterFromRow);
}

bool APMDatabase::deleteEventFilters(const QList<APMEventFilter>& filters, APMError* error)
{
    if (!APMCheckCondition(!filters.isEmpty(), error, APMError::InvalidArgument,
            QStringLiteral("Received empty event filters to delete")))
        return false;
    APMSqliteStore* store = openStore(error);
    if (!store)
        return false;
    QList<QVariantList> keys;
    keys.reserve(filters.size());
    for (const APMEventFilter& filter : filters)
        keys.append(QVariantList { filter.audienceID(), filter.filterID() });
    return deleteFilterRows(*store, kEventFiltersTable, keys, error);
}

bool APMDatabase::deletePropertyFilters(const QList<APMPropertyFilter>& filters, APMError* error)
{
    if (!APMCheckCondition(!filters.isEmpty(), error, APMError::InvalidArgument,
            QStringLiteral("Received empty property filters to delete")))
        return false;
    APMSqliteStore* store = openStore(error);
    if (!store)
        return false;
    QList<QVariantList> keys;
    keys.reserve(filters.size());
    for (const APMPropertyFilter& filter : filters)
        keys.append(QVariantList { filter.audienceID(), filter.filterID() });
    return deleteFilterRows(*store, kPropertyFiltersTable, keys, error);
}

bool APMDatabase::deleteAllEventFilters(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    return store && store->deleteAllRecordsFromTableWithName(kEventFiltersTable, error);
}

bool APMDatabase::deleteAllPropertyFilters(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    return store && store->deleteAllRecordsFromTableWithName(kPropertyFiltersTable, error);
}

std::optional<QList<qint32>> APMDatabase::allAudienceIDs(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    const auto rows
        = store->recordsForQuery(QStringLiteral("SELECT audience_id FROM %1 UNION SELECT audience_id FROM %2")
                                     .arg(kEventFiltersTable, kPropertyFiltersTable),
            {}, error);
    if (!rows)
        return std::nullopt;
    QList<qint32> audienceIDs;
    audienceIDs.reserve(rows->size());
    for (const APMRow& row : *rows) {
        const auto audienceID = int32FromColumn(row.value(kAudienceIDColumn));
        if (!audienceID) {
            APMSetErrorWithCode(error, APMError::InvalidArgument,
                QStringLiteral("Received nil audience ID for querying all audience IDs"));
            return std::nullopt;
        }
        audienceIDs.append(*audienceID);
    }
    return audienceIDs;
}

std::optional<QMap<qint32, QList<qint32>>> APMDatabase::allSessionScopedFilters(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    const auto rows = store->recordsForQuery(
        QStringLiteral("SELECT audience_id, filter_id FROM %1 WHERE session_scoped = 1 UNION "
                       "SELECT audience_id, filter_id FROM %2 WHERE session_scoped = 1")
            .arg(kEventFiltersTable, kPropertyFiltersTable),
        {}, error);
    if (!rows)
        return std::nullopt;
    QMap<qint32, QList<qint32>> filters;
    for (const APMRow& row : *rows) {
        const auto audienceID = int32FromColumn(row.value(kAudienceIDColumn));
        const auto filterID = int32FromColumn(row.value(kFilterIDColumn));
        if (audienceID && filterID)
            filters[*audienceID].append(*filterID);
    }
    return filters;
}

bool APMDatabase::updateFilterResults(const QList<APMFilterResult>& results, APMError* error)
{
    if (!APMCheckCondition(!results.isEmpty(), error, APMError::InvalidArgument,
            QStringLiteral("Received empty filter results to update")))
        return false;
    APMSqliteStore* store = openStore(error);
    if (!store)
        return false;
    for (const APMFilterResult& result : results) {
        if (!APMCheckCondition(!result.currentResults().isEmpty(), error, APMError::StorageFailure,
                QStringLiteral(
                    "Received filter result with empty data for getting dictionary representation")))
            return false;
        const APMRecord record {
            { kAudienceIDColumn, result.audienceID() },
            { kCurrentResultsColumn, result.currentResults() },
            { kPreviousResultsColumn,
                result.previousResults().isEmpty() ? APMSqlNull() : QVariant(result.previousResults()) },
        };
        if (!store->upsertRecord(record, kAudienceFilterValuesTable, error))
            return false;
    }
    return true;
}

std::optional<APMFilterResult> APMDatabase::filterResultForAudienceID(qint32 audienceID, APMError* error)
{
    const auto results = dataTypesFromTableWithName<APMFilterResult>(
        kAudienceFilterValuesTable, kAudienceIDColumn, audienceID, error, filterResultFromRow);
    if (!results || results->isEmpty())
        return std::nullopt;
    return results->first();
}

std::optional<QMap<qint32, APMFilterResult>> APMDatabase::allFilterResults(APMError* error)
{
    // -1: SQLite reads a negative limit as none.
    const auto results = allDataTypesFromTableWithName<APMFilterResult>(
        kAudienceFilterValuesTable, -1, error, filterResultFromRow);
    if (!results)
        return std::nullopt;
    QMap<qint32, APMFilterResult> byAudience;
    for (const APMFilterResult& result : *results)
        byAudience.insert(result.audienceID(), result);
    return byAudience;
}

bool APMDatabase::deleteFilterResults(const QList<APMFilterResult>& results, APMError* error)
{
    if (!APMCheckCondition(!results.isEmpty(), error, APMError::InvalidArgument,
            QStringLiteral("Received empty filter results to delete")))
        return false;
    APMSqliteStore* store = openStore(error);
    if (!store)
        return false;
    QSet<qint32> seen;
    QList<QVariantList> keys;
    for (const APMFilterResult& result : results) {
        if (!seen.contains(result.audienceID())) {
            seen.insert(result.audienceID());
            keys.append(QVariantList { result.audienceID() });
        }
    }
    return deleteByKeysInChunks(
        *store, kAudienceFilterValuesTable, QStringLiteral("audience_id=?"), keys, error);
}
