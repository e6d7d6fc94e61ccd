#include "analytics/experiments/APMETaskManager.h"

#include "analytics/experiments/APMEDatabase.h"
#include "analytics/experiments/APMEExperimentRequestBuilder.h"
#include "analytics/experiments/APMETaskManagerDelegate.h"
#include "analytics/base/APMAlarm.h"
#include "analytics/base/APMConfigStore.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/base/APMEMonitor.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/store/APMGzip.h"
#include "analytics/wire/APMPBExperimentRequest.h"
#include "analytics/wire/APMPBExperimentResponse.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBSdkResponse.h"
#include "analytics/wire/APMPBSnapshot.h"
#include "platform/Clock.h"
#include "platform/Executor.h"
#include "platform/HttpClient.h"
#include "platform/SerialQueue.h"

#include <cmath>
#include <utility>

const QString APMETaskManager::kSuiteName = QStringLiteral("APMExperimentSuiteName");
const QString APMETaskManager::kWorkerQueueName = QStringLiteral("APMExperimentWorkerQueue");
const QString APMETaskManager::kAlarmName = QStringLiteral("APMExperimentAlarm");
const QString APMETaskManager::kSuccessTimestampKey = QStringLiteral("APMExperimentFetchSuccessTimestamp");
const QString APMETaskManager::kFailureTimestampKey = QStringLiteral("APMExperimentFetchFailureTimestamp");
const QString APMETaskManager::kBackoffTimestampKey = QStringLiteral("APMExperimentFetchBackoffTimestamp");
const QString APMETaskManager::kFetchPath = QStringLiteral("/sdk-exp");
const QString APMETaskManager::kErrorDomain = QStringLiteral("com.vireo.vmp.measurement.experiment.ErrorDomain");
const char* const APMETaskManager::kAddressVariable = "PRAVIK_EXPERIMENTS_URL";

namespace experiment_fetch {

constexpr double kZero = 2.220446049250313e-16;
constexpr int kResponseSnapshotsSlot = 0, kResponseSdkResponsesSlot = 1;
constexpr int kSdkNameSlot = 0, kSdkStatusSlot = 1, kSdkSnapshotSlot = 2;
constexpr int kSnapshotNameSlot = 0;

APMEMonitor& monitor()
{
    return APMEManager::monitor();
}

bool isZero(double value)
{
    return std::fabs(value) < kZero;
}

// A gzip member inflated; any other body as it came.
std::optional<QByteArray> inflated(const QByteArray& body)
{
    if (body.size() < 2 || quint8(body[0]) != 0x1f || quint8(body[1]) != 0x8b)
        return body;
    QString reason;
    const QByteArray data = APMGzip::dataByInflatingGzippedData(body, &reason);
    if (data.isEmpty() && !reason.isEmpty()) {
        monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 820023,
            QStringLiteral("Cannot inflate downloaded experiment data. Error"), reason);
        return std::nullopt;
    }
    return data;
}

} // namespace experiment_fetch

QUrl APMETaskManager::configuredServiceAddress()
{
    const QUrl address(qEnvironmentVariable(kAddressVariable).trimmed());
    if (!address.isValid() || address.host().isEmpty()
        || (address.scheme() != QLatin1String("https") && address.scheme() != QLatin1String("http")))
        return QUrl();
    return address;
}

APMETaskManager::APMETaskManager(Environment environment)
    : environment_(std::move(environment))
{
    if (environment_.workerQueue) {
        workerQueue_ = environment_.workerQueue;
    } else {
        ownQueue_ = std::make_unique<platform::SerialQueue>(kWorkerQueueName);
        workerQueue_ = ownQueue_.get();
    }
    platform::Clock& clock = environment_.clock ? *environment_.clock : platform::Clock::system();
    alarm_ = std::make_unique<APMAlarm>(*workerQueue_, clock, kAlarmName);
    initializationTimestamp_ = now();
}

APMETaskManager::~APMETaskManager()
{
    // Work already posted finds the task manager gone; a step running on the
    // own queue finishes before the members it uses go away.
    alive_.reset();
    if (ownQueue_ && !ownQueue_->isCurrent())
        ownQueue_->sync([] {});
    alarm_->cancel();
}

double APMETaskManager::scheduledFetchTime() const
{
    return alarm_->scheduledTimestamp().value_or(0);
}

double APMETaskManager::now() const
{
    return environment_.clock ? environment_.clock->now() : platform::Clock::system().now();
}

template <class F> void APMETaskManager::post(F&& work)
{
    std::weak_ptr<bool> alive = alive_;
    workerQueue_->async([alive, work = std::forward<F>(work)]() mutable {
        if (!alive.expired())
            work();
    });
}

double APMETaskManager::storedTime(const QString& key) const
{
    return environment_.persistedStorage ? environment_.persistedStorage->doubleForKey(key) : 0;
}

void APMETaskManager::setStoredTime(const QString& key, double value)
{
    if (!environment_.persistedStorage)
        return;
    if (value == 0)
        environment_.persistedStorage->setObject(QVariant(), key);
    else
        environment_.persistedStorage->setDouble(value, key);
}

void APMETaskManager::startTaskManager()
{
    post([this] { startTaskManagerOnWorkerQueue(); });
}

void APMETaskManager::startTaskManagerOnWorkerQueue()
{
    database_ = APMEDatabase::initWithPath(environment_.databasePath);
    if (!database_)
        return;
    fetchAllSnapshotsOnWorkerQueue();
    scheduleFetchingExperimentsOnWorkerQueue();
}

void APMETaskManager::fetchAllSnapshotsOnWorkerQueue()
{
    using experiment_fetch::monitor;
    if (!database_)
        return;
    const double time = now();
    const bool loaded = database_->performTransaction([&] {
        APMError error;
        if (!database_->deleteStaleActivatedSnapshots(time, &error) && error.isSet()) {
            monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 820006,
                QStringLiteral("Cannot delete stale activated snapshots. Error"), error.description());
            return false;
        }
        error = APMError();
        if (!database_->activatePendingSnapshotsAutomatically(&error) && error.isSet()) {
            monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 820007,
                QStringLiteral("Cannot activate pending snapshots automatically. Error"), error.description());
            return false;
        }
        return true;
    });
    if (!loaded) {
        monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 820008, QStringLiteral("Failed to start the task manager"));
        return;
    }
    monitor().logWithLevel(APMMonitor::kLevelVerbose, 820009, QStringLiteral("Successfully start the task manager"));
    const auto delegate = delegate_.lock();
    if (!delegate)
        return;
    APMError error;
    const auto activated = database_->fetchAllActivatedSnapshots(&error);
    if (!activated)
        monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 820010,
            QStringLiteral("Error in fetching all activated snapshots. Error"), error.description());
    const auto pending = database_->fetchAllPendingSnapshots(&error);
    if (!pending)
        monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 820011,
            QStringLiteral("Error in fetching all pending snapshots. Error"), error.description());
    const auto launched = database_->fetchAllLaunchedSnapshots(&error);
    if (!launched)
        monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 820012,
            QStringLiteral("Error in fetching all launched snapshots. Error"), error.description());
    delegate->taskManagerDidStartWithSnapshots(
        activated.value_or(QList<APMESnapshot>()), pending.value_or(QList<APMESnapshot>()),
        launched.value_or(QList<APMESnapshot>()));
}

double APMETaskManager::fetchTimeFromLastSuccessfulTimestamp(double lastSuccess, double lastFailure)
{
    const double time = now();
    const double base = experiment_fetch::isZero(lastSuccess) ? 0 : time - std::fabs(lastSuccess - time);
    const double candidate = base + kFetchInterval;
    if (!hasMadeInitialFetch_) {
        hasMadeInitialFetch_ = true;
        return std::max(candidate, time + kEarliestFirstFetch);
    }
    if (lastFailure <= 0)
        return candidate;
    double sum = experiment_fetch::isZero(base) ? initializationTimestamp_ : candidate;
    double step = kFirstRetryStep;
    for (int i = 0; i < kRetrySteps; ++i, step *= 2) {
        sum += step;
        if (sum > lastFailure)
            return sum;
    }
    return 0;
}

void APMETaskManager::scheduleFetchingExperimentsOnWorkerQueue()
{
    using experiment_fetch::monitor;
    double due = fetchTimeFromLastSuccessfulTimestamp(storedTime(kSuccessTimestampKey), storedTime(kFailureTimestampKey));
    if (experiment_fetch::isZero(due)) {
        setStoredTime(kSuccessTimestampKey, 0);
        monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 820024,
            QStringLiteral("Network attempted too many times. Will not schedule new network."));
        return;
    }
    const double time = now();
    const double alarmDue = scheduledFetchTime();
    if (alarmDue != 0 && due >= alarmDue) {
        monitor().logWithLevel(APMMonitor::kLevelVerbose, 820017,
            QStringLiteral("Do not schedule a fetch task. Task already exists. Will be executed in seconds"),
            alarmDue - time);
        return;
    }
    const double backoff = storedTime(kBackoffTimestampKey);
    if (!experiment_fetch::isZero(backoff) && time - backoff < kBackoffInterval)
        due = std::max(due, backoff + kBackoffInterval);
    double delay = due - time;
    if (delay <= 0)
        delay = kSmallestDelay;
    armAlarm(delay);
}

void APMETaskManager::armAlarm(double delay)
{
    std::weak_ptr<bool> alive = alive_;
    alarm_->runAfterDelay(delay, [this, alive] {
        if (!alive.expired())
            alarmFired();
    });
}

void APMETaskManager::alarmFired()
{
    const auto delegate = delegate_.lock();
    if (delegate && !delegate->taskManagerShouldFetchExperiments())
        postponeFetchExperiments();
    else
        fetchExperiments();
}

void APMETaskManager::postponeFetchExperiments()
{
    setStoredTime(kSuccessTimestampKey, now());
    setStoredTime(kFailureTimestampKey, 0);
    setStoredTime(kBackoffTimestampKey, 0);
    scheduleFetchingExperimentsOnWorkerQueue();
}

void APMETaskManager::fetchExperiments()
{
    using experiment_fetch::monitor;
    if (environment_.serviceAddress.isEmpty() || !environment_.serviceAddress.isValid() || !environment_.network) {
        // Not configured: nothing to fetch, and nothing to retry.
        if (!reportedUnconfigured_) {
            reportedUnconfigured_ = true;
            monitor().logWithLevel(APMMonitor::kLevelWarning, 820029,
                QStringLiteral("The experiment service address is not configured. Experiments will not be fetched"));
        }
        return;
    }
    const auto request = environment_.requestBuilder ? environment_.requestBuilder->request() : nullptr;
    const QByteArray payload = request ? request->protoBuffer().value_or(QByteArray()) : QByteArray();
    monitor().logWithLevel(APMMonitor::kLevelVerbose, 820001, QStringLiteral("Fetching new experiments. Request"),
        QString::fromLatin1(payload.toBase64()));
    platform::HttpRequest http;
    http.method = "POST";
    QUrl url = environment_.serviceAddress;
    url.setPath(url.path().endsWith(QLatin1Char('/')) ? url.path().chopped(1) + kFetchPath : url.path() + kFetchPath);
    http.url = url;
    http.headers = { { "Content-Type", "application/x-protobuf" } };
    http.body = payload;
    http.timeoutSeconds = environment_.networkTimeout > 0 ? environment_.networkTimeout : 60;
    std::weak_ptr<bool> alive = alive_;
    environment_.network->send(http, [this, alive](const platform::HttpResponse& response) {
        if (alive.expired())
            return;
        const int status = response.error == platform::HttpResponse::Error::None ? response.status : 0;
        const std::optional<QByteArray> data
            = response.body.isEmpty() ? std::optional<QByteArray>(QByteArray()) : experiment_fetch::inflated(response.body);
        const QString networkError = response.errorString;
        post([this, status, data, networkError] { handleFetchingExperimentsResponse(status, data, networkError); });
    });
}

void APMETaskManager::handleFetchingExperimentsResponse(
    int status, const std::optional<QByteArray>& data, const QString& networkError)
{
    using experiment_fetch::monitor;
    const double time = now();
    const bool answered = status == 200 || status == 204;
    if (!answered) {
        setStoredTime(kFailureTimestampKey, time);
        if (status == 503 || status == 429)
            setStoredTime(kBackoffTimestampKey, time);
        monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 820002,
            QStringLiteral("Network fetch failed. Will retry later. Code, error"), status, networkError);
        scheduleFetchingExperimentsOnWorkerQueue();
        return;
    }
    // The service answered: the fetch succeeded and the regular schedule
    // applies, whatever the body. A body that does not inflate or decode
    // changes none of the stored snapshots.
    setStoredTime(kSuccessTimestampKey, time);
    setStoredTime(kFailureTimestampKey, 0);
    setStoredTime(kBackoffTimestampKey, 0);
    const std::unique_ptr<APMPBExperimentResponse> message
        = data ? APMPBExperimentResponse::initWithBuffer(*data) : nullptr;
    if (!message) {
        monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 820030,
            QStringLiteral("Experiment response cannot be read; snapshots kept. Code"), status);
        scheduleFetchingExperimentsOnWorkerQueue();
        return;
    }
    monitor().logWithLevel(APMMonitor::kLevelVerbose, 820003,
        QStringLiteral("Successful fetch. Got network response. Code, data"), status,
        QString::fromLatin1(data->toBase64()));
    const QList<APMESnapshot> snapshots
        = experimentSnapshotsFromExperimentResponse(message.get(), time).value_or(QList<APMESnapshot>());
    const QMap<QString, APMError> errors = errorsFromExperimentResponse(message.get()).value_or(QMap<QString, APMError>());
    if (!snapshots.isEmpty()) {
        APMError error;
        if (!database_ || !database_->upsertPendingExperimentSnapshots(snapshots, &error)) {
            monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 820022,
                QStringLiteral("Cannot upsert pending snapshots. Error, snapshots"), error.description(),
                qint64(snapshots.size()));
        }
    }
    if (const auto delegate = delegate_.lock())
        delegate->taskManagerDidFinishFetchingExperimentSnapshotsWithErrors(snapshots, errors);
    scheduleFetchingExperimentsOnWorkerQueue();
}

void APMETaskManager::activatePendingSnapshot(const APMESnapshot& snapshot, double timestamp)
{
    post([this, snapshot, timestamp] {
        if (!database_)
            return;
        APMError error;
        database_->performTransaction([&] {
            if (database_->activateSnapshot(snapshot, timestamp, &error))
                return true;
            experiment_fetch::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 820014,
                QStringLiteral("Cannot activate snapshot for SDK Name. Error"), snapshot.sdkName(), error.description());
            return false;
        });
    });
}

void APMETaskManager::resetToDefaultsForSDKName(const QString& name)
{
    if (name.isEmpty()) {
        experiment_fetch::monitor().logWithLevel(
            APMMonitor::kLevelErrorMonitored, 820018, QStringLiteral("Cannot reset to defaults for empty SDK name"));
        return;
    }
    post([this, name] {
        APMError error;
        if (database_ && !database_->deleteActivatedExperimentsOfSDKName(name, &error)
            && error.isSet())
            experiment_fetch::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 820019,
                QStringLiteral("Cannot reset to defaults in the database. SDK Name, error"), name, error.description());
    });
}

void APMETaskManager::upsertPendingSnapshots(const QList<APMESnapshot>& snapshots)
{
    if (snapshots.isEmpty()) {
        experiment_fetch::monitor().logWithLevel(
            APMMonitor::kLevelErrorSilent, 820020, QStringLiteral("Cannot upsert empty pending snapshot list"));
        return;
    }
    post([this, snapshots] {
        APMError error;
        if (database_ && database_->upsertPendingExperimentSnapshots(snapshots, &error)) {
            if (const auto delegate = delegate_.lock())
                delegate->taskManagerDidUpsertPendingSnapshots(snapshots);
            return;
        }
        experiment_fetch::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 820021,
            QStringLiteral("Cannot upsert pending snapshots into the database. Error"), error.description());
    });
}

void APMETaskManager::reset()
{
    post([this] {
        if (database_)
            database_->reset();
        setStoredTime(kSuccessTimestampKey, 0);
        setStoredTime(kFailureTimestampKey, 0);
        setStoredTime(kBackoffTimestampKey, 0);
        scheduleFetchingExperimentsOnWorkerQueue();
    });
}

void APMETaskManager::clearAndDelete()
{
    post([this] {
        if (database_)
            database_->closeAndDelete();
        setStoredTime(kSuccessTimestampKey, 0);
        setStoredTime(kFailureTimestampKey, 0);
        setStoredTime(kBackoffTimestampKey, 0);
    });
}

std::optional<QList<APMESnapshot>> APMETaskManager::experimentSnapshotsFromExperimentResponse(
    const APMPBExperimentResponse* response, double now)
{
    using namespace experiment_fetch;
    if (!response) {
        monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 820015,
            QStringLiteral("Cannot create experiment snapshots from nil response"));
        return std::nullopt;
    }
    std::vector<std::unique_ptr<APMPBSnapshot>> messages
        = APMPBGetArrayField<APMPBSnapshot>(response, kResponseSnapshotsSlot);
    if (messages.empty()) {
        for (const auto& sdk : APMPBGetArrayField<APMPBSdkResponse>(response, kResponseSdkResponsesSlot)) {
            auto snapshot = APMPBGetMessageField<APMPBSnapshot>(sdk.get(), kSdkSnapshotSlot);
            if (!snapshot)
                continue;
            const QString name = APMPBGetStringField(sdk.get(), kSdkNameSlot);
            if (!name.isEmpty())
                APMPBSetStringField(snapshot.get(), kSnapshotNameSlot, name);
            messages.push_back(std::move(snapshot));
        }
    }
    QList<APMESnapshot> snapshots;
    for (const auto& message : messages) {
        auto snapshot = APMESnapshot::initWithProtobuf(*message, now);
        if (!snapshot) {
            monitor().logWithLevel(
                APMMonitor::kLevelErrorSilent, 820016, QStringLiteral("Cannot create a snapshot from the proto"));
            continue;
        }
        snapshots.append(std::move(*snapshot));
    }
    return snapshots;
}

std::optional<QMap<QString, APMError>> APMETaskManager::errorsFromExperimentResponse(
    const APMPBExperimentResponse* response)
{
    using namespace experiment_fetch;
    if (!response)
        return std::nullopt;
    const auto sdkResponses = APMPBGetArrayField<APMPBSdkResponse>(response, kResponseSdkResponsesSlot);
    if (sdkResponses.empty())
        return std::nullopt;
    QMap<QString, APMError> errors;
    for (const auto& sdk : sdkResponses) {
        const qint32 status = APMPBGetInt32Field(sdk.get(), kSdkStatusSlot);
        const QString name = APMPBGetStringField(sdk.get(), kSdkNameSlot);
        if (status == 0 || name.isEmpty())
            continue;
        const qint64 code = status >= 1 && status <= 3 ? -(qint64(status) + 1) : -1;
        errors.insert(name, APMError(kErrorDomain, code));
    }
    return errors;
}

std::optional<QList<APMESnapshot>> APMETaskManager::experimentSnapshotsFromData(const QByteArray& data, double now)
{
    if (data.isEmpty()) {
        experiment_fetch::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 820025,
            QStringLiteral("Cannot create experiment snapshots from empty data"));
        return std::nullopt;
    }
    const auto response = APMPBExperimentResponse::initWithBuffer(data);
    return experimentSnapshotsFromExperimentResponse(response.get(), now);
}
