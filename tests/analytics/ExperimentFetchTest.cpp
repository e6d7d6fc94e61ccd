// The experimentation client end to end on virtual time: the fetch task
// POSTs its request to a fake experiment service on 127.0.0.1, stores the
// snapshots it gets as pending, the manager activates them and serves their
// flags through the interfaces the remote configuration reads; failures,
// back-off, malformed replies and a restart.

#include "analytics/experiments/APMEClient.h"
#include "analytics/experiments/APMEDatabase.h"
#include "analytics/experiments/APMEExperimentRequestBuilder.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMETaskManager.h"
#include "analytics/experiments/APMETaskManagerDelegate.h"
#include "analytics/base/APMAlarm.h"
#include "analytics/base/APMConfigStore.h"
#include "analytics/config/APMEExperimentObserverDelegate.h"
#include "analytics/config/APMExperimentSource.h"
#include "analytics/store/APMGzip.h"
#include "fakes/FakeExperimentServer.h"
#include "fakes/VirtualTime.h"
#include "platform/HttpClient.h"
#include "platform/SerialQueue.h"

#include <QHash>
#include <QTemporaryDir>

#include <atomic>
#include <functional>

#include <gtest/gtest.h>

namespace experiment_fetch_test {

constexpr double kStart = 1'700'000'000.0;
const QString kSDK = QStringLiteral("app_metrics");

class MemoryTimes final : public APMConfigStore {
public:
    QVariant objectForKey(const QString& key) override { return values.value(key); }
    bool setObject(const QVariant& value, const QString& key) override
    {
        if (value.isValid())
            values.insert(key, value);
        else
            values.remove(key);
        return true;
    }
    void clearAllData() override { values.clear(); }
    bool synchronize() override { return true; }
    QHash<QString, QVariant> values;
};

// What the remote configuration does as an observer: it activates new
// snapshots itself and hears of fetch errors.
class Observer final : public APMEExperimentObserverDelegate {
public:
    void clientDidReceiveNewSnapshot(APMEClient&) override { ++newSnapshots; }
    void client(APMEClient&, const APMError* error) override { errors.append(error ? *error : APMError()); }
    int newSnapshots = 0;
    QList<APMError> errors;
};

using Server = fakes::FakeExperimentServer;

Server::Snapshot snapshotOf(const QString& sdk, QList<Server::Experiment> experiments)
{
    return { sdk, std::move(experiments) };
}

class ExperimentFetchTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    fakes::VirtualTime time { kStart };
    Server server;
    MemoryTimes times;
    std::shared_ptr<APMETaskManager> task;
    std::shared_ptr<APMEManager> manager;
    std::shared_ptr<Observer> observer = std::make_shared<Observer>();
    std::shared_ptr<APMExperimentFlagClient> client;

    // Virtual time, the Qt network client, the times in memory, a database
    // in the test's folder; no service address.
    APMETaskManager::Environment localEnvironment()
    {
        APMETaskManager::Environment environment;
        environment.workerQueue = &time;
        environment.clock = &time;
        environment.network = &platform::HttpClient::shared();
        environment.persistedStorage = &times;
        environment.databasePath = dir.filePath(APMEDatabase::kDatabaseName);
        return environment;
    }

    void start(bool withObserver = true)
    {
        APMEExperimentRequestBuilder::Environment facts;
        facts.language = [] { return QStringLiteral("de-de"); };
        facts.bundleIdentifier = [] { return QStringLiteral("org.pravik.app"); };
        facts.isFromAppStore = [] { return false; };
        facts.fallbackDiversionKey = [] { return QStringLiteral("abcde"); };
        APMETaskManager::Environment environment = localEnvironment();
        environment.serviceAddress = server.address();
        environment.requestBuilder = std::make_shared<APMEExperimentRequestBuilder>(facts);
        environment.networkTimeout = 5;
        task = std::make_shared<APMETaskManager>(environment);
        manager = APMEManager::initWithTaskManager(time, task, &time);
        std::shared_ptr<APMExperimentSource> source = manager;
        client = source->registerSDK(kSDK, 102700, {}, { { "feature", 0 } });
        ASSERT_TRUE(client);
        if (withObserver)
            client->setDelegate(observer);
        settle(); // the start: database opened, snapshots loaded, first fetch scheduled
    }

    // Lets the due fetch go out and its reply come back and be handled.
    void fetchAt(double when)
    {
        const int before = server.requestCount();
        time.advance(when - time.now());
        ASSERT_TRUE(server.waitForRequests(before + 1)) << "no request at " << when - kStart;
        ASSERT_TRUE(fakes::FakeHttpServer::waitUntil([&] { return time.pendingCount() > 0; }))
            << "the reply was not handed to the worker queue";
        settle();
    }

    // Lets work go back and forth between the manager's serial queue and the
    // worker queue (which also delivers the observer's notices) until a
    // reply's last consequence has run: reply, pending snapshots on the
    // manager's queue, marks stored on the worker queue, notice.
    void settle()
    {
        for (int round = 0; round < 3; ++round) {
            manager->dispatchSyncOnSerialQueue([] {});
            time.runPending();
        }
    }

    QVariant flag(const QString& name) { return client->objectForKeyedSubscript(name); }
};

} // namespace experiment_fetch_test

using namespace experiment_fetch_test;

TEST_F(ExperimentFetchTest, FetchTimesFollowTheScheduleOfSuccessesAndFailures)
{
    start();
    // The first computation of a process: 10 s after now, or S + 4 h when later.
    EXPECT_EQ(task->scheduledFetchTime(), kStart + 10);
    struct Case {
        double success, failure, expected;
        const char* why;
    };
    const double s = kStart - 3600;
    const Case cases[] = {
        { s, 0, s + 14400, "4 h after the last success" },
        { kStart + 3600, 0, kStart - 3600 + 14400, "a success in the future counts as that far in the past" },
        { s, s + 100, s + 14400 + 1800, "first retry" },
        { s, s + 14400 + 1800, s + 14400 + 1800 + 3600, "second retry" },
        { s, s + 14400 + 63000, s + 14400 + 113400, "sixth retry" },
        { s, s + 14400 + 113400, 0, "retries used up" },
        { 0, kStart + 100, kStart + 1800, "never a success: from the start of the process" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(task->fetchTimeFromLastSuccessfulTimestamp(c.success, c.failure), c.expected) << c.why;
}

TEST_F(ExperimentFetchTest, FetchedSnapshotsWaitAsPendingUntilActivatedThenServeTheirFlags)
{
    server.replyWithSnapshots({ snapshotOf(kSDK, { { 11, { { "feature", 1 } } }, { 0, { { "launched", "yes" } } } }) });
    start();
    fetchAt(kStart + 10);
    EXPECT_TRUE(server.problems().isEmpty()) << server.problems().join("; ").toStdString();
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].platform, "macos");
    EXPECT_EQ(requests[0].clientVersion, 10000);
    ASSERT_EQ(requests[0].clients.size(), 1);
    EXPECT_EQ(requests[0].clients[0].sdkName, kSDK);
    EXPECT_EQ(requests[0].clients[0].diversionKey, "abcde-app_metrics");
    EXPECT_EQ(requests[0].clients[0].version, 102700);

    // Pending, stored with the mark, the observer told: defaults still apply.
    EXPECT_EQ(observer->newSnapshots, 1);
    EXPECT_EQ(flag("feature").toLongLong(), 0);
    EXPECT_TRUE(manager->experimentIDs().isEmpty());
    EXPECT_EQ(times.doubleForKey(APMETaskManager::kSuccessTimestampKey), kStart + 10);
    EXPECT_EQ(task->scheduledFetchTime(), kStart + 10 + 14400);

    ASSERT_TRUE(client->activateLatestSnapshot(nullptr));
    time.runPending(); // the activation reaches the database
    EXPECT_EQ(flag("feature").toLongLong(), 1);
    EXPECT_EQ(flag("launched").toString(), "yes");
    EXPECT_EQ(manager->experimentIDs(), QList<qint64> { 11 });

    // After a restart the stored snapshots are served at once.
    client.reset();
    manager.reset();
    task.reset();
    start();
    EXPECT_EQ(flag("feature").toLongLong(), 1);
    EXPECT_EQ(flag("launched").toString(), "yes");
    // The last success was just now: the next fetch 4 h after it.
    EXPECT_EQ(task->scheduledFetchTime(), kStart + 10 + 14400);
}

TEST_F(ExperimentFetchTest, WithoutAnObserverPendingSnapshotsActivateAtTheNextStart)
{
    server.replyWithSnapshots({}, { { kSDK, 0, snapshotOf("renamed-by-response", { { 5, { { "feature", 2.5 } } } }) } });
    start(false);
    fetchAt(kStart + 10);
    EXPECT_EQ(flag("feature").toLongLong(), 0);
    client.reset();
    manager.reset();
    task.reset();
    start(false);
    EXPECT_EQ(flag("feature").toDouble(), 2.5);
}

TEST_F(ExperimentFetchTest, FailuresRetryAndUnavailableRepliesBackOff)
{
    server.replyWithStatus(500);
    server.replyWithStatus(503);
    start();
    fetchAt(kStart + 10);
    EXPECT_EQ(times.doubleForKey(APMETaskManager::kFailureTimestampKey), kStart + 10);
    EXPECT_EQ(times.doubleForKey(APMETaskManager::kBackoffTimestampKey), 0);
    // Never a success: the first retry 30 min after the process started.
    EXPECT_EQ(task->scheduledFetchTime(), kStart + 1800);
    fetchAt(kStart + 1800);
    EXPECT_EQ(times.doubleForKey(APMETaskManager::kBackoffTimestampKey), kStart + 1800);
    // 503: nothing before 12 h have passed.
    EXPECT_EQ(task->scheduledFetchTime(), kStart + 1800 + 43200);
    EXPECT_EQ(server.requestCount(), 2);
    EXPECT_EQ(flag("feature").toLongLong(), 0);
}

TEST_F(ExperimentFetchTest, UnreadableAnswersKeepEverySnapshotAndTheRegularSchedule)
{
    // Seven unreadable answers in a row (not a message, a broken gzip
    // stream, an empty 204 is readable and so not among them) never stop
    // the fetching: each counts as a success for the schedule.
    server.replyWithSnapshots({ snapshotOf(kSDK, { { 11, { { "feature", 1 } } } }) });
    const QByteArray unreadable[] = { QByteArray("\x0a\xff\x01garbage", 10),
        QByteArray("\x1f\x8b\x08\x00broken gzip", 15) };
    for (int i = 0; i < 7; ++i)
        server.replyWithBody(unreadable[i % 2]);
    server.replyWithSnapshots({ snapshotOf(kSDK, { { 12, { { "feature", 2 } } } }) });
    start();
    fetchAt(kStart + 10);
    ASSERT_TRUE(client->activateLatestSnapshot(nullptr));
    time.runPending();
    ASSERT_EQ(flag("feature").toLongLong(), 1);

    double success = times.doubleForKey(APMETaskManager::kSuccessTimestampKey);
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(task->scheduledFetchTime(), success + 14400);
        fetchAt(success + 14400);
        EXPECT_EQ(flag("feature").toLongLong(), 1);
        EXPECT_EQ(times.doubleForKey(APMETaskManager::kSuccessTimestampKey), success + 14400);
        EXPECT_EQ(times.doubleForKey(APMETaskManager::kFailureTimestampKey), 0);
        success = times.doubleForKey(APMETaskManager::kSuccessTimestampKey);
    }
    EXPECT_EQ(observer->newSnapshots, 1);
    EXPECT_EQ(manager->experimentIDs(), QList<qint64> { 11 });
    // The eighth fetch goes out and its snapshot arrives.
    ASSERT_EQ(task->scheduledFetchTime(), success + 14400);
    fetchAt(success + 14400);
    EXPECT_EQ(observer->newSnapshots, 2);
    EXPECT_EQ(server.requestCount(), 9);
}

TEST_F(ExperimentFetchTest, GzippedRepliesAndPerSDKErrors)
{
    const QByteArray body = Server::encodeResponse({ snapshotOf(kSDK, { { 3, { { "feature", 4 } } } }) },
        { { kSDK, 2, std::nullopt }, { "other", 7, std::nullopt } });
    server.replyWithBody(APMGzip::dataByGzippingData(body, nullptr));
    start();
    fetchAt(kStart + 10);
    // Snapshots come from the first list; the SDK responses still give errors.
    ASSERT_EQ(observer->errors.size(), 1);
    EXPECT_EQ(observer->errors[0].domain(), APMETaskManager::kErrorDomain);
    EXPECT_EQ(observer->errors[0].code(), -3);
    ASSERT_TRUE(client->activateLatestSnapshot(nullptr));
    EXPECT_EQ(flag("feature").toLongLong(), 4);
}

TEST_F(ExperimentFetchTest, AnUnconfiguredAddressFetchesNothing)
{
    APMETaskManager unconfigured(localEnvironment());
    unconfigured.startTaskManager();
    time.advance(20);
    EXPECT_EQ(server.requestCount(), 0);
    EXPECT_EQ(unconfigured.scheduledFetchTime(), 0);
}

TEST(ExperimentServiceAddress, ComesFromTheEnvironmentAndIsEmptyWhenUnusable)
{
    const QByteArray saved = qgetenv(APMETaskManager::kAddressVariable);
    struct Case {
        const char* value;
        const char* expected;
    };
    const Case cases[] = { { "https://exp.example.org", "https://exp.example.org" },
        { " http://127.0.0.1:8080 ", "http://127.0.0.1:8080" }, { "", "" }, { "ftp://exp.example.org", "" },
        { "not an address", "" } };
    for (const Case& c : cases) {
        qputenv(APMETaskManager::kAddressVariable, c.value);
        EXPECT_EQ(APMETaskManager::configuredServiceAddress().toString(), QString::fromLatin1(c.expected)) << c.value;
    }
    if (saved.isNull())
        qunsetenv(APMETaskManager::kAddressVariable);
    else
        qputenv(APMETaskManager::kAddressVariable, saved);
}

namespace experiment_fetch_test {

// Records on which queue the start was reported.
class QueueRecordingDelegate final : public APMETaskManagerDelegate {
public:
    std::function<bool()> onWorkerQueue;
    std::atomic<int> starts { 0 };
    std::atomic<bool> startedOnWorkerQueue { false };

    bool taskManagerShouldFetchExperiments() const override { return true; }
    void taskManagerDidStartWithSnapshots(
        const QList<APMESnapshot>&, const QList<APMESnapshot>&, const QList<APMESnapshot>&) override
    {
        startedOnWorkerQueue = onWorkerQueue();
        ++starts;
    }
    void taskManagerDidFinishFetchingExperimentSnapshotsWithErrors(
        const QList<APMESnapshot>&, const QMap<QString, APMError>&) override
    {
    }
    void taskManagerDidUpsertPendingSnapshots(const QList<APMESnapshot>&) override { }
};

} // namespace experiment_fetch_test

TEST_F(ExperimentFetchTest, WithoutAnInjectedQueueTheTaskRunsOnItsOwnQueueWithItsOwnAlarm)
{
    APMETaskManager::Environment environment = localEnvironment();
    environment.workerQueue = nullptr;
    environment.serviceAddress = server.address();
    auto own = std::make_shared<APMETaskManager>(environment);
    auto* queue = dynamic_cast<platform::SerialQueue*>(&own->workerQueue());
    ASSERT_NE(queue, nullptr);
    EXPECT_EQ(queue->name(), QStringLiteral("APMExperimentWorkerQueue"));
    EXPECT_EQ(own->alarm().name(), QStringLiteral("APMExperimentAlarm"));

    auto delegate = std::make_shared<QueueRecordingDelegate>();
    delegate->onWorkerQueue = [queue] { return queue->isCurrent(); };
    own->setDelegate(delegate);
    own->startTaskManager();
    ASSERT_TRUE(fakes::FakeHttpServer::waitUntil([&] { return delegate->starts.load() == 1; }));
    EXPECT_TRUE(delegate->startedOnWorkerQueue.load());
    // The first fetch waits on the task's own alarm, 10 s after the start.
    queue->sync([] {});
    EXPECT_EQ(own->scheduledFetchTime(), kStart + 10);
    EXPECT_TRUE(own->alarm().hasActiveTimer());
}
