// Start-up of the measurement engine, enabling and disabling, the wipe on a
// changed app ID, and the worker queue's alarm on virtual time.
#include "EngineTestFixture.h"
#include "TestMonitorHarness.h"
#include "ValidatorLogRecorder.h"
#include "analytics/base/APMClassRegistry.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/engine/APMEngineLifecycle.h"
#include "platform/SerialQueue.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>

using namespace engine_test;

namespace {

class EngineStartupTest : public EngineFixture { };

TEST_F(EngineStartupTest, StartCreatesComponentsAndInstallsTheConfiguration)
{
    APMMeasurement& engine = start();
    EXPECT_TRUE(engine.isEnabled());
    EXPECT_TRUE(engine.didInitializeComponents());
    EXPECT_TRUE(QFileInfo::exists(databasePath()));
    ASSERT_NE(engine.remoteConfigInstance(), nullptr);
    // The lower layers (store limits, identity) read the engine's configuration.
    EXPECT_EQ(APMRemoteConfig::engineInstance().get(), engine.remoteConfigInstance());
    EXPECT_EQ(APMMeasurement::remoteConfig().get(), engine.remoteConfigInstance());
    engine_.reset();
    EXPECT_EQ(APMRemoteConfig::engineInstance(), APMRemoteConfig::defaultInstance());
}

TEST_F(EngineStartupTest, TheIdentityReadsTheEnginesConfiguration)
{
    // The configured tracking gate reaches the identity: without tracking
    // authorisation the advertising identifier is not taken.
    for (const bool gate : { false, true }) {
        SCOPED_TRACE(gate);
        engine_.reset();
        identity_.reset();
        QFile::remove(databasePath());
        persisted_ = newPersistedConfig();
        tracking_.setUnavailable();
        start();
        rcfg::ConfigBuilder config;
        config.setting(QStringLiteral("measurement.attmas_gate"), gate ? QStringLiteral("1") : QStringLiteral("0"));
        ASSERT_TRUE(configure(config));
        tracking_.setAvailable(
            QStringLiteral("6D92078A-8246-4BA4-AE5B-76104861E7DC"), platform::TrackingAuthorization::Denied);
        time_.advance(2); // past the identifier cache time
        identity_->updateIdentifiersAndWait();
        EXPECT_EQ(identity_->resettableDeviceID().isEmpty(), gate);
    }
}

TEST_F(EngineStartupTest, EmptyAppIDMakesNoEngine)
{
    identity_ = newIdentity();
    EXPECT_EQ(APMMeasurement::initWithAppID(QString(), true, false, {}, environment()), nullptr);
}

TEST_F(EngineStartupTest, DisabledEngineStoresNothingUntilEnabled)
{
    APMMeasurement& engine = start(QString(), false);
    EXPECT_FALSE(engine.isEnabled());
    EXPECT_FALSE(engine.didInitializeComponents());
    engine.setEnabled(true);
    drain();
    EXPECT_TRUE(engine.isEnabled());
    logEvent(QStringLiteral("button_pressed"));
    EXPECT_EQ(rowCount(APMDatabase::kRawEventsTable), 1);
    engine.setEnabled(false);
    logEvent(QStringLiteral("button_pressed"));
    EXPECT_EQ(rowCount(APMDatabase::kRawEventsTable), 1);
    EXPECT_FALSE(alarmDue().has_value()); // disabling stops the upload alarm
}

TEST_F(EngineStartupTest, PersistedSwitchWinsOverTheAppSettingAndDeactivationWinsOverBoth)
{
    persisted_->setMeasurementEnabledState(1);
    EXPECT_TRUE(start(QString(), false).isEnabled());
    persisted_->setMeasurementEnabledState(2);
    EXPECT_FALSE(start(QString(), true).isEnabled());

    persisted_->setMeasurementEnabledState(1);
    engine_.reset();
    identity_ = newIdentity();
    engine_ = APMMeasurement::initWithAppID(kEngineAppID, true, true, {}, environment());
    drain();
    engine_->setEnabled(true);
    drain();
    EXPECT_FALSE(engine_->isEnabled());
}

TEST_F(EngineStartupTest, ChangedAppIDWipesTheDataAndTheSameOneKeepsIt)
{
    start(QStringLiteral("1:111:linux:aaaa"));
    logEvent(QStringLiteral("kept_event"));
    ASSERT_EQ(rowCount(APMDatabase::kRawEventsTable), 1);
    EXPECT_EQ(persisted_->appIDFromVMP(), QStringLiteral("1:111:linux:aaaa"));

    start(QStringLiteral("1:111:linux:aaaa"));
    EXPECT_EQ(rowCount(APMDatabase::kRawEventsTable), 1);

    start(QStringLiteral("1:222:linux:bbbb"));
    EXPECT_EQ(rowCount(APMDatabase::kRawEventsTable), 0);
    EXPECT_EQ(persisted_->appIDFromVMP(), QStringLiteral("1:222:linux:bbbb"));
}

TEST_F(EngineStartupTest, RawEventsAgeOnTheInjectedClock)
{
    APMMeasurement::Environment e = environment();
    e.collectionURL = QUrl(); // nothing is uploaded: the event can only age
    start(QString(), true, &e);
    logEvent(QStringLiteral("aging_event"));
    time_.advance(27 * 86400);
    start(QString(), true, &e);
    EXPECT_EQ(rowCount(APMDatabase::kRawEventsTable), 1);
    time_.advance(2 * 86400); // past the 28 days a raw event may wait
    start(QString(), true, &e);
    EXPECT_EQ(rowCount(APMDatabase::kRawEventsTable), 0);
}

TEST_F(EngineStartupTest, WipeRule)
{
    APMMeasurement& engine = start();
    struct Case {
        const char* appID;
        const char* vmp;
        const char* adNest;
        const char* persistedVMP;
        const char* persistedAdNest;
        bool wipe;
    };
    const Case cases[] = {
        { "app", "A", "", "A", "", false }, // same Vireo app ID, whatever the AdNest IDs
        { "app", "A", "X", "A", "Y", false },
        { "app", "B", "", "A", "", true },
        { "app", "A", "", "", "N", true }, // AdNest app before, none now
        { "app", "A", "N", "", "N", false },
        { "app", "A", "M", "", "N", true },
        { "app", "", "N", "A", "", true },
        { "", "", "N", "A", "", false },
        { "other", "", "", "", "N", true },
        { "N", "", "", "", "N", false },
        { "app", "", "", "", "", false },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(engine.lifecycle().shouldWipeDataWithAppID(QString::fromLatin1(c.appID), QString::fromLatin1(c.vmp),
                      QString::fromLatin1(c.adNest), QString::fromLatin1(c.persistedVMP),
                      QString::fromLatin1(c.persistedAdNest)),
            c.wipe)
            << c.appID << " " << c.vmp << " " << c.adNest << " " << c.persistedVMP << " " << c.persistedAdNest;
    }
}

TEST_F(EngineStartupTest, WorkerQueueRunsInOrderAndSurvivesAnException)
{
    APMScheduler scheduler(QStringLiteral("engine-startup-test"));
    QStringList order;
    scheduler.scheduleOnWorkerQueueBlockID(QStringLiteral("t:1"), [&] { order.append(QStringLiteral("a")); });
    scheduler.scheduleOnWorkerQueueBlockID(QStringLiteral("t:2"), [] { throw std::runtime_error("boom"); });
    scheduler.scheduleOnWorkerQueueBlockID(QStringLiteral("t:3"), [&] { order.append(QStringLiteral("b")); });
    bool ran = false;
    scheduler.dispatchSyncOnWorkerQueueBlockID(QStringLiteral("t:4"), [&] {
        // A synchronous call from the queue itself runs inline.
        scheduler.dispatchSyncOnWorkerQueueBlockID(QStringLiteral("t:5"), [&] { ran = true; });
    });
    EXPECT_TRUE(ran);
    EXPECT_EQ(order, QStringList({ QStringLiteral("a"), QStringLiteral("b") }));
}

TEST_F(EngineStartupTest, WorkerQueueExceptionsAreLoggedAndTheCallerGoesOn)
{
    ValidatorLogRecorder recorder;
    recorder.clear(); // lines earlier tests left on the monitor's queue
    APMScheduler scheduler(QStringLiteral("engine-startup-test"));
    scheduler.scheduleOnWorkerQueueBlockID(QStringLiteral("t:1"), [] { throw std::runtime_error("async"); });
    scheduler.dispatchSyncOnWorkerQueueBlockID(QStringLiteral("t:2"), [] {});
    EXPECT_TRUE(recorder.hasOnly(APMMonitor::kLevelErrorMonitored, 30000));
    const std::vector<RecordedLine> asyncLines = recorder.lines();
    ASSERT_EQ(asyncLines.size(), 1u);
    EXPECT_TRUE(asyncLines.front().message.contains(QStringLiteral("Block ID=t:1")));
    recorder.clear();
    scheduler.dispatchSyncOnWorkerQueueBlockID(
        QStringLiteral("t:3"), [] { throw std::runtime_error("sync"); });
    // The queue's own line first, then the caller's.
    const std::vector<RecordedLine> syncLines = recorder.lines();
    ASSERT_EQ(syncLines.size(), 2u);
    EXPECT_EQ(syncLines[0].code, 30003);
    EXPECT_EQ(syncLines[1].code, 30004);
    EXPECT_TRUE(recorder.has(APMMonitor::kLevelErrorMonitored, 30003));
    EXPECT_TRUE(recorder.has(APMMonitor::kLevelWarningMonitored, 30004));
    EXPECT_TRUE(syncLines[1].message.contains(QStringLiteral("Block ID=t:3")));
}

TEST_F(EngineStartupTest, AlarmFiresOnceAtTheLastArmingOnVirtualTime)
{
    platform::SerialQueue queue(QStringLiteral("engine-alarm-test"));
    std::unique_ptr<APMAlarm> alarm;
    queue.sync([&] { alarm = std::make_unique<APMAlarm>(queue, time_, time_, QString()); });
    EXPECT_EQ(alarm->name(), QStringLiteral("Timer"));
    std::atomic<int> first { 0 };
    std::atomic<int> second { 0 };
    queue.sync([&] {
        alarm->runAfterDelay(10, [&] { ++first; });
        alarm->runAfterDelay(20, [&] { ++second; });
        alarm->runAfterDelay(5, nullptr); // refused; the pending firing stays
        EXPECT_EQ(alarm->scheduledTimestamp(), time_.now() + 20);
    });
    time_.advance(19);
    EXPECT_EQ(second.load(), 0);
    time_.advance(1);
    EXPECT_EQ(first.load(), 0);
    EXPECT_EQ(second.load(), 1);
    queue.sync([&] {
        EXPECT_FALSE(alarm->scheduledTimestamp().has_value());
        EXPECT_FALSE(alarm->hasActiveTimer());
        // The work may arm the alarm again; cancelling before it is due stops it.
        alarm->runAfterDelay(1, [&] { ++first; });
        alarm->cancel();
    });
    time_.advance(5);
    EXPECT_EQ(first.load(), 0);
    queue.sync([&] { alarm.reset(); });
}

// The machine sleeps: the wall and boot clocks move on, the executor's own
// time (which tasks wait on) does not.
void sleepMachine(fakes::VirtualTime& time, double seconds)
{
    time.jumpWallClock(seconds);
    time.setBootClock(time.monotonic() + seconds);
}

TEST_F(EngineStartupTest, AlarmFiresAtItsWallClockMomentAfterASuspendAndIsNotPostponedByAClockSetBack)
{
    platform::SerialQueue queue(QStringLiteral("engine-alarm-wall-test"));
    std::unique_ptr<APMAlarm> alarm;
    queue.sync([&] { alarm = std::make_unique<APMAlarm>(queue, time_, time_, QStringLiteral("Wall")); });
    std::atomic<int> fired { 0 };
    queue.sync([&] { alarm->runAfterDelay(3600, [&] { ++fired; }); });
    time_.advance(600);
    sleepMachine(time_, 3000);
    // Within a minute of waking: the wall clock is looked at again.
    time_.advance(59);
    EXPECT_EQ(fired.load(), 0);
    time_.advance(1);
    EXPECT_EQ(fired.load(), 1);
    queue.sync([&] {
        EXPECT_FALSE(alarm->scheduledTimestamp().has_value());
        alarm->runAfterDelay(100, [&] { ++fired; });
    });
    time_.jumpWallClock(-86400);
    time_.advance(99);
    EXPECT_EQ(fired.load(), 1);
    time_.advance(1);
    EXPECT_EQ(fired.load(), 2);
    queue.sync([&] { alarm.reset(); });
}

TEST_F(EngineStartupTest, AnUploadWhoseMomentPassedDuringASuspendIsArmedAgain)
{
    start();
    logEvent(QStringLiteral("before_sleep"));
    ASSERT_TRUE(alarmDue().has_value());
    sleepMachine(time_, 7200);
    logEvent(QStringLiteral("after_wake"));
    // Armed again from now rather than kept at a moment already past.
    const std::optional<double> due = alarmDue();
    ASSERT_TRUE(due.has_value());
    EXPECT_GE(*due, time_.now());
    advance(std::max(*due - time_.now(), 0.0));
    EXPECT_EQ(
        acceptedEventNames(), QStringList({ QStringLiteral("before_sleep"), QStringLiteral("after_wake") }));
}

} // namespace

namespace engine_startup_banner_test {

// The lines an engine writes as it is made: which library version it names
// and which launch argument it points to, with and without the public
// interface linked.
TEST_F(EngineStartupTest, TheStartBannerNamesTheLinkedInterface)
{
    struct Case {
        const char* label;
        std::optional<QString> publicInterfaceVersion; // none: not linked
        QString version;
        QString argument;
    };
    const QList<Case> cases {
        { "the library alone", std::nullopt, QStringLiteral("102700000"), QStringLiteral("-APMAnalyticsDebugEnabled") },
        { "the public interface linked", QStringLiteral("10.27.0"), QStringLiteral("10.27.0"),
            QStringLiteral("-BASAnalyticsDebugEnabled") },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        QStringList lines;
        test_monitor::TestMonitorHarness harness { [&lines](int, const QString&, const QString& code,
                                                       const QString& message) { lines.append(code + ' ' + message); } };
        if (c.publicInterfaceVersion)
            APMClassRegistry::registerClassName(QStringLiteral("BASAnalytics"), *c.publicInterfaceVersion);
        APMMeasurement::Environment e = environment();
        e.monitor = harness.monitor.get();
        auto engine = APMMeasurement::initWithAppID(kEngineAppID, true, false, {}, std::move(e));
        engine->dispatchSyncOnWorkerQueue([] { });
        APMClassRegistry::unregisterClassName(QStringLiteral("BASAnalytics"));
        harness.flush();
        const QString all = lines.join('\n');
        EXPECT_TRUE(all.contains(QStringLiteral("Analytics v.%1 started").arg(c.version))) << all.toStdString();
        EXPECT_TRUE(all.contains(c.argument)) << all.toStdString();
        engine.reset();
    }
}

} // namespace engine_startup_banner_test
