#include "analytics/experiments/APMEDatabase.h"

#include "analytics/base/APMError.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/base/APMEMonitor.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/store/APMSqliteStore.h"
#include "analytics/wire/APMPBSnapshot.h"

#include <QFile>

#include <utility>

const QString APMEDatabase::kDatabaseName = QStringLiteral("vireo_experimentation_database.sql");
const QString APMEDatabase::kPendingTable = QStringLiteral("pending_snapshot_table");
const QString APMEDatabase::kActivatedTable = QStringLiteral("activated_snapshot_table");
const QString APMEDatabase::kLaunchedTable = QStringLiteral("launched_snapshot_table");

namespace experiment_database {

const QString kSDKNameColumn = QStringLiteral("sdk_name");
const QString kSnapshotColumn = QStringLiteral("snapshotProto");
const QString kTimestampColumn = QStringLiteral("timestamp");
const QString kManuallyActivatedColumn = QStringLiteral("manually_activated");
constexpr qint64 kMaxRows = 100000;

APMEMonitor& monitor()
{
    return APMEManager::monitor();
}

const APMColumnInfo& columns()
{
    static const APMColumnInfo info { { kSDKNameColumn, QStringLiteral("TEXT NOT NULL PRIMARY KEY") },
        { kSnapshotColumn, QStringLiteral("BLOB NOT NULL") }, { kTimestampColumn, QStringLiteral("REAL NOT NULL") },
        { kManuallyActivatedColumn, QStringLiteral("INTEGER") } };
    return info;
}

} // namespace experiment_database

APMEDatabase::APMEDatabase(QString path)
    : path_(std::move(path))
{
}

APMEDatabase::~APMEDatabase() = default;

std::unique_ptr<APMEDatabase> APMEDatabase::initWithPath(const QString& path)
{
    using namespace experiment_database;
    if (path.isEmpty()) {
        monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 810000,
            QStringLiteral("Cannot initialize the database with invalid path"));
        return nullptr;
    }
    std::unique_ptr<APMEDatabase> database(new APMEDatabase(path));
    if (!database->initializeDatabaseResourcesWithContext(QStringLiteral("Init")))
        return nullptr;
    return database;
}

bool APMEDatabase::initializeDatabaseResourcesWithContext(const QString& context)
{
    using namespace experiment_database;
    APMError error;
    store_ = APMSqliteStore::initWithDatabasePath(path_, &error);
    if (!store_) {
        monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 810001,
            QStringLiteral("Failed to open database (%1)").arg(context), error.description());
        return false;
    }
    if (!ensureAllTables(&error)) {
        monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 810002,
            QStringLiteral("Failed to create or validate required database tables (%1)").arg(context));
        if (!store_->closeAndDeleteDatabase()) {
            monitor().logWithLevel(APMMonitor::kLevelWarningMonitored, 810003,
                QStringLiteral("Failed to delete old database file after failed validation. Error (%1)").arg(path_));
        }
        store_.reset();
        return false;
    }
    return true;
}

bool APMEDatabase::ensureAllTables(APMError* error)
{
    using namespace experiment_database;
    for (const QString& table : { kPendingTable, kActivatedTable, kLaunchedTable }) {
        if (!store_->ensureTableWithName(table, columns(), {}, error)) {
            monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 810004,
                QStringLiteral("Failed to ensure table. Table, error"), table, error ? error->description() : QString());
            return false;
        }
    }
    return true;
}

bool APMEDatabase::performTransaction(const std::function<bool()>& block)
{
    using namespace experiment_database;
    APMError error;
    if (!store_) {
        monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 810007,
            QStringLiteral("Transaction failed. %1").arg(QStringLiteral("Database not open")));
        return false;
    }
    if (!store_->performTransactionWithError(&error, block)) {
        monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 810007,
            QStringLiteral("Transaction failed. %1").arg(error.localizedDescription()));
        return false;
    }
    return true;
}

void APMEDatabase::closeAndDelete()
{
    using namespace experiment_database;
    if (store_ && !store_->closeAndDeleteDatabase())
        monitor().logWithLevel(APMMonitor::kLevelWarningMonitored, 810005, QStringLiteral("Failed to delete database data"));
    store_.reset();
    if (QFile::exists(path_) && !QFile::remove(path_))
        monitor().logWithLevel(APMMonitor::kLevelWarningMonitored, 810005, QStringLiteral("Failed to delete database data"));
}

void APMEDatabase::reset()
{
    using namespace experiment_database;
    closeAndDelete();
    if (!initializeDatabaseResourcesWithContext(QStringLiteral("Reset")))
        monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 810006, QStringLiteral("Cannot re-initialize the database"));
}

std::optional<QList<APMESnapshot>> APMEDatabase::snapshotsFromRows(
    const QString& query, const QVariantList& parameters, APMError* error)
{
    using namespace experiment_database;
    if (!store_) {
        APMSetErrorWithCode(error, APMError::InvalidState, QStringLiteral("Database not open"));
        return std::nullopt;
    }
    const auto rows = store_->recordsForQuery(query, parameters, error);
    if (!rows)
        return std::nullopt;
    QList<APMESnapshot> snapshots;
    for (const APMRow& row : *rows) {
        const auto message = APMPBSnapshot::initWithBuffer(row.value(kSnapshotColumn).toByteArray());
        const QVariant time = row.value(kTimestampColumn);
        auto snapshot = message ? APMESnapshot::initWithProtobuf(*message, time.toDouble()) : std::nullopt;
        if (!snapshot) {
            APMSetErrorWithCode(error, 2, QStringLiteral("Received an invalid snapshot from database"));
            return std::nullopt;
        }
        const QVariant mark = row.value(kManuallyActivatedColumn);
        if (APMIsSqlValue(mark))
            snapshot->setManuallyActivated(mark.toLongLong() != 0);
        snapshots.append(std::move(*snapshot));
    }
    return snapshots;
}

std::optional<QList<APMESnapshot>> APMEDatabase::fetchAll(const QString& table, APMError* error)
{
    using namespace experiment_database;
    return snapshotsFromRows(
        QStringLiteral("SELECT rowid, * FROM %1 ORDER BY rowid LIMIT %2").arg(table).arg(kMaxRows), {}, error);
}

std::optional<QList<APMESnapshot>> APMEDatabase::fetchAllActivatedSnapshots(APMError* error)
{
    return fetchAll(kActivatedTable, error);
}

std::optional<QList<APMESnapshot>> APMEDatabase::fetchAllPendingSnapshots(APMError* error)
{
    return fetchAll(kPendingTable, error);
}

std::optional<QList<APMESnapshot>> APMEDatabase::fetchAllLaunchedSnapshots(APMError* error)
{
    return fetchAll(kLaunchedTable, error);
}

bool APMEDatabase::upsertSnapshot(const APMESnapshot& snapshot, const QString& table, double timestamp,
    std::optional<bool> manuallyActivated, APMError* error)
{
    using namespace experiment_database;
    if (!store_) {
        APMSetErrorWithCode(error, APMError::InvalidState, QStringLiteral("Database not open"));
        return false;
    }
    const auto message = snapshot.proto();
    const auto bytes = message ? message->protoBuffer() : std::nullopt;
    if (!bytes || snapshot.sdkName().isEmpty()) {
        APMSetErrorWithCode(error, APMError::InvalidArgument, QStringLiteral("Received an invalid snapshot"));
        return false;
    }
    APMRecord record { { kSDKNameColumn, snapshot.sdkName() }, { kTimestampColumn, timestamp },
        { kSnapshotColumn, *bytes } };
    if (manuallyActivated)
        record.insert(kManuallyActivatedColumn, qint64(*manuallyActivated ? 1 : 0));
    return store_->upsertRecord(record, table, error);
}

bool APMEDatabase::upsertPendingExperimentSnapshots(const QList<APMESnapshot>& snapshots, APMError* error)
{
    for (const APMESnapshot& snapshot : snapshots) {
        if (!upsertSnapshot(snapshot, kPendingTable, snapshot.timestamp(), snapshot.manuallyActivated(), error))
            return false;
    }
    return true;
}

bool APMEDatabase::activateSnapshot(const APMESnapshot& snapshot, double timestamp, APMError* error)
{
    using namespace experiment_database;
    if (snapshot.sdkName().isEmpty()) {
        APMSetErrorWithCode(error, 1, QStringLiteral("Received nil pending snapshot"));
        return false;
    }
    if (!store_) {
        APMSetErrorWithCode(error, APMError::InvalidState, QStringLiteral("Database not open"));
        return false;
    }
    APMESnapshot activated(snapshot.sdkName(), timestamp);
    std::optional<APMESnapshot> launched;
    for (const APMEExperiment& experiment : snapshot.experiments()) {
        if (experiment.experimentID() == 0) {
            launched = APMESnapshot(snapshot.sdkName(), timestamp);
            launched->setExperiment(experiment);
        } else {
            activated.setExperiment(experiment);
        }
    }
    if (launched && !upsertSnapshot(*launched, kLaunchedTable, timestamp, std::nullopt, error))
        return false;
    if (!activated.experimentIDs().isEmpty()
        && !upsertSnapshot(activated, kActivatedTable, timestamp, std::nullopt, error))
        return false;
    return store_->deleteRecordsFromTableWithName(kPendingTable,
                     QStringLiteral("%1 = ? AND %2 <= ?").arg(kSDKNameColumn, kTimestampColumn),
                     { snapshot.sdkName(), timestamp }, error)
        .has_value();
}

bool APMEDatabase::activatePendingSnapshotsAutomatically(APMError* error)
{
    using namespace experiment_database;
    const auto pending = snapshotsFromRows(
        QStringLiteral("SELECT rowid,* FROM %1 WHERE NOT %2 = ? ORDER BY rowid").arg(kPendingTable, kManuallyActivatedColumn),
        { qint64(1) }, error);
    if (!pending)
        return false;
    for (const APMESnapshot& snapshot : *pending) {
        if (!activateSnapshot(snapshot, snapshot.timestamp(), error)
            || !deletePendingExperimentsOfSDKName(snapshot.sdkName(), error))
            return false;
    }
    return true;
}

bool APMEDatabase::deleteStaleActivatedSnapshots(double now, APMError* error)
{
    using namespace experiment_database;
    if (!store_) {
        APMSetErrorWithCode(error, APMError::InvalidState, QStringLiteral("Database not open"));
        return false;
    }
    return store_
        ->deleteRecordsFromTableWithName(
            kActivatedTable, QStringLiteral("%1 <= ?").arg(kTimestampColumn), { now - kStaleActivatedAge }, error)
        .has_value();
}

bool APMEDatabase::deleteActivatedExperimentsOfSDKName(const QString& name, APMError* error)
{
    if (name.isEmpty()) {
        APMSetErrorWithCode(error, 1, QStringLiteral("Received empty SDK Name"));
        return false;
    }
    return deleteExperimentsOfSDKName(name, kActivatedTable, error);
}

bool APMEDatabase::deletePendingExperimentsOfSDKName(const QString& name, APMError* error)
{
    return deleteExperimentsOfSDKName(name, kPendingTable, error);
}

bool APMEDatabase::deleteLaunchedExperimentSDKName(const QString& name, APMError* error)
{
    return deleteExperimentsOfSDKName(name, kLaunchedTable, error);
}

bool APMEDatabase::deleteExperimentsOfSDKName(const QString& name, const QString& table, APMError* error)
{
    using namespace experiment_database;
    if (!store_) {
        APMSetErrorWithCode(error, APMError::InvalidState, QStringLiteral("Database not open"));
        return false;
    }
    return store_->deleteRecordFromTableWithName(table, kSDKNameColumn, name, error);
}
