// Screen views: "_vs" with the screen and the screen left behind, screen
// parameters on other events, refusals, engagement per screen, and the whole
// road of "_s" and "_e" with their screen to the collection server.
#include "analytics/model/APMScreen.h"
#include "SessionTestFixture.h"
#include "ValidatorLogRecorder.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace session_test;

namespace {

class ScreenViewReporterTest : public SessionFixture {
protected:
    static qint64 intParameter(const CollectedEvent& event, const char* key)
    {
        return event.parameters.value(QString::fromLatin1(key)).toLongLong();
    }
    static QString textParameter(const CollectedEvent& event, const char* key)
    {
        return event.parameters.value(QString::fromLatin1(key)).toString();
    }
};

TEST_F(ScreenViewReporterTest, ScreenViewsCarryTheirScreenAndTheOneLeftBehind)
{
    launch();
    activate();
    trackScreen(QStringLiteral("Home"), QStringLiteral("HomeWindow"),
        { { QStringLiteral("tab"), QStringLiteral("devices") } });
    pass(4);
    trackScreen(QStringLiteral("Settings"), QStringLiteral("SettingsWindow"));

    const QList<CollectedEvent> views = eventsNamed(QStringLiteral("_vs"));
    ASSERT_EQ(views.size(), 2);
    const CollectedEvent& first = views[0];
    EXPECT_EQ(intParameter(first, "_si"), kFirstScreenID + 1);
    EXPECT_EQ(textParameter(first, "_sn"), QStringLiteral("Home"));
    EXPECT_EQ(textParameter(first, "_sc"), QStringLiteral("HomeWindow"));
    EXPECT_EQ(intParameter(first, "_mst"), 1);
    EXPECT_EQ(textParameter(first, "tab"), QStringLiteral("devices"));
    for (const char* absent : { "_pi", "_pc", "_pn", "_et", "screen_name", "screen_class" })
        EXPECT_FALSE(first.parameters.contains(QString::fromLatin1(absent))) << absent;

    const CollectedEvent& second = views[1];
    EXPECT_EQ(intParameter(second, "_si"), kFirstScreenID + 2);
    EXPECT_EQ(textParameter(second, "_sn"), QStringLiteral("Settings"));
    EXPECT_EQ(intParameter(second, "_pi"), kFirstScreenID + 1);
    EXPECT_EQ(textParameter(second, "_pn"), QStringLiteral("Home"));
    EXPECT_EQ(textParameter(second, "_pc"), QStringLiteral("HomeWindow"));
    EXPECT_FALSE(second.parameters.contains(QStringLiteral("tab")));

    // The time on the first screen went into an engagement event of that screen.
    const QList<CollectedEvent> engagement = eventsNamed(QStringLiteral("_e"));
    ASSERT_EQ(engagement.size(), 1);
    EXPECT_EQ(intParameter(engagement[0], "_et"), 4'000);
    EXPECT_EQ(intParameter(engagement[0], "_si"), kFirstScreenID + 1);
    EXPECT_EQ(textParameter(engagement[0], "_sn"), QStringLiteral("Home"));

    // Other events are placed on the current screen.
    const QVariantMap current = screens_->screenParameters();
    EXPECT_EQ(current.value(QStringLiteral("_si")).value<APMValue>().int64Value(), kFirstScreenID + 2);
    EXPECT_EQ(current.value(QStringLiteral("_sc")).value<APMValue>().stringValue(),
        QStringLiteral("SettingsWindow"));
}

TEST_F(ScreenViewReporterTest, ScreensWithoutNameOrClassAndQuickChanges)
{
    launch();
    activate();
    trackScreen(QString(), QString());
    trackScreen(QStringLiteral("Chat"), QString()); // at once: no engagement of under a second
    const QList<CollectedEvent> views = eventsNamed(QStringLiteral("_vs"));
    ASSERT_EQ(views.size(), 2);
    EXPECT_EQ(intParameter(views[0], "_si"), kFirstScreenID + 1);
    EXPECT_FALSE(views[0].parameters.contains(QStringLiteral("_sn")));
    EXPECT_FALSE(views[0].parameters.contains(QStringLiteral("_sc")));
    EXPECT_EQ(intParameter(views[1], "_pi"), kFirstScreenID + 1);
    EXPECT_FALSE(views[1].parameters.contains(QStringLiteral("_pn")));
    EXPECT_EQ(textParameter(views[1], "_sn"), QStringLiteral("Chat"));
    EXPECT_TRUE(eventsNamed(QStringLiteral("_e")).isEmpty());
    // Screens come only from screen views; none is discovered on its own.
    EXPECT_FALSE(APMAutomaticScreenReportingEnabled());
}

TEST_F(ScreenViewReporterTest, UnusableNamesAndClassesAreRefused)
{
    struct Case {
        const char* what;
        QVariant name;
        QVariant className;
        qint64 code;
    };
    const Case cases[] = {
        { "empty name", QString(QLatin1String("")), QStringLiteral("HomeWindow"), 31027 },
        { "name too long", QString(101, u'n'), QVariant(), 31027 },
        { "class not text", QStringLiteral("Home"), qint64(7), 31028 },
        { "class too long", QVariant(), QString(101, u'c'), 31028 },
    };
    launch();
    activate();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ValidatorLogRecorder recorder;
        QVariantMap parameters;
        if (c.name.isValid())
            parameters.insert(QStringLiteral("screen_name"), c.name);
        if (c.className.isValid())
            parameters.insert(QStringLiteral("screen_class"), c.className);
        screens_->trackScreenWithParameters(parameters, time_.now());
        settleAll();
        EXPECT_TRUE(eventsNamed(QStringLiteral("_vs")).isEmpty());
        EXPECT_TRUE(screens_->screenParameters().isEmpty());
        bool logged = false;
        for (const RecordedLine& line : recorder.lines())
            logged = logged || line.code == c.code;
        EXPECT_TRUE(logged);
    }
}

TEST_F(ScreenViewReporterTest, ResigningActiveKeepsTheScreenAndScreenViews)
{
    launch();
    // Before the first activation screen views are taken.
    trackScreen(QStringLiteral("Home"), QStringLiteral("HomeWindow"));
    EXPECT_EQ(eventsNamed(QStringLiteral("_vs")).size(), 1);
    activate();
    EXPECT_FALSE(screens_->screenParameters().isEmpty());

    // The user goes to another application: the screen stays, and a screen
    // view is still taken.
    resign();
    EXPECT_TRUE(screens_->isAppActive());
    EXPECT_FALSE(screens_->isInForeground());
    EXPECT_EQ(screens_->screenParameters().value(QStringLiteral("_sn")).value<APMValue>().stringValue(),
        QStringLiteral("Home"));
    {
        ValidatorLogRecorder recorder;
        trackScreen(QStringLiteral("Settings"), QStringLiteral("SettingsWindow"));
        for (const RecordedLine& line : recorder.lines())
            EXPECT_NE(line.code, 31026);
    }
    EXPECT_EQ(eventsNamed(QStringLiteral("_vs")).size(), 2);
    EXPECT_EQ(screens_->screenParameters().value(QStringLiteral("_sn")).value<APMValue>().stringValue(),
        QStringLiteral("Settings"));
}

TEST_F(ScreenViewReporterTest, EfficientEngagementRidesOnTheScreenView)
{
    launch();
    configureSettings({ { QStringLiteral("measurement.collection.efficient_engagement_reporting_enabled"),
        QStringLiteral("1") } });
    activate();
    trackScreen(QStringLiteral("Home"), QStringLiteral("HomeWindow"));
    pass(6);
    trackScreen(QStringLiteral("Settings"), QStringLiteral("SettingsWindow"));
    pass(2);
    resign();

    const QList<CollectedEvent> views = eventsNamed(QStringLiteral("_vs"));
    ASSERT_EQ(views.size(), 2);
    EXPECT_EQ(intParameter(views[1], "_et"), 6'000);
    // The screen change's own "_e" is marked as already counted; the
    // resignation's is not, and counts only the time since the screen view.
    const QList<CollectedEvent> engagement = eventsNamed(QStringLiteral("_e"));
    ASSERT_EQ(engagement.size(), 2);
    EXPECT_EQ(intParameter(engagement[0], "_fr"), 1);
    EXPECT_EQ(intParameter(engagement[1], "_et"), 2'000);
    EXPECT_FALSE(engagement[1].parameters.contains(QStringLiteral("_fr")));
}

TEST_F(ScreenViewReporterTest, SessionAndEngagementReachTheCollectionServerWithTheirScreen)
{
    launch();
    trackScreen(QStringLiteral("Home"), QStringLiteral("HomeWindow"));
    activate();
    pass(3600 + 1); // the engagement timer
    resign();
    uploadEverything();

    QList<CollectedEvent> sessionStarts;
    QList<CollectedEvent> engagement;
    for (const CollectedEvent& event : server_.acceptedEvents()) {
        if (event.name == QLatin1String("_s"))
            sessionStarts.append(event);
        if (event.name == QLatin1String("_e"))
            engagement.append(event);
    }
    ASSERT_EQ(sessionStarts.size(), 1);
    EXPECT_EQ(intParameter(sessionStarts[0], "_si"), kFirstScreenID + 1);
    EXPECT_EQ(textParameter(sessionStarts[0], "_sn"), QStringLiteral("Home"));
    EXPECT_EQ(textParameter(sessionStarts[0], "_sc"), QStringLiteral("HomeWindow"));
    EXPECT_EQ(intParameter(sessionStarts[0], "_sno"), 1);
    ASSERT_EQ(engagement.size(), 2);
    EXPECT_EQ(intParameter(engagement[0], "_et"), 3'600'000);
    EXPECT_EQ(intParameter(engagement[1], "_et"), 1'000);
    for (const CollectedEvent& event : engagement) {
        EXPECT_EQ(intParameter(event, "_si"), kFirstScreenID + 1);
        EXPECT_EQ(textParameter(event, "_sn"), QStringLiteral("Home"));
    }
    // The session's properties travel with the bundles.
    bool sawSessionNumber = false;
    for (const auto& batch : server_.batches()) {
        for (const auto& bundle : batch.bundles)
            sawSessionNumber
                = sawSessionNumber || bundle.userProperties.value(QStringLiteral("_sno")).toLongLong() == 1;
    }
    EXPECT_TRUE(sawSessionNumber);
    for (const auto& batch : server_.batches())
        EXPECT_TRUE(batch.problems.isEmpty()) << batch.problems.join(u'\n').toStdString();
}

TEST_F(ScreenViewReporterTest, TheLastOwnerLettingGoDuringQueuedWorkWaitsForIt)
{
    // The owner lets go while a screen view is being logged on the
    // reporter's queue: the destructor must run on the owner's thread and
    // wait for that work, not on the queue's own thread (which cannot join
    // itself).
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    platform::NotificationCenter center;
    APMScreenViewReporter::Environment e;
    e.clock = &time_;
    e.notificationCenter = &center;
    e.sessionReporter = [] { return nullptr; };
    e.adExposureReporter = [] { return nullptr; };
    e.logEvent = [&entered, released](const QString&, const QString&, const QVariantMap&, double) {
        entered.set_value();
        released.wait();
    };
    std::shared_ptr<APMScreenViewReporter> reporter = APMScreenViewReporter::create(std::move(e));
    center.post(platform::ApplicationStateNotifier::kDidBecomeActive);
    reporter->trackScreenWithParameters(
        { { QStringLiteral("screen_name"), QStringLiteral("Home") } }, time_.now());
    entered.get_future().wait();

    std::atomic<bool> gone { false };
    std::thread owner([&] {
        reporter.reset();
        gone = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(gone.load()) << "the owner's release did not wait for the queued work";
    release.set_value();
    owner.join();
    EXPECT_TRUE(gone.load());
}

TEST_F(ScreenViewReporterTest, TheLaunchHookBringsTheSharedReporterToLife)
{
    platform::NotificationCenter launchCenter;
    APMMeasurement::subscribeForAppDidFinishLaunchingNotifications(launchCenter);
    launchCenter.post(platform::ApplicationStateNotifier::kDidFinishLaunching);
    // From now on the shared reporter hears the application's state.
    platform::NotificationCenter::defaultCenter().post(platform::ApplicationStateNotifier::kDidBecomeActive);
    EXPECT_TRUE(APMScreenViewReporter::sharedInstance().isAppActive());
    EXPECT_TRUE(APMScreenViewReporter::sharedInstance().isInForeground());
    platform::NotificationCenter::defaultCenter().post(platform::ApplicationStateNotifier::kWillResignActive);
    EXPECT_TRUE(APMScreenViewReporter::sharedInstance().isAppActive());
    EXPECT_FALSE(APMScreenViewReporter::sharedInstance().isInForeground());
}

} // namespace
