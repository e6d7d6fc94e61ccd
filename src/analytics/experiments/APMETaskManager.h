#pragma once

#include "analytics/experiments/APMESnapshot.h"
#include "analytics/base/APMError.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

namespace platform {
class Clock;
class Executor;
class HttpClient;
class SerialQueue;
using TaskId = quint64;
} // namespace platform

class APMAlarm;
class APMConfigStore;
class APMEDatabase;
class APMEExperimentRequestBuilder;
class APMETaskManagerDelegate;
class APMPBExperimentResponse;

// Everything of the experiment client that touches disk or network: the
// experiment database, the schedule of fetches with retry and back-off, the
// POST of the request to the experiment service and the handling of its
// reply. Runs on its own worker queue "APMExperimentWorkerQueue", apart from
// the measurement engine's, with the alarm "APMExperimentAlarm" firing there;
// tests inject an executor instead, so they drive the schedule on virtual
// time.
//
// Schedule: a fetch 4 h after the last success (at the earliest 10 s after
// the process started); after failures the retries follow at 30 min,
// doubled six times, then the task gives up until the next start; a reply
// of 503 or 429 holds every fetch back for 12 h.
class APMETaskManager {
public:
    static const QString kSuiteName; // "APMExperimentSuiteName"
    static const QString kWorkerQueueName; // "APMExperimentWorkerQueue"
    static const QString kAlarmName; // "APMExperimentAlarm"
    static const QString kSuccessTimestampKey; // "APMExperimentFetchSuccessTimestamp"
    static const QString kFailureTimestampKey; // "APMExperimentFetchFailureTimestamp"
    static const QString kBackoffTimestampKey; // "APMExperimentFetchBackoffTimestamp"
    static const QString kFetchPath; // "/sdk-exp"
    static const QString kErrorDomain; // "com.vireo.vmp.measurement.experiment.ErrorDomain"
    // The environment variable that sets the experiment service's address.
    static const char* const kAddressVariable; // "PRAVIK_EXPERIMENTS_URL"

    static constexpr double kFetchInterval = 14400;
    static constexpr double kEarliestFirstFetch = 10;
    static constexpr double kFirstRetryStep = 1800;
    static constexpr int kRetrySteps = 6;
    static constexpr double kBackoffInterval = 43200;
    static constexpr double kSmallestDelay = 0.001;

    struct Environment {
        // Null: the task manager's own serial queue "APMExperimentWorkerQueue".
        platform::Executor* workerQueue = nullptr;
        platform::Clock* clock = nullptr;
        platform::HttpClient* network = nullptr;
        // The three stored times.
        APMConfigStore* persistedStorage = nullptr;
        QString databasePath;
        // "https://host" of the experiment service; the path is added. An
        // empty address means not configured: nothing is fetched.
        QUrl serviceAddress;
        std::shared_ptr<APMEExperimentRequestBuilder> requestBuilder;
        double networkTimeout = 60;
    };

    // The experiment service's address from the environment variable; empty
    // (not configured) when unset or not an http(s) address.
    static QUrl configuredServiceAddress();

    explicit APMETaskManager(Environment environment);
    ~APMETaskManager();

    APMETaskManager(const APMETaskManager&) = delete;
    APMETaskManager& operator=(const APMETaskManager&) = delete;

    void setDelegate(std::weak_ptr<APMETaskManagerDelegate> delegate) { delegate_ = std::move(delegate); }
    const std::shared_ptr<APMEExperimentRequestBuilder>& requestBuilder() const { return environment_.requestBuilder; }
    bool hasMadeInitialFetch() const { return hasMadeInitialFetch_; }
    double initializationTimestamp() const { return initializationTimestamp_; }
    // When the pending fetch is due (seconds since 1970); 0 for none.
    double scheduledFetchTime() const;
    // The queue every step runs on and the alarm that drives the fetches.
    platform::Executor& workerQueue() const { return *workerQueue_; }
    const APMAlarm& alarm() const { return *alarm_; }

    // Posts the start (open the database, load, schedule) to the worker queue.
    void startTaskManager();

    // Worker-queue steps.
    void startTaskManagerOnWorkerQueue();
    void fetchAllSnapshotsOnWorkerQueue();
    void scheduleFetchingExperimentsOnWorkerQueue();
    // When the next fetch is due; 0 when the retries are used up.
    double fetchTimeFromLastSuccessfulTimestamp(double lastSuccess, double lastFailure);
    void fetchExperiments();
    void postponeFetchExperiments();
    // `status` 0 when no reply arrived; `data` the body, inflated.
    void handleFetchingExperimentsResponse(int status, const std::optional<QByteArray>& data, const QString& networkError);

    // Work the manager posts; each runs on the worker queue.
    void activatePendingSnapshot(const APMESnapshot& snapshot, double timestamp);
    void resetToDefaultsForSDKName(const QString& name);
    void upsertPendingSnapshots(const QList<APMESnapshot>& snapshots);
    void reset();
    void clearAndDelete();

    // Reading replies. Nothing for no message; snapshots timed `now`.
    static std::optional<QList<APMESnapshot>> experimentSnapshotsFromExperimentResponse(
        const APMPBExperimentResponse* response, double now);
    static std::optional<QMap<QString, APMError>> errorsFromExperimentResponse(const APMPBExperimentResponse* response);
    static std::optional<QList<APMESnapshot>> experimentSnapshotsFromData(const QByteArray& data, double now);

private:
    double now() const;
    double storedTime(const QString& key) const;
    void setStoredTime(const QString& key, double value);
    void armAlarm(double delay);
    void alarmFired();
    template <class F> void post(F&& work);

    Environment environment_;
    // Set when no queue was injected; every step then runs on it.
    std::unique_ptr<platform::SerialQueue> ownQueue_;
    platform::Executor* workerQueue_ = nullptr;
    std::unique_ptr<APMAlarm> alarm_;
    std::unique_ptr<APMEDatabase> database_;
    std::weak_ptr<APMETaskManagerDelegate> delegate_;
    bool hasMadeInitialFetch_ = false;
    bool reportedUnconfigured_ = false;
    double initializationTimestamp_ = 0;
    // Posted work and replies hold this weakly and do nothing once the task
    // manager is gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
