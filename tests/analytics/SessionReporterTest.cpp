// Sessions and engagement through the engine: session starts and numbers,
// expiry, the engagement timer, the app-backgrounded event, sessions of
// events logged in the background, and time that must never count twice or
// below zero (wall-clock changes, a reboot's lower boot clock, time away).
#include "SessionTestFixture.h"

#include <atomic>
#include <cmath>
#include <filesystem>
#include <thread>
#include <vector>

using namespace session_test;

namespace {

const QString kTimeout = QStringLiteral("measurement.session.default_timeout_interval");
const QString kEfficient = QStringLiteral("measurement.collection.efficient_engagement_reporting_enabled");
const QString kRemoval = QStringLiteral("measurement.collection.redundant_engagement_removal_enabled");
const QString kBackgrounded = QStringLiteral("measurement.lifecycle.app_backgrounded_tracking");

class SessionReporterTest : public SessionFixture { };

TEST_F(SessionReporterTest, ActivationStartsNumberedSessionsThatExpireAfterTheTimeout)
{
    launch();
    const double firstStart = time_.now();
    activate();
    auto starts = eventsNamed(QStringLiteral("_s"));
    ASSERT_EQ(starts.size(), 1);
    EXPECT_EQ(starts[0].parameters.value(QStringLiteral("_sid")).toLongLong(), qint64(firstStart));
    EXPECT_EQ(starts[0].parameters.value(QStringLiteral("_sno")).toLongLong(), 1);
    EXPECT_EQ(userProperty(QStringLiteral("_sid")), qint64(firstStart));
    EXPECT_EQ(userProperty(QStringLiteral("_sno")), 1);

    // Away for less than the time-out: the same session goes on.
    resign();
    pass(29 * 60);
    activate();
    EXPECT_EQ(eventsNamed(QStringLiteral("_s")).size(), 1);

    // Away for longer: a new session with the next number.
    resign();
    pass(31 * 60);
    const double secondStart = time_.now();
    activate();
    starts = eventsNamed(QStringLiteral("_s"));
    ASSERT_EQ(starts.size(), 2);
    EXPECT_EQ(starts[1].parameters.value(QStringLiteral("_sno")).toLongLong(), 2);
    EXPECT_EQ(userProperty(QStringLiteral("_sid")), qint64(secondStart));
    EXPECT_EQ(userProperty(QStringLiteral("_sno")), 2);
}

TEST_F(SessionReporterTest, SwitchedOffMeasurementStartsNoSessions)
{
    launch();
    activate();
    resign();
    engine_->setEnabled(false);
    drain();
    pass(31 * 60);
    activate();
    EXPECT_FALSE(reporter().isReportingEnabled());
    EXPECT_EQ(persisted_->sessionNumber(), 1); // no number was used up
    EXPECT_EQ(userProperty(QStringLiteral("_sno")), 1);

    engine_->setEnabled(true);
    drain();
    resign();
    pass(31 * 60);
    activate();
    EXPECT_EQ(persisted_->sessionNumber(), 2);
    EXPECT_EQ(eventsNamed(QStringLiteral("_s")).size(), 2);
}

TEST_F(SessionReporterTest, TenHoursOfUseGiveHourlyEngagementOfAtMostAnHour)
{
    launch();
    activate();
    pass(10 * 3600 + 5);
    const QList<qint64> times = engagementTimes();
    ASSERT_EQ(times.size(), 10);
    for (qint64 ms : times)
        EXPECT_EQ(ms, 3'600'000);
    // The session lived on through the timer's engagement.
    EXPECT_EQ(eventsNamed(QStringLiteral("_s")).size(), 1);
}

TEST_F(SessionReporterTest, AWallClockMovedByMoreThanTheTimeoutEndsTheSessionButIsNoEngagement)
{
    struct Case {
        const char* what;
        double jump;
        bool expired;
    };
    const Case cases[] = { { "set forward two hours", 7200, true }, { "set back two hours", -7200, true },
        { "set back a day", -86400, true }, { "set back ten minutes", -600, false },
        { "set forward ten minutes", 600, false } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        launch();
        activate();
        const qsizetype engagedBefore = engagementTimes().size();
        pass(20);
        time_.jumpWallClock(c.jump);
        EXPECT_EQ(reporter().isSessionExpired(), c.expired);
        pass(40);
        resign();
        // However the engagement is cut, it adds up to the time in front.
        qint64 engaged = 0;
        for (const qint64 ms : engagementTimes().mid(engagedBefore))
            engaged += ms;
        EXPECT_EQ(engaged, 60'000);
    }
}

TEST_F(SessionReporterTest, TimeAsleepEndsTheSession)
{
    // Asleep, nothing runs: the wall and boot clocks move on, the executor's
    // own time does not.
    launch();
    activate();
    resign();
    time_.jumpWallClock(31 * 60);
    time_.setBootClock(time_.monotonic() + 31 * 60);
    EXPECT_TRUE(reporter().isSessionExpired());
}

// A reboot between two runs: the wall clock moved on, the boot clock starts
// again near 0, below the first run's readings.
TEST_F(SessionReporterTest, ARestartAfterARebootKeepsOrEndsTheSessionByTheTimeAway)
{
    struct Case {
        const char* what;
        double away;
        bool expired;
        qint64 lastNumber; // of the last "_s"
        int starts;
    };
    const Case cases[]
        = { { "within the time-out", 10 * 60, false, 1, 1 }, { "past the time-out", 40 * 60, true, 2, 2 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        persisted_ = newPersistedConfig();
        launch();
        // The collection server keeps what earlier cases uploaded.
        const qsizetype startsBefore = eventsNamed(QStringLiteral("_s")).size();
        const qsizetype engagedBefore = engagementTimes().size();
        time_.setBootClock(50'000);
        activate();
        pass(30);
        resign();
        time_.jumpWallClock(c.away);
        time_.setBootClock(12);
        launch();
        EXPECT_EQ(reporter().isSessionExpired(), c.expired);
        activate();
        pass(7);
        resign();
        const QList<CollectedEvent> starts = eventsNamed(QStringLiteral("_s"));
        ASSERT_EQ(starts.size() - startsBefore, c.starts);
        EXPECT_EQ(starts.last().parameters.value(QStringLiteral("_sno")).toLongLong(), c.lastNumber);
        EXPECT_EQ(engagementTimes().mid(engagedBefore), QList<qint64>({ 30'000, 7'000 }));
        engine_.reset();
        identity_.reset();
        std::filesystem::remove(databasePath().toStdString());
    }
}

TEST_F(SessionReporterTest, AStoredLastActivityThatIsNoNumberCountsAsExpired)
{
    persisted_->setLastSessionActivityClockTime(std::nan(""));
    launch();
    EXPECT_TRUE(reporter().isSessionExpired());
    activate();
    EXPECT_EQ(eventsNamed(QStringLiteral("_s")).size(), 1);
    EXPECT_FALSE(reporter().isSessionExpired());
}

TEST_F(SessionReporterTest, WithReportingOffActivationArmsNoEngagementTimer)
{
    launch();
    activate();
    resign();
    engine_->setEnabled(false);
    drain();
    const qsizetype engaged = engagementTimes().size();
    activate();
    EXPECT_FALSE(reporter().hasPendingEngagementTimer());
    pass(2 * 3600);
    EXPECT_EQ(engagementTimes().size(), engaged);

    // Reporting on again while active arms it again.
    engine_->setEnabled(true);
    drain();
    time_.runPending();
    EXPECT_TRUE(reporter().hasPendingEngagementTimer());
}

TEST_F(SessionReporterTest, OnlyOneOfSimultaneousStartsOfAnExpiredSessionStartsOne)
{
    // Activation on the main thread and the engine's worker queue may ask at
    // the same moment; the check and the start are one step. (Threads racing
    // for the reporter; no interleaving is forced, so this catches a split
    // check and start only by chance.)
    launch();
    activate();
    resign();
    pass(31 * 60);
    const qint64 before = persisted_->sessionNumber();
    std::atomic<int> started { 0 };
    std::atomic<bool> go { false };
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            while (!go.load()) { }
            if (reporter().startNewSessionIfExpired())
                ++started;
        });
    }
    go = true;
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(started.load(), 1);
    EXPECT_EQ(persisted_->sessionNumber(), before + 1);
    EXPECT_FALSE(reporter().startNewSessionIfExpired());
}

TEST_F(SessionReporterTest, TimeSpentInOtherApplicationsIsNotEngagement)
{
    launch();
    activate();
    trackScreen(QStringLiteral("Home"), QStringLiteral("HomeWindow"));
    pass(5);
    resign();
    pass(20 * 60);
    // A screen view while the user is elsewhere is taken, but no engagement
    // of the time away rides on it.
    trackScreen(QStringLiteral("Settings"), QStringLiteral("SettingsWindow"));
    activate();
    pass(3);
    resign();
    EXPECT_EQ(engagementTimes(), QList<qint64>({ 5'000, 3'000 }));
    EXPECT_EQ(eventsNamed(QStringLiteral("_vs")).size(), 2);
}

TEST_F(SessionReporterTest, ResigningActiveInEachEngagementMode)
{
    struct Case {
        const char* what;
        bool efficient, removal, backgrounded;
        QStringList names; // events of the resignation, in order
        bool firstRunMark; // the "_e" carries "_fr" = 1
        bool backgroundTime; // the "_ab" carries "_et"
    };
    const Case cases[] = {
        { "ordinary", false, false, false, { "_e" }, false, false },
        { "ordinary, backgrounded", false, false, true, { "_e", "_ab" }, false, false },
        { "efficient, backgrounded", true, false, true, { "_e", "_ab" }, true, true },
        { "efficient, backgrounded, redundant removed", true, true, true, { "_ab" }, false, true },
        { "efficient without backgrounded", true, true, false, { "_e" }, false, false },
    };
    const auto flag = [](bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        persisted_ = newPersistedConfig();
        launch();
        configureSettings({ { kEfficient, flag(c.efficient) }, { kRemoval, flag(c.removal) },
            { kBackgrounded, flag(c.backgrounded) } });
        activate();
        const qsizetype before = events().size();
        pass(12);
        resign();
        const QList<CollectedEvent> all = events();
        QStringList names;
        for (qsizetype i = before; i < all.size(); ++i)
            names.append(all[i].name);
        EXPECT_EQ(names, c.names);
        for (qsizetype i = before; i < all.size(); ++i) {
            const CollectedEvent& event = all[i];
            if (event.name == QLatin1String("_e")) {
                EXPECT_EQ(event.parameters.value(QStringLiteral("_et")).toLongLong(), 12'000);
                EXPECT_EQ(event.parameters.contains(QStringLiteral("_fr")), c.firstRunMark);
            } else {
                EXPECT_EQ(event.parameters.contains(QStringLiteral("_et")), c.backgroundTime);
                if (c.backgroundTime) {
                    EXPECT_EQ(event.parameters.value(QStringLiteral("_et")).toLongLong(), 12'000);
                }
            }
        }
        engine_.reset();
        identity_.reset();
        std::filesystem::remove(databasePath().toStdString());
    }
}

TEST_F(SessionReporterTest, TimeoutSettings)
{
    launch();
    activate();
    struct Case {
        double timeout;
        double stored;
        double idle;
        bool expired;
    };
    const Case cases[] = { { 0, 0, 0, false }, { 0, 0, 1, true }, { -5, 0, 1, true },
        { 120, 120, 119, false }, { 120, 120, 121, true } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.timeout);
        engine_->setSessionTimeoutInterval(c.timeout);
        drain();
        EXPECT_EQ(reporter().timeoutSessionInterval(), c.stored);
        engine_->dispatchSyncOnWorkerQueue([&] { reporter().updatePropertiesForNewSessionStart(); });
        time_.advance(c.idle);
        EXPECT_EQ(reporter().isSessionExpired(), c.expired);
    }
}

TEST_F(SessionReporterTest, EventsInTheBackgroundStartOrExtendSessionsWhenAsked)
{
    launch();
    activate();
    resign();
    pass(31 * 60);
    ASSERT_TRUE(reporter().isSessionExpired());
    ASSERT_TRUE(userProperty(QStringLiteral("_sid")).has_value());

    // An ordinary background event ends the expired session's properties.
    logEvent(QStringLiteral("sync_done"));
    EXPECT_FALSE(userProperty(QStringLiteral("_sid")).has_value());
    EXPECT_FALSE(userProperty(QStringLiteral("_sno")).has_value());

    // A malformed request changes nothing.
    logEvent(QStringLiteral("sync_done"), { { QStringLiteral("extend_session"), QStringLiteral("yes") } });
    EXPECT_EQ(eventsNamed(QStringLiteral("_s")).size(), 1);

    // Asked for, a session starts in the background, marked so.
    logEvent(QStringLiteral("sync_done"), { { QStringLiteral("extend_session"), qint64(1) } });
    const QList<CollectedEvent> starts = eventsNamed(QStringLiteral("_s"));
    ASSERT_EQ(starts.size(), 2);
    EXPECT_EQ(starts[1].parameters.value(QStringLiteral("_aib")).toLongLong(), 1);
    EXPECT_EQ(starts[1].parameters.value(QStringLiteral("_sno")).toLongLong(), 2);
    EXPECT_EQ(userProperty(QStringLiteral("_sno")), 2);

    // Later requests keep it alive instead of starting another.
    pass(20 * 60);
    logEvent(QStringLiteral("sync_done"), { { QStringLiteral("extend_session"), qint64(1) } });
    pass(20 * 60);
    EXPECT_FALSE(reporter().isSessionExpired());
    logEvent(QStringLiteral("sync_done"));
    EXPECT_EQ(eventsNamed(QStringLiteral("_s")).size(), 2);
    EXPECT_EQ(userProperty(QStringLiteral("_sno")), 2);
}

TEST_F(SessionReporterTest, FirstOpenAndItsEngagementCarryTheScreenOfTheirSessionStartAlsoAfterAReset)
{
    // The application is on its first screen before measurement starts.
    center_.post(platform::ApplicationStateNotifier::kDidBecomeActive);
    screens_->trackScreenWithParameters(
        { { QStringLiteral("screen_name"), QStringLiteral("Home") }, { QStringLiteral("screen_class"), QStringLiteral("HomeWindow") } },
        time_.now());
    screens_->waitForPendingWork();
    time_.runPending();
    APMMeasurement::Environment e = sessionEnvironment();
    e.reportsLifecycleAtStart = true;
    start(QString(), true, &e);
    time_.runPending();
    drain(); // the start's reports post their events behind it
    drain();
    const auto checkScreens = [&](const QStringList& names) {
        for (const QString& name : names) {
            SCOPED_TRACE(qPrintable(name));
            const QList<CollectedEvent> named = eventsNamed(name);
            ASSERT_EQ(named.size(), 1);
            EXPECT_EQ(named[0].parameters.value(QStringLiteral("_sn")).toString(), QStringLiteral("Home"));
            EXPECT_EQ(
                named[0].parameters.value(QStringLiteral("_sc")).toString(), QStringLiteral("HomeWindow"));
            EXPECT_TRUE(named[0].parameters.contains(QStringLiteral("_si")));
        }
    };
    {
        SCOPED_TRACE("first launch");
        checkScreens({ QStringLiteral("_f"), QStringLiteral("_e"), QStringLiteral("_s") });
    }
    ASSERT_TRUE(
        engine_->resetAnalyticsDataWithAppInstanceID(QStringLiteral("0123456789abcdef0123456789abcdef")));
    drain();
    drain();
    {
        SCOPED_TRACE("after a data reset");
        checkScreens({ QStringLiteral("_f"), QStringLiteral("_e") });
    }
}

TEST_F(SessionReporterTest, TheEnginesSessionStartEvent)
{
    const QVariantMap screen { { QStringLiteral("_si"), QVariant::fromValue(APMValue::initWithInt64(7)) } };
    for (const bool inBackground : { true, false }) {
        SCOPED_TRACE(inBackground);
        const auto event = APMSessionStartEvent(4, inBackground, 1'700'000'123.9, screen);
        ASSERT_TRUE(event.has_value());
        EXPECT_EQ(event->name(), QStringLiteral("_s"));
        EXPECT_EQ(event->origin(), QStringLiteral("auto"));
        EXPECT_EQ(event->parameters().contains(QStringLiteral("_aib")), inBackground);
        EXPECT_EQ(event->parameters().contains(QStringLiteral("_si")), !inBackground);
        EXPECT_EQ(event->parameters().value(QStringLiteral("_sid")).int64Value(), 1'700'000'123);
        EXPECT_EQ(event->parameters().value(QStringLiteral("_sno")).int64Value(), 4);
    }
}

} // namespace
