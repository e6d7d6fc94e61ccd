#pragma once

#include "analytics/experiments/APMESnapshot.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class APMError;
class APMSqliteStore;

// The experiment client's own SQLite file: per SDK the latest pending,
// activated and launched snapshot, kept across launches. Three tables of one
// layout (sdk_name primary key, the encoded snapshot, its time, and in the
// pending table the manual-activation mark); every write replaces the SDK's
// row. Used from the fetch task's worker queue only; not locked.
class APMEDatabase {
public:
    static const QString kDatabaseName; // "vireo_experimentation_database.sql"
    static const QString kPendingTable; // "pending_snapshot_table"
    static const QString kActivatedTable; // "activated_snapshot_table"
    static const QString kLaunchedTable; // "launched_snapshot_table"
    // Activated snapshots older than this are dropped at start.
    static constexpr double kStaleActivatedAge = 259200; // 3 days

    // Nothing when the path is empty, the file cannot be opened, or the
    // tables cannot be made (the file is then deleted).
    static std::unique_ptr<APMEDatabase> initWithPath(const QString& path);
    ~APMEDatabase();

    APMEDatabase(const APMEDatabase&) = delete;
    APMEDatabase& operator=(const APMEDatabase&) = delete;

    const QString& path() const { return path_; }
    bool isOpen() const { return store_ != nullptr; }

    // One transaction of the store: true from the block commits it.
    bool performTransaction(const std::function<bool()>& block);
    // Deletes the file and opens a fresh one at the same path.
    void reset();
    // Deletes the file; every later operation fails until the next open.
    void closeAndDelete();

    // Nothing (with the error) when a read fails or any row does not make a
    // snapshot; rows in the order written.
    std::optional<QList<APMESnapshot>> fetchAllActivatedSnapshots(APMError* error);
    std::optional<QList<APMESnapshot>> fetchAllPendingSnapshots(APMError* error);
    std::optional<QList<APMESnapshot>> fetchAllLaunchedSnapshots(APMError* error);

    // Each snapshot with its own time and mark; the first failure stops.
    bool upsertPendingExperimentSnapshots(const QList<APMESnapshot>& snapshots, APMError* error);
    bool upsertSnapshot(const APMESnapshot& snapshot, const QString& table, double timestamp,
        std::optional<bool> manuallyActivated, APMError* error);
    // Experiments of id 0 become the launched snapshot (the last of them),
    // the others the activated one (left as it was when there are none);
    // the SDK's pending rows up to that time are deleted.
    bool activateSnapshot(const APMESnapshot& snapshot, double timestamp, APMError* error);
    // Every pending snapshot without the mark, activated with its own time.
    bool activatePendingSnapshotsAutomatically(APMError* error);
    bool deleteStaleActivatedSnapshots(double now, APMError* error);

    bool deleteActivatedExperimentsOfSDKName(const QString& name, APMError* error);
    bool deletePendingExperimentsOfSDKName(const QString& name, APMError* error);
    bool deleteLaunchedExperimentSDKName(const QString& name, APMError* error);
    bool deleteExperimentsOfSDKName(const QString& name, const QString& table, APMError* error);

private:
    explicit APMEDatabase(QString path);
    bool initializeDatabaseResourcesWithContext(const QString& context);
    bool ensureAllTables(APMError* error);
    std::optional<QList<APMESnapshot>> snapshotsFromRows(const QString& query, const QVariantList& parameters,
        APMError* error);
    std::optional<QList<APMESnapshot>> fetchAll(const QString& table, APMError* error);

    QString path_;
    std::unique_ptr<APMSqliteStore> store_;
};
