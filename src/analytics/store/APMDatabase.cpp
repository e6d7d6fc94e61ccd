#include "analytics/store/APMDatabase.h"

#include "analytics/base/APMFileLocations.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMValue.h"
#include "analytics/wire/APMPBEventParam.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementBundle.h"

#include <QScopeGuard>

const QString APMDatabase::kDatabaseName = QStringLiteral("vireo-app-metrics.sql");
const QString APMDatabase::kAppMetadataTable = QStringLiteral("app_metadata");
const QString APMDatabase::kRawEventsMetadataTable = QStringLiteral("raw_events_metadata");
const QString APMDatabase::kRawEventsTable = QStringLiteral("raw_events");
const QString APMDatabase::kEventsTable = QStringLiteral("events");
const QString APMDatabase::kEventsSnapshotTable = QStringLiteral("events_snapshot");
const QString APMDatabase::kUserAttributesTable = QStringLiteral("user_attributes");
const QString APMDatabase::kQueueTable = QStringLiteral("queue");
const QString APMDatabase::kEventFiltersTable = QStringLiteral("event_filters");
const QString APMDatabase::kPropertyFiltersTable = QStringLiteral("property_filters");
const QString APMDatabase::kAudienceFilterValuesTable = QStringLiteral("audience_filter_values");
const QString APMDatabase::kPurchaseTransactionsTable = QStringLiteral("purchase_transactions");
const QString APMDatabase::kSubscriptionsTable = QStringLiteral("subscriptions");
const QString APMDatabase::kConditionalPropertiesTable = QStringLiteral("conditional_properties");
const QString APMDatabase::kMainEventParamsTable = QStringLiteral("main_event_params");

namespace {

const QString kContextInit = QStringLiteral("Init");
const QString kContextReset = QStringLiteral("Reset");

const QString kEmptyDatabaseName = QStringLiteral("Received empty database name in init");
const QString kResetDeleteFailed = QStringLiteral("Failed to delete database data");
const QString kDatabaseNotOpen = QStringLiteral("Database not open");
const QString kTablesFailed = QStringLiteral("Failed to create or validate required database tables");
const QString kAppMetadataFailed = QStringLiteral("Failed to initialize App Metadata table");
const QString kEmptyInsertTable = QStringLiteral("Received empty table name for inserting");
const QString kEmptyInsertRecord = QStringLiteral("Failed to insert empty record");
const QString kEmptyUpsertRecord = QStringLiteral("Received empty data type to upsert");
const QString kEmptyUpsertTable = QStringLiteral("Received empty table name for checking upsert");
const QString kTableFull = QStringLiteral("Failed to insert data type. Table is full");
const QString kEmptyUpdateRecord = QStringLiteral("Received empty data type to update");
const QString kEmptyUpdateTable = QStringLiteral("Received empty table name for updating");
const QString kItemMissing = QStringLiteral("Failed to update record. Item doesn't exist");
const QString kEmptyParamsData = QStringLiteral("Failed to parse empty event params data");
const QString kEmptyParamName = QStringLiteral("Event parameter name is empty");

const QString kLogTablesFailed = QStringLiteral("Failed to create or validate required database tables (%1)");
const QString kLogDeleteAfterValidation
    = QStringLiteral("Failed to delete old database file after failed validation. Error (%1)");
const QString kLogAppMetadataFailed = QStringLiteral("Failed to initialize App Metadata table (%1)");
const QString kLogEnsureTableFailed = QStringLiteral("Failed to ensure table. Table, error");
const QString kLogTransactionFailed = QStringLiteral("Transaction failed. %1");

// Field slots of the event parameter message.
constexpr int32_t kDatabaseParamNameSlot = 0;
constexpr int32_t kDatabaseParamStringSlot = 1;
constexpr int32_t kDatabaseParamIntSlot = 2;
constexpr int32_t kDatabaseParamDoubleSlot = 4;
constexpr int32_t kParamNestedSlot = 5;

APMMonitor& databaseMonitor()
{
    return APMLibrary::monitor();
}

// One table of the schema: the columns it was first created with, the
// nullable columns later versions added, and declarations that changed.
struct TableSchema {
    QString name;
    APMColumnInfo elementary;
    APMColumnInfo addOn;
    APMModifyColumnInfo modify;
};

QPair<QString, QString> compositeKey()
{
    return { QStringLiteral("PRIMARY KEY"),
        QStringLiteral("(%1, %2)").arg(QStringLiteral("audience_id"), QStringLiteral("filter_id")) };
}

const QList<TableSchema>& schema()
{
    static const QList<TableSchema> tables = {
        { APMDatabase::kAppMetadataTable,
            { { "last_bundle_index", "INTEGER NOT NULL" }, { "last_bundle_end_timestamp", "REAL NOT NULL" } },
            { { "last_bundle_start_timestamp", "REAL" }, { "day", "INTEGER" },
                { "daily_conversions_count", "INTEGER" }, { "daily_events_count", "INTEGER" },
                { "daily_public_events_count", "INTEGER" }, { "daily_error_events_count", "INTEGER" },
                { "remote_config_data", "BLOB" }, { "remote_config_timestamp", "REAL" },
                { "daily_real_time_conversion_events_count", "INTEGER" },
                { "daily_real_time_dcu_events_count", "INTEGER" } },
            {} },
        { APMDatabase::kRawEventsMetadataTable,
            { { "metadata_fingerprint", "INTEGER NOT NULL PRIMARY KEY" }, { "metadata", "BLOB NOT NULL" } },
            {}, {} },
        { APMDatabase::kRawEventsTable,
            { { "name", "TEXT NOT NULL" }, { "timestamp", "INTEGER NOT NULL" },
                { "metadata_fingerprint", "INTEGER NOT NULL" }, { "data", "BLOB NOT NULL" } },
            { { "is_realtime", "INTEGER" } },
            // Timestamps carry fractions of a second; older files declared them INTEGER.
            { { "timestamp", "REAL NOT NULL" } } },
        { APMDatabase::kEventsTable,
            { { "name", "TEXT NOT NULL PRIMARY KEY" }, { "lifetime_count", "INTEGER NOT NULL" },
                { "current_bundle_count", "INTEGER NOT NULL" }, { "last_fire_timestamp", "REAL NOT NULL" } },
            { { "last_bundled_timestamp", "REAL" }, { "last_sampled_complex_event_id", "INTEGER" },
                { "last_sampling_rate", "INTEGER" }, { "last_exempt_from_sampling", "INTEGER" },
                { "last_bundled_day", "INTEGER" }, { "current_session_count", "INTEGER" } },
            {} },
        { APMDatabase::kUserAttributesTable,
            { { "name", "TEXT NOT NULL PRIMARY KEY" }, { "set_timestamp", "REAL NOT NULL" },
                { "value", "BLOB NOT NULL" } },
            { { "origin", "TEXT" } }, {} },
        { APMDatabase::kQueueTable,
            { { "data", "BLOB NOT NULL" }, { "bundle_end_timestamp", "REAL NOT NULL" } },
            { { "is_realtime", "INTEGER" }, { "retry_count", "INTEGER" } }, {} },
        { APMDatabase::kEventFiltersTable,
            { { "audience_id", "INTEGER NOT NULL" }, { "filter_id", "INTEGER NOT NULL" },
                { "event_name", "TEXT NOT NULL" }, { "data", "BLOB NOT NULL" }, compositeKey() },
            { { "session_scoped", "INTEGER" } }, {} },
        { APMDatabase::kPropertyFiltersTable,
            { { "audience_id", "INTEGER NOT NULL" }, { "filter_id", "INTEGER NOT NULL" },
                { "property_name", "TEXT NOT NULL" }, { "data", "BLOB NOT NULL" }, compositeKey() },
            { { "session_scoped", "INTEGER" } }, {} },
        { APMDatabase::kAudienceFilterValuesTable,
            { { "audience_id", "INTEGER NOT NULL PRIMARY KEY" }, { "current_results", "BLOB" },
                { "previous_results", "BLOB" } },
            {}, {} },
        { APMDatabase::kPurchaseTransactionsTable, { { "fingerprint", "TEXT NOT NULL PRIMARY KEY" } }, {},
            {} },
        { APMDatabase::kSubscriptionsTable, { { "subscription_id", "TEXT NOT NULL PRIMARY KEY" } }, {}, {} },
        { APMDatabase::kConditionalPropertiesTable,
            { { "name", "TEXT NOT NULL PRIMARY KEY" }, { "origin", "TEXT NOT NULL" },
                { "value", "BLOB NOT NULL" }, { "creation_timestamp", "REAL NOT NULL" },
                { "active", "INTEGER NOT NULL" }, { "trigger_timeout", "REAL NOT NULL" },
                { "triggered_timestamp", "REAL NOT NULL" }, { "time_to_live", "REAL NOT NULL" },
                { "trigger_event_name", "TEXT" }, { "timed_out_event", "BLOB" },
                { "triggered_event", "BLOB" }, { "expired_event", "BLOB" } },
            {}, {} },
        { APMDatabase::kMainEventParamsTable,
            { { "event_id", "INTEGER NOT NULL PRIMARY KEY" }, { "children_to_process", "INTEGER NOT NULL" },
                { "main_event", "BLOB NOT NULL" } },
            {}, {} },
    };
    return tables;
}

// Brings every table of the schema into being or up to date. The first
// table that fails with an error stops the pass.
bool ensureTables(APMSqliteStore& store, APMError* error)
{
    for (const TableSchema& table : schema()) {
        APMError tableError;
        if (store.ensureTableWithNameModify(
                table.name, table.elementary, table.addOn, table.modify, &tableError))
            continue;
        if (tableError.code() != 0) {
            databaseMonitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 12047, kLogEnsureTableFailed, table.name,
                QVariant::fromValue(tableError));
            if (error)
                *error = tableError;
            return false;
        }
    }
    return true;
}


std::optional<QVariantMap> decodeEventParam(const APMPBEventParam* param, bool nested, APMError* error)
{
    if (!APMCheckPointerNotNull(param, error, APMError::InvalidArgument, kEmptyParamsData))
        return std::nullopt;
    const QString name = APMPBGetStringField(param, kDatabaseParamNameSlot);
    if (!nested && !APMCheckCondition(!name.isEmpty(), error, APMError::InvalidArgument, kEmptyParamName))
        return std::nullopt;
    if (APMPBHasField(param, kDatabaseParamStringSlot))
        return QVariantMap { { name, APMPBGetStringField(param, kDatabaseParamStringSlot) } };
    if (APMPBHasField(param, kDatabaseParamIntSlot))
        return QVariantMap { { name,
            QVariant::fromValue<qint64>(APMPBGetInt64Field(param, kDatabaseParamIntSlot)) } };
    if (APMPBHasField(param, kDatabaseParamDoubleSlot))
        return QVariantMap { { name, APMPBGetDoubleField(param, kDatabaseParamDoubleSlot) } };
    const auto children = APMPBGetArrayField<APMPBEventParam>(param, kParamNestedSlot);
    if (!nested) {
        // A top-level parameter holding a list of items.
        QVariantList items;
        for (const auto& child : children) {
            if (auto item = decodeEventParam(child.get(), true, error))
                items.append(*item);
        }
        return QVariantMap { { name,
            QVariant::fromValue(APMValue::initWithValueType(APMValue::Array, items)) } };
    }
    // An item: its parameters side by side, not under the item's own name.
    QVariantMap entries;
    for (const auto& child : children) {
        const QString childName = APMPBGetStringField(child.get(), kDatabaseParamNameSlot);
        if (childName.isEmpty())
            continue; // an entry needs a name
        const auto decoded = decodeEventParam(child.get(), true, error);
        if (decoded && !decoded->isEmpty() && decoded->firstKey() == childName)
            entries.insert(childName, decoded->first());
    }
    return entries;
}

} // namespace

// --- Life cycle ---

APMDatabase::APMDatabase(APMPersistedConfig* persistedConfig)
    : persistedConfig_(persistedConfig)
{
}

APMDatabase::~APMDatabase() = default;

APMSqliteStore* APMDatabase::openStore(APMError* error) const
{
    APMSqliteStore* store = sqliteStore_.get();
    if (!store || !store->sqliteHandle()) {
        APMSetErrorWithCode(error, APMError::InvalidState, kDatabaseNotOpen);
        return nullptr;
    }
    return store;
}

std::unique_ptr<APMDatabase> APMDatabase::initWithDatabaseName(
    const QString& name, APMPersistedConfig* persistedConfig, APMError* error)
{
    if (!APMCheckCondition(!name.isEmpty(), error, APMError::InvalidArgument, kEmptyDatabaseName))
        return nullptr;
    return initWithDatabasePath(APMApplicationSupportPath(name), persistedConfig, error);
}

std::unique_ptr<APMDatabase> APMDatabase::initWithDatabasePath(
    const QString& path, APMPersistedConfig* persistedConfig, APMError* error)
{
    std::unique_ptr<APMDatabase> database(new APMDatabase(persistedConfig));
    if (!database->initializeDatabaseResourcesWithContext(kContextInit, path, error))
        return nullptr;
    return database;
}

bool APMDatabase::initializeDatabaseResourcesWithContext(
    const QString& context, const QString& path, APMError* error)
{
    std::unique_ptr<APMSqliteStore> store = APMSqliteStore::initWithDatabasePath(path, error);
    if (!store)
        return false; // a failed reset keeps the closed store, so its path is not lost
    sqliteStore_ = std::move(store);
    forgetKeptRows(nullptr);
    sqliteStore_->setChangeObserver([this](const char* table) { forgetKeptRows(table); });
    sqliteStore_->clearLastDatabaseErrorCode();
    APMError tablesError;
    if (!ensureTables(*sqliteStore_, &tablesError)) {
        databaseMonitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 12002, kLogTablesFailed.arg(context));
        if (APMSqliteStore::isEnvironmentResultCode(sqliteStore_->lastDatabaseErrorCode())) {
            // A lock, the disk or permissions failed, not the schema: the
            // data stays for the next attempt.
            if (error)
                *error = tablesError;
            sqliteStore_->closeDatabase();
            return false;
        }
        APMSetErrorWithCode(error, APMError::InvalidState, kTablesFailed);
        // A schema this version cannot use: start the next attempt from an
        // empty file (journal files included).
        if (!sqliteStore_->closeAndDeleteDatabase()) {
            APMError deleteError = APMError::apm_errorWithCode(APMError::InvalidState, kResetDeleteFailed);
            databaseMonitor().logWithLevel(APMMonitor::kLevelWarningMonitored, 12003,
                kLogDeleteAfterValidation.arg(context), QVariant::fromValue(deleteError));
        }
        return false;
    }
    if (!initializeAppMetadata()) {
        databaseMonitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 12004, kLogAppMetadataFailed.arg(context));
        APMSetErrorWithCode(error, APMError::InvalidState, kAppMetadataFailed);
        return false;
    }
    return true;
}

bool APMDatabase::ensureAllTables()
{
    return sqliteStore_ && ensureTables(*sqliteStore_, nullptr);
}

bool APMDatabase::reset(APMError* error)
{
    if (!sqliteStore_) {
        APMSetErrorWithCode(error, APMError::InvalidState, kResetDeleteFailed);
        return false;
    }
    const QString path = sqliteStore_->databasePath();
    forgetKeptRows(nullptr);
    if (!sqliteStore_->closeAndDeleteDatabase()) {
        APMSetErrorWithCode(error, APMError::InvalidState, kResetDeleteFailed);
        return false;
    }
    return initializeDatabaseResourcesWithContext(kContextReset, path, error);
}

bool APMDatabase::performTransaction(const std::function<bool()>& block)
{
    APMError error;
    APMSqliteStore* store = openStore(&error);
    bool committed = false;
    // A rollback already makes the kept rows go, through the store's rollback
    // hook. A ROLLBACK statement that fails itself never reaches that hook,
    // and the block's writes may then still be in the open transaction, so
    // any transaction that did not commit (a throwing block too) forgets
    // them here as well: at worst one more read from the file.
    const auto forgetUncommitted = qScopeGuard([&] {
        if (!committed)
            forgetKeptRows(nullptr);
    });
    committed = store && store->performTransactionWithError(&error, block);
    if (committed)
        return true;
    databaseMonitor().logWithLevel(
        APMMonitor::kLevelErrorMonitored, 12056, kLogTransactionFailed.arg(error.localizedDescription()));
    return false;
}

void APMDatabase::forgetKeptRows(const char* table)
{
    if (!table || kAppMetadataTable == QLatin1StringView(table))
        dailyCountsCache_.reset();
    if (!table || kUserAttributesTable == QLatin1StringView(table))
        userAttributesCache_.reset();
    if (!table || kEventsTable == QLatin1StringView(table))
        knownAggregatesCache_.reset();
    if (!table || kRawEventsTable == QLatin1StringView(table))
        rawEventsSummaryCache_.reset();
    if (!table || kRawEventsMetadataTable == QLatin1StringView(table))
        storedMetadataCache_.reset();
}

qint64 APMDatabase::dataVersion() const
{
    // Data versions are never negative.
    return sqliteStore_ ? sqliteStore_->dataVersion().value_or(-1) : -1;
}

// --- Generic row operations ---

std::optional<QList<APMRow>> APMDatabase::rowsOfTable(
    const QString& table, qint64 tableLimit, APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    return store->recordsForQuery(
        QStringLiteral("SELECT rowid, * FROM %1 ORDER BY rowid LIMIT %2").arg(table).arg(tableLimit), {},
        error);
}

std::optional<QList<APMRow>> APMDatabase::rowsOfTableWhere(
    const QString& table, const QString& columnName, const QVariant& columnValue, APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    return store->recordsForQuery(
        QStringLiteral("SELECT rowid, * FROM %1 WHERE %2 = ?").arg(table, columnName), { columnValue },
        error);
}

bool APMDatabase::insertDataType(const APMRecord& record, const QString& table, APMError* error)
{
    if (!APMCheckCondition(!table.isEmpty(), error, APMError::InvalidArgument, kEmptyInsertTable)
        || !APMCheckCondition(!record.isEmpty(), error, APMError::InvalidState, kEmptyInsertRecord))
        return false;
    APMSqliteStore* store = openStore(error);
    return store && store->upsertRecord(record, table, error);
}

bool APMDatabase::upsertDataType(const APMRecord& record, const QString& table, const QString& columnName,
    const QVariant& columnValue, qint64 tableLimit, APMError* error)
{
    if (!APMCheckCondition(!record.isEmpty(), error, APMError::InvalidArgument, kEmptyUpsertRecord)
        || !APMCheckCondition(!table.isEmpty(), error, APMError::InvalidArgument, kEmptyUpsertTable))
        return false;
    APMSqliteStore* store = openStore(error);
    if (!store)
        return false;
    const std::optional<qint64> matching
        = store->rowCountForTableWithNameColumn(table, columnName, columnValue, error);
    if (!matching)
        return false;
    const std::optional<qint64> total = store->rowCountForTableWithName(table, error);
    if (!total)
        return false;
    // An existing key is always replaced; a new one only while there is room.
    if (*matching == 0 && *total >= tableLimit) {
        APMSetErrorWithCode(error, APMError::InvalidState, kTableFull);
        return false;
    }
    return store->upsertRecord(record, table, error);
}

bool APMDatabase::updateDataType(const APMRecord& record, const QString& table, const QString& columnName,
    const QVariant& columnValue, APMError* error)
{
    if (!APMCheckCondition(!record.isEmpty(), error, APMError::InvalidArgument, kEmptyUpdateRecord)
        || !APMCheckCondition(!table.isEmpty(), error, APMError::InvalidArgument, kEmptyUpdateTable))
        return false;
    APMSqliteStore* store = openStore(error);
    if (!store)
        return false;
    // The update itself tells whether the row exists (an update of no row
    // succeeds and changes nothing): no count query before it, which the
    // daily counts would pay on every logged event.
    if (!store->updateRecord(record, table, columnName, columnValue, error))
        return false;
    return APMCheckCondition(store->lastChangedRowCount() > 0, error, APMError::InvalidState, kItemMissing);
}

bool APMDatabase::insertRowWithStatement(const QString& sql, const QVariantList& values, APMError* error)
{
    APMSqliteStore* store = openStore(error);
    return store && store->executeStatementWithValues(sql, values, error);
}

bool APMDatabase::updateRowWithStatement(const QString& sql, const QVariantList& values, APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store || !store->executeStatementWithValues(sql, values, error))
        return false;
    return APMCheckCondition(store->lastChangedRowCount() > 0, error, APMError::InvalidState, kItemMissing);
}

// --- Value conversions ---

std::optional<QVariantMap> eventParamsFromBlob(const APMPBEventParam* param, bool nested, APMError* error)
{
    return decodeEventParam(param, nested, error);
}

QVariant APMColumnObjectFromValue(const APMValue& value)
{
    if (value.isString())
        return value.stringValue();
    if (value.isDouble())
        return value.doubleValue();
    return QVariant::fromValue<qint64>(value.int64Value());
}
