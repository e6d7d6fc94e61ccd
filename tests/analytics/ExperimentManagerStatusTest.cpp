// The experiment manager's view of how current an SDK's activated snapshot
// is, the client's staleness question built on it, and the client version.

#include "analytics/experiments/APMEClient.h"
#include "analytics/experiments/APMEExperimentRequestBuilder.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMESDKProperty.h"
#include "analytics/experiments/APMESnapshot.h"
#include "analytics/base/APMError.h"
#include "analytics/config/APMEExperimentObserverDelegate.h"
#include "platform/Clock.h"
#include "platform/SerialQueue.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

namespace experiment_manager_status_test {

// A clock a test may also set back.
class SettableClock final : public platform::Clock {
public:
    double now() const override { return now_; }
    double monotonic() const override { return 1000.0; }
    double now_ = 1'700'000'000.0;
};

struct StatusFixture {
    SettableClock clock;
    std::shared_ptr<APMEManager> manager = std::make_shared<APMEManager>(clock);
    std::shared_ptr<APMEClient> client
        = manager->registerSDKProperty(std::make_shared<APMESDKProperty>(QStringLiteral("sdk")), {});

    // Delivers a snapshot with one experiment and activates it now.
    void activate()
    {
        APMESnapshot snapshot(QStringLiteral("sdk"));
        snapshot.addFlags({ { QStringLiteral("f"), 1 } }, 7);
        manager->taskManagerDidFinishFetchingExperimentSnapshotsWithErrors({ snapshot }, {});
        APMError error;
        ASSERT_TRUE(manager->activateSnapshotOfSDK(QStringLiteral("sdk"), &error));
    }
};

} // namespace experiment_manager_status_test

using namespace experiment_manager_status_test;

TEST(ExperimentManagerStatus, UnknownAndMissingSnapshots)
{
    StatusFixture f;
    ASSERT_TRUE(f.client);
    EXPECT_EQ(f.manager->activatedSnapshotStatusOfSDKName(QString()), APMEManager::kSnapshotStatusUnknownSDK);
    EXPECT_EQ(f.manager->activatedSnapshotStatusOfSDKName(QStringLiteral("other")),
        APMEManager::kSnapshotStatusUnknownSDK);
    EXPECT_EQ(f.manager->activatedSnapshotStatusOfSDKName(QStringLiteral("sdk")),
        APMEManager::kSnapshotStatusNoSnapshot);
    EXPECT_FALSE(f.client->hasStaleSnapshot());
}

TEST(ExperimentManagerStatus, StaleOnceMoreThanThreeDaysOffEitherWay)
{
    struct Case {
        const char* what;
        double offset; // clock moved after activation
        APMEManager::SnapshotStatus expected;
    };
    const Case cases[] = {
        { "just activated", 0, APMEManager::kSnapshotStatusFresh },
        { "exactly three days later", APMEManager::kStaleSnapshotAge, APMEManager::kSnapshotStatusFresh },
        { "just over three days later", APMEManager::kStaleSnapshotAge + 1, APMEManager::kSnapshotStatusStale },
        { "clock set back three days", -APMEManager::kStaleSnapshotAge, APMEManager::kSnapshotStatusFresh },
        { "clock set back further", -APMEManager::kStaleSnapshotAge - 1, APMEManager::kSnapshotStatusStale },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StatusFixture f;
        f.activate();
        f.clock.now_ += c.offset;
        EXPECT_EQ(f.manager->activatedSnapshotStatusOfSDKName(QStringLiteral("sdk")), c.expected);
        EXPECT_EQ(f.client->hasStaleSnapshot(), c.expected == APMEManager::kSnapshotStatusStale);
    }
}

TEST(ExperimentManagerStatus, SnapshotsWithoutATimeAndThoseLoadedAtStart)
{
    // A clock at the epoch gives the activated snapshot no usable time.
    StatusFixture atEpoch;
    atEpoch.clock.now_ = 0;
    atEpoch.activate();
    EXPECT_EQ(atEpoch.manager->activatedSnapshotStatusOfSDKName(QStringLiteral("sdk")),
        APMEManager::kSnapshotStatusNoSnapshot);

    // A snapshot stored long ago is not stale once loaded: it takes the load time.
    StatusFixture loaded;
    APMESnapshot old(QStringLiteral("sdk"), loaded.clock.now_ - 30 * 86400);
    old.addFlags({ { QStringLiteral("f"), 1 } }, 7);
    loaded.manager->taskManagerDidStartWithSnapshots({ old }, {}, {});
    EXPECT_FALSE(loaded.client->hasStaleSnapshot());
    loaded.clock.now_ += APMEManager::kStaleSnapshotAge + 1;
    EXPECT_TRUE(loaded.client->hasStaleSnapshot());

    // Resetting to defaults drops the activated snapshot.
    loaded.manager->resetToDefaultsOfSDKName(QStringLiteral("sdk"));
    EXPECT_EQ(loaded.manager->activatedSnapshotStatusOfSDKName(QStringLiteral("sdk")),
        APMEManager::kSnapshotStatusNoSnapshot);
}

TEST(ExperimentManagerStatus, ClientVersion)
{
    EXPECT_EQ(APMEManager::version(), 10000);
    EXPECT_EQ(APMEManager::version(), APMEExperimentRequestBuilder::kClientVersion);
    EXPECT_EQ(APMEManager::versionFromVersionString(QStringLiteral("123")), 0);
    EXPECT_EQ(APMEManager::versionFromVersionString(QStringLiteral("1234")), 1);
    EXPECT_EQ(APMEManager::versionFromVersionString(QString()), 0);
}

namespace experiment_manager_status_test {

// Counts the notices it receives.
class CountingObserver final : public APMEExperimentObserverDelegate {
public:
    explicit CountingObserver(std::atomic<int>& notices)
        : notices_(notices)
    {
    }
    void clientDidReceiveNewSnapshot(APMEClient&) override { ++notices_; }

private:
    std::atomic<int>& notices_;
};

} // namespace experiment_manager_status_test

// The client holds its observer weakly; an owner that lets the observer go
// while a stored snapshot is being announced must never leave the manager
// with a null observer to notify.
TEST(ExperimentManagerStatus, AnObserverLetGoWhileSnapshotsAreAnnouncedIsNeverDereferencedWhenGone)
{
    SettableClock clock;
    platform::SerialQueue notices(QStringLiteral("notices"));
    auto manager = std::make_shared<APMEManager>(clock, &notices);
    auto client = manager->registerSDKProperty(std::make_shared<APMESDKProperty>(QStringLiteral("sdk")), {});
    ASSERT_TRUE(client);
    APMESnapshot snapshot(QStringLiteral("sdk"));
    snapshot.addFlags({ { QStringLiteral("f"), 1 } }, 7);

    std::atomic<int> received { 0 };
    std::atomic<bool> done { false };
    std::thread owner([&] {
        while (!done) {
            auto observer = std::make_shared<CountingObserver>(received);
            client->setDelegate(observer);
        } // the only strong reference goes here
    });
    for (int i = 0; i < 20000; ++i)
        manager->taskManagerDidUpsertPendingSnapshots({ snapshot });
    done = true;
    owner.join();
    // Before the observer was locked once, this loop ended in a null
    // dereference within a few thousand rounds.
    notices.sync([] {});
}
