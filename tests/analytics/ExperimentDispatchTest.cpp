// The experiments manager's serial queue: every change of its state and the
// observer calls it makes run there, in the order they were posted; what a
// callback throws is logged and never ends the queue; the manager may be
// let go of on its own queue.

#include "ValidatorLogRecorder.h"
#include "analytics/experiments/APMEClient.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMESDKProperty.h"
#include "analytics/experiments/APMESnapshot.h"
#include "analytics/base/APMError.h"
#include "analytics/config/APMEExperimentObserverDelegate.h"
#include "fakes/VirtualTime.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

namespace experiment_dispatch_test {

// Records what it is told, and on which thread; may be made to throw.
class DispatchObserver final : public APMEExperimentObserverDelegate {
public:
    explicit DispatchObserver(QString tag, platform::Executor* ownQueue = nullptr)
        : tag_(std::move(tag))
        , ownQueue_(ownQueue)
    {
    }

    void clientDidReceiveNewSnapshot(APMEClient& client) override
    {
        record(QStringLiteral("snapshot ") + client.SDKName());
        if (throwOnSnapshot)
            throw std::runtime_error("observer failed on a snapshot");
    }
    void client(APMEClient& client, const APMError* error) override
    {
        record(QStringLiteral("error %1 %2").arg(client.SDKName()).arg(error ? error->code() : -1));
        if (readFlagOnError)
            flagSeenOnError = client.valueForFlag(QStringLiteral("f"));
        if (throwOnError)
            throw std::runtime_error("observer failed on an error");
    }
    platform::Executor* queue() override { return ownQueue_; }

    QStringList calls() const
    {
        QMutexLocker lock(&mutex_);
        return calls_;
    }
    QList<std::thread::id> threads() const
    {
        QMutexLocker lock(&mutex_);
        return threads_;
    }

    bool throwOnSnapshot = false;
    bool throwOnError = false;
    bool readFlagOnError = false;
    QVariant flagSeenOnError;

private:
    void record(const QString& call)
    {
        QMutexLocker lock(&mutex_);
        calls_ << tag_ + QLatin1Char(' ') + call;
        threads_ << std::this_thread::get_id();
    }

    const QString tag_;
    platform::Executor* const ownQueue_;
    mutable QMutex mutex_;
    QStringList calls_;
    QList<std::thread::id> threads_;
};

APMESnapshot dispatchSnapshot(const QString& sdk, qint64 experimentID)
{
    APMESnapshot snapshot(sdk);
    snapshot.addFlags({ { QStringLiteral("f"), experimentID } }, experimentID);
    return snapshot;
}

QMap<QString, APMError> dispatchErrors(const QString& sdk, qint64 code)
{
    return { { sdk, APMError::apm_errorWithCode(code, QStringLiteral("fetch failed")) } };
}

class ExperimentDispatchTest : public ::testing::Test {
protected:
    void SetUp() override { ValidatorLogRecorder::useTestHome(); }

    std::shared_ptr<APMEClient> registerWith(const QString& sdk, const std::shared_ptr<DispatchObserver>& observer)
    {
        auto client = manager->registerSDKProperty(
            std::make_shared<APMESDKProperty>(sdk), { { QStringLiteral("f"), -1 } });
        if (client && observer)
            client->setDelegate(observer);
        return client;
    }

    // Waits for the manager's queue, then runs the notices it posted.
    void settle()
    {
        manager->dispatchSyncOnSerialQueue([] {});
        notices.runPending();
    }

    std::thread::id serialQueueThread()
    {
        std::thread::id id;
        manager->dispatchSyncOnSerialQueue([&] { id = std::this_thread::get_id(); });
        return id;
    }

    fakes::VirtualTime notices;
    std::shared_ptr<APMEManager> manager = std::make_shared<APMEManager>(notices, &notices);
};

} // namespace experiment_dispatch_test

using namespace experiment_dispatch_test;

TEST_F(ExperimentDispatchTest, WhatACallbackThrowsIsLoggedAndTheQueueGoesOn)
{
    ValidatorLogRecorder log;
    struct Case {
        const char* what;
        std::function<void()> throwing;
        bool async;
        qint64 code;
    };
    const Case cases[] = {
        { "standard exception, posted", [] { throw std::runtime_error("boom"); }, true, 800017 },
        { "standard exception, waited for", [] { throw std::logic_error("boom"); }, false, 800018 },
        { "anything else, posted", [] { throw 42; }, true, 800017 },
        { "anything else, waited for", [] { throw QStringLiteral("text"); }, false, 800018 },
    };
    for (const Case& c : cases) {
        log.clear();
        if (c.async)
            manager->dispatchAsyncOnSerialQueue(c.throwing);
        else
            EXPECT_NO_THROW(manager->dispatchSyncOnSerialQueue(c.throwing)) << c.what;
        bool ranAfter = false;
        manager->dispatchAsyncOnSerialQueue([&] { ranAfter = true; });
        manager->dispatchSyncOnSerialQueue([] {});
        EXPECT_TRUE(ranAfter) << c.what;
        EXPECT_TRUE(log.hasOnly(APMMonitor::kLevelErrorMonitored, c.code)) << c.what;
    }
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].message.startsWith(QStringLiteral("Exception on sync Experimentation serial queue")));

    // The manager itself still works.
    const auto client = registerWith(QStringLiteral("sdk"), nullptr);
    ASSERT_TRUE(client);
    EXPECT_EQ(client->valueForFlag(QStringLiteral("f")), QVariant(-1));
}

TEST_F(ExperimentDispatchTest, AThrowingObserverNeitherStopsTheQueueNorLosesTheStoredMarks)
{
    ValidatorLogRecorder log;
    auto failing = std::make_shared<DispatchObserver>(QStringLiteral("failing"));
    failing->throwOnError = true;
    failing->throwOnSnapshot = true;
    auto calm = std::make_shared<DispatchObserver>(QStringLiteral("calm"));
    const auto a = registerWith(QStringLiteral("a"), failing);
    const auto b = registerWith(QStringLiteral("b"), calm);

    // A fetch that brings a snapshot for each and an error for the failing one.
    manager->taskManagerDidFinishFetchingExperimentSnapshotsWithErrors(
        { dispatchSnapshot(QStringLiteral("a"), 1), dispatchSnapshot(QStringLiteral("b"), 2) },
        dispatchErrors(QStringLiteral("a"), 7));
    settle();

    // Both observers heard of their snapshot, though one threw on its own.
    EXPECT_EQ(failing->calls(), (QStringList { QStringLiteral("failing error a 7"), QStringLiteral("failing snapshot a") }));
    EXPECT_EQ(calm->calls(), (QStringList { QStringLiteral("calm snapshot b") }));
    EXPECT_EQ(log.lines().size(), 2u);
    EXPECT_TRUE(log.has(APMMonitor::kLevelErrorMonitored, 800017));

    // Both snapshots wait as pending and activate.
    APMError error;
    EXPECT_TRUE(a->activateLatestSnapshot(&error));
    EXPECT_TRUE(b->activateLatestSnapshot(&error));
    EXPECT_EQ(manager->experimentIDs(), (QList<qint64> { 1, 2 }));
}

TEST_F(ExperimentDispatchTest, ObserversAreCalledInTheOrderTheReportsCame)
{
    auto first = std::make_shared<DispatchObserver>(QStringLiteral("first"));
    auto second = std::make_shared<DispatchObserver>(QStringLiteral("second"));
    registerWith(QStringLiteral("sdk"), first);
    manager->taskManagerDidFinishFetchingExperimentSnapshotsWithErrors({}, dispatchErrors(QStringLiteral("sdk"), 1));
    manager->taskManagerDidFinishFetchingExperimentSnapshotsWithErrors({}, dispatchErrors(QStringLiteral("sdk"), 2));
    // A second registration under the name replaces the first client: the
    // report posted after it goes to the new observer only.
    registerWith(QStringLiteral("sdk"), second);
    manager->taskManagerDidFinishFetchingExperimentSnapshotsWithErrors({}, dispatchErrors(QStringLiteral("sdk"), 3));
    settle();

    EXPECT_EQ(first->calls(), (QStringList { QStringLiteral("first error sdk 1"), QStringLiteral("first error sdk 2") }));
    EXPECT_EQ(second->calls(), (QStringList { QStringLiteral("second error sdk 3") }));
    // Error notices run on the manager's queue, not on the caller's thread.
    const std::thread::id serial = serialQueueThread();
    ASSERT_NE(serial, std::this_thread::get_id());
    for (const std::thread::id& thread : first->threads() + second->threads())
        EXPECT_EQ(thread, serial);
}

TEST_F(ExperimentDispatchTest, NewSnapshotNoticesGoToTheObserversQueueElseTheNoticeQueue)
{
    fakes::VirtualTime own;
    auto withQueue = std::make_shared<DispatchObserver>(QStringLiteral("own"), &own);
    auto withoutQueue = std::make_shared<DispatchObserver>(QStringLiteral("default"));
    registerWith(QStringLiteral("a"), withQueue);
    registerWith(QStringLiteral("b"), withoutQueue);
    manager->taskManagerDidFinishFetchingExperimentSnapshotsWithErrors(
        { dispatchSnapshot(QStringLiteral("a"), 1), dispatchSnapshot(QStringLiteral("b"), 2) }, {});
    manager->dispatchSyncOnSerialQueue([] {});

    // Nothing is delivered until each queue runs.
    EXPECT_TRUE(withQueue->calls().isEmpty());
    EXPECT_TRUE(withoutQueue->calls().isEmpty());
    notices.runPending();
    EXPECT_TRUE(withQueue->calls().isEmpty());
    EXPECT_EQ(withoutQueue->calls(), QStringList { QStringLiteral("default snapshot b") });
    own.runPending();
    EXPECT_EQ(withQueue->calls(), QStringList { QStringLiteral("own snapshot a") });
    EXPECT_EQ(withQueue->threads().value(0), std::this_thread::get_id());
}

TEST_F(ExperimentDispatchTest, AnObserverMayCallTheManagerFromItsQueue)
{
    // A flag read waits for the manager's queue; from an observer call on
    // that queue it must run inline rather than wait for itself.
    auto observer = std::make_shared<DispatchObserver>(QStringLiteral("reader"));
    observer->readFlagOnError = true;
    registerWith(QStringLiteral("sdk"), observer);
    manager->taskManagerDidFinishFetchingExperimentSnapshotsWithErrors({}, dispatchErrors(QStringLiteral("sdk"), 4));
    auto done = std::async(std::launch::async, [this] { manager->dispatchSyncOnSerialQueue([] {}); });
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the queue waits for itself";
    EXPECT_EQ(observer->flagSeenOnError, QVariant(-1));
}

TEST_F(ExperimentDispatchTest, PostedStepsDoNothingOnceTheManagerIsGone)
{
    auto observer = std::make_shared<DispatchObserver>(QStringLiteral("late"));
    registerWith(QStringLiteral("sdk"), observer);
    // Hold the queue until the manager is gone, so the steps below are
    // still waiting then.
    manager->dispatchAsyncOnSerialQueue([weak = std::weak_ptr<APMEManager>(manager)] {
        while (!weak.expired())
            std::this_thread::yield();
    });
    manager->taskManagerDidFinishFetchingExperimentSnapshotsWithErrors(
        { dispatchSnapshot(QStringLiteral("sdk"), 1) }, dispatchErrors(QStringLiteral("sdk"), 2));
    manager->taskManagerDidStartWithSnapshots({ dispatchSnapshot(QStringLiteral("sdk"), 3) }, {}, {});
    manager.reset(); // waits for the queue, whose steps find no manager
    notices.runPending();
    EXPECT_TRUE(observer->calls().isEmpty());
}

TEST_F(ExperimentDispatchTest, TheLastOwnerMayLetGoOnTheManagersOwnQueue)
{
    // The queue cannot wait for its own thread; the manager must still go
    // quietly when its last owner is a task of that queue.
    struct LastOwner {
        std::shared_ptr<APMEManager> manager;
        std::promise<void>* gone = nullptr;
        ~LastOwner()
        {
            manager.reset();
            if (gone)
                gone->set_value();
        }
    };
    std::promise<void> gone;
    auto owner = std::make_shared<LastOwner>();
    owner->manager = std::move(manager);
    owner->gone = &gone;
    APMEManager* raw = owner->manager.get();
    // The queue waits until the test has let go, so the task's copy is the last.
    std::promise<void> release;
    raw->dispatchAsyncOnSerialQueue([released = release.get_future().share()] { released.wait(); });
    raw->dispatchAsyncOnSerialQueue([owner]() mutable { owner.reset(); });
    owner.reset();
    release.set_value();
    EXPECT_EQ(gone.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
}
