#pragma once

#include "analytics/experiments/APMESnapshot.h"
#include "analytics/base/APMError.h"

#include <QList>
#include <QMap>
#include <QString>

// What the fetch task reports to the experiments manager, from the task's
// worker queue.
class APMETaskManagerDelegate {
public:
    virtual ~APMETaskManagerDelegate() = default;

    virtual bool taskManagerShouldFetchExperiments() const = 0;
    // The stored snapshots, once the database has been opened at start.
    virtual void taskManagerDidStartWithSnapshots(const QList<APMESnapshot>& activated,
        const QList<APMESnapshot>& pending, const QList<APMESnapshot>& launched)
        = 0;
    // A fetch brought these snapshots (already stored as pending) and these
    // errors by SDK name.
    virtual void taskManagerDidFinishFetchingExperimentSnapshotsWithErrors(
        const QList<APMESnapshot>& snapshots, const QMap<QString, APMError>& errors)
        = 0;
    // Snapshots marked for manual activation were stored again.
    virtual void taskManagerDidUpsertPendingSnapshots(const QList<APMESnapshot>& snapshots) = 0;
};
