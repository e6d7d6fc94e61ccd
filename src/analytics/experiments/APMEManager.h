#pragma once

#include "analytics/experiments/APMESnapshot.h"
#include "analytics/experiments/APMETaskManagerDelegate.h"
#include "analytics/config/APMExperimentSource.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <memory>

namespace platform {
class Clock;
class Executor;
class SerialQueue;
} // namespace platform

class APMEClient;
class APMEExperimentObserverDelegate;
class APMEMonitor;
class APMError;
class APMESDKProperty;
class APMETaskManager;

// The experimentation client of the analytics library. Components register
// as SDKs with default flag values and get a client back. Snapshots that the
// experiment service delivers wait as pending until their SDK activates
// them; flag reads then answer the activated experiments' values, then those
// of the launched experiments (id 0), then the defaults.
//
// State lives in memory and is read and written only on the manager's own
// serial queue ("APMEExperimentSerialQueue"). Registration, the fetch
// task's reports and resets are posted to it; lookups, activation, status
// and reset to defaults wait for it (from a task of the queue they run
// inline). A callback that throws there is caught and logged, never passed
// on, so one bad observer cannot stop the queue. Fetch errors reach
// observers on the serial queue; new-snapshot notices go to the observer's
// own queue, else to the notice queue (the main queue unless injected).
//
// With a fetch task (initWithTaskManager), snapshots are fetched on the
// task's schedule and kept in its database: the stored ones are loaded at
// start, new ones stored as pending (marked for manual activation when
// their SDK has an observer, which is told once they are stored), and
// activations and resets reach the database too.
class APMEManager : public APMExperimentSource,
                    public APMETaskManagerDelegate,
                    public std::enable_shared_from_this<APMEManager> {
public:
    static const QString kSerialQueueLabel; // "APMEExperimentSerialQueue"

    static std::shared_ptr<APMEManager> sharedInstance();
    // The monitor the experiment classes log to: a front of the engine's.
    static APMEMonitor& monitor();
    // The version of the experiment client: the library version text with
    // its last three characters cut off, read as a number (0 when the text
    // is too short to leave anything).
    static qint64 version();
    static qint64 versionFromVersionString(const QString& versionString);

    // How current an SDK's activated snapshot is.
    enum SnapshotStatus : qint64 {
        kSnapshotStatusFresh = 0,
        kSnapshotStatusStale = 1,
        kSnapshotStatusUnknownSDK = -1,
        kSnapshotStatusNoSnapshot = -2,
    };
    // An activated snapshot is stale once its time lies more than this far
    // from now, either way (a clock set back counts too).
    static constexpr double kStaleSnapshotAge = 259200; // three days

    // `noticeQueue` null: new-snapshot notices for observers without a
    // queue of their own go to the main queue.
    explicit APMEManager(platform::Clock& clock, platform::Executor* noticeQueue = nullptr);
    APMEManager();
    ~APMEManager();
    // A manager driving the fetch task, which it starts.
    static std::shared_ptr<APMEManager> initWithTaskManager(platform::Clock& clock,
        std::shared_ptr<APMETaskManager> taskManager, platform::Executor* noticeQueue = nullptr);

    APMEManager(const APMEManager&) = delete;
    APMEManager& operator=(const APMEManager&) = delete;

    // Default flag values must be texts or numbers; anything else refuses
    // the whole registration (level 0, code 800002). A second registration
    // under the same name replaces the first.
    std::shared_ptr<APMEClient> registerSDKProperty(
        const std::shared_ptr<APMESDKProperty>& property, const QVariantMap& defaultFlags);
    // The same registration for a property made of name, version and
    // provider: what the configuration uses.
    std::shared_ptr<APMExperimentFlagClient> registerSDK(const QString& name, qint64 version,
        std::weak_ptr<APMESDKPropertyProviderDelegate> propertyProvider, const QVariantMap& defaultFlags) override;
    std::shared_ptr<APMEClient> clientForSDKName(const QString& name) const;
    QVariant flagValueForFlagName(const QString& flagName, const QString& sdkName) const;
    // Makes the SDK's pending snapshot the activated one (experiments of id 0
    // become the launched snapshot). No pending snapshot: false, no error.
    bool activateSnapshotOfSDK(const QString& sdkName, APMError* error);
    // The ids of all activated experiments, ascending.
    QList<qint64> experimentIDs() const override;
    // Drops every snapshot, in memory and stored; registrations and default
    // flags stay. clearAndDelete also deletes the stored times.
    void reset() override;
    void clearAndDelete();

    // Runs the callback on the serial queue, later respectively now; what it
    // throws is logged (level 1, codes 800017 and 800018) and swallowed.
    void dispatchAsyncOnSerialQueue(std::function<void()> callback);
    void dispatchSyncOnSerialQueue(const std::function<void()>& callback);

    // Unknown SDK (or an empty name, level 0 code 800024), no activated
    // snapshot (or one without a time), fresh or stale.
    SnapshotStatus activatedSnapshotStatusOfSDKName(const QString& sdkName) const;

    // Drops the SDK's activated snapshot (memory and database); flags then
    // come from the launched snapshot, then the defaults.
    void resetToDefaultsOfSDKName(const QString& sdkName);

    // What the fetch task asks and reports.
    bool taskManagerShouldFetchExperiments() const override;
    void taskManagerDidStartWithSnapshots(const QList<APMESnapshot>& activated,
        const QList<APMESnapshot>& pending, const QList<APMESnapshot>& launched) override;
    void taskManagerDidFinishFetchingExperimentSnapshotsWithErrors(
        const QList<APMESnapshot>& snapshots, const QMap<QString, APMError>& errors) override;
    void taskManagerDidUpsertPendingSnapshots(const QList<APMESnapshot>& snapshots) override;

private:
    // Async steps hold the manager weakly and do nothing once it is gone.
    void dispatchAsyncWhileAlive(std::function<void(APMEManager&)> step);
    void notifyNewSnapshot(
        const std::shared_ptr<APMEClient>& client, const std::shared_ptr<APMEExperimentObserverDelegate>& delegate);

    platform::Clock& clock_;
    platform::Executor* const noticeQueue_;
    std::shared_ptr<APMETaskManager> taskManager_;
    std::unique_ptr<platform::SerialQueue> queue_;
    QHash<QString, std::shared_ptr<APMEClient>> clients_;
    QHash<QString, QVariantMap> defaultFlags_;
    QHash<QString, APMESnapshot> activated_;
    QHash<QString, APMESnapshot> pending_;
    QHash<QString, APMESnapshot> launched_;
};
