// Ad exposure: overlapping exposures of a unit, the one-second threshold,
// flushes on screen changes, the engagement timer and resignation, the unit
// limit, and time that is not exposure (inactive, wall-clock changes).
#include "SessionTestFixture.h"

using namespace session_test;

namespace {

// The reporter alone, with what it logs recorded.
class AdExposureReporterTest : public ::testing::Test {
protected:
    struct Logged {
        QString origin;
        QString name;
        QVariantMap parameters;
    };

    AdExposureReporterTest()
    {
        APMAdExposureReporter::Environment e;
        e.clock = &time_;
        e.notificationCenter = &center_;
        e.isAppActive = [this] { return active_; };
        e.screenParameters = [this] { return screen_; };
        e.logEvent
            = [this](const QString& origin, const QString& name, const QVariantMap& parameters, double) {
                  logged_.append({ origin, name, parameters });
              };
        reporter_ = APMAdExposureReporter::create(std::move(e));
    }

    qint64 exposure(const Logged& event) const
    {
        return event.parameters.value(QStringLiteral("_xt")).value<APMValue>().int64Value();
    }
    QStringList names() const
    {
        QStringList names;
        for (const Logged& event : logged_)
            names.append(event.name);
        return names;
    }
    void begin(const QString& unit)
    {
        reporter_->beginAdUnitExposure(unit);
        reporter_->waitForPendingWork();
    }

    fakes::TempHome home_;
    fakes::VirtualTime time_;
    platform::NotificationCenter center_;
    bool active_ = true;
    QVariantMap screen_ { { QStringLiteral("_si"), QVariant::fromValue(APMValue::initWithInt64(9)) } };
    QList<Logged> logged_;
    std::shared_ptr<APMAdExposureReporter> reporter_;
};

TEST_F(AdExposureReporterTest, OverlappingExposuresOfAUnitEndWithTheLastEnd)
{
    begin(QStringLiteral("banner"));
    time_.advance(1);
    begin(QStringLiteral("banner"));
    time_.advance(2);
    reporter_->endAdUnitExposure(QStringLiteral("banner"));
    EXPECT_TRUE(logged_.isEmpty());
    time_.advance(1.5);
    reporter_->endAdUnitExposure(QStringLiteral("banner"));
    ASSERT_EQ(names(), QStringList({ QStringLiteral("_xu"), QStringLiteral("_xa") }));
    EXPECT_EQ(logged_[0].origin, QStringLiteral("am"));
    EXPECT_EQ(logged_[0].parameters.value(QStringLiteral("_ai")).value<APMValue>().stringValue(),
        QStringLiteral("banner"));
    EXPECT_EQ(exposure(logged_[0]), 4'500);
    EXPECT_EQ(exposure(logged_[1]), 4'500);
    EXPECT_EQ(logged_[0].parameters.value(QStringLiteral("_si")).value<APMValue>().int64Value(), 9);
}

TEST_F(AdExposureReporterTest, ExposureOfUnderASecondIsNotReported)
{
    struct Case {
        double seconds;
        bool reported;
    };
    for (const Case& c : { Case { 0.999, false }, Case { 1.0, true }, Case { 2.5, true } }) {
        SCOPED_TRACE(c.seconds);
        logged_.clear();
        begin(QStringLiteral("video"));
        time_.advance(c.seconds);
        reporter_->endAdUnitExposure(QStringLiteral("video"));
        EXPECT_EQ(logged_.size(), c.reported ? 2 : 0);
    }
}

TEST_F(AdExposureReporterTest, FlushesReportOpenExposuresAndMeasureAgain)
{
    begin(QStringLiteral("a"));
    time_.advance(2);
    begin(QStringLiteral("b"));
    time_.advance(3);
    // The engagement timer fired: both units and the whole so far.
    center_.post(APMSessionReporter::kEngagementTimerDidFireNotification);
    ASSERT_EQ(logged_.size(), 3);
    QMap<QString, qint64> perUnit;
    for (const Logged& event : logged_) {
        if (event.name == QLatin1String("_xu"))
            perUnit.insert(event.parameters.value(QStringLiteral("_ai")).value<APMValue>().stringValue(),
                exposure(event));
    }
    EXPECT_EQ(
        perUnit, (QMap<QString, qint64> { { QStringLiteral("a"), 5'000 }, { QStringLiteral("b"), 3'000 } }));
    EXPECT_EQ(logged_.last().name, QStringLiteral("_xa"));
    EXPECT_EQ(exposure(logged_.last()), 5'000);

    // Measured again from the flush; the screen left behind is named.
    logged_.clear();
    time_.advance(4);
    const APMScreen left(QStringLiteral("Home"), QStringLiteral("HomeWindow"), 41);
    reporter_->handleScreenDidChangeFromScreen(&left, nullptr);
    ASSERT_EQ(logged_.size(), 3);
    for (const Logged& event : logged_) {
        EXPECT_EQ(exposure(event), 4'000);
        EXPECT_EQ(event.parameters.value(QStringLiteral("_si")).value<APMValue>().int64Value(), 41);
        EXPECT_EQ(event.parameters.value(QStringLiteral("_sn")).value<APMValue>().stringValue(),
            QStringLiteral("Home"));
    }

    // A first screen (nothing left behind) flushes nothing.
    logged_.clear();
    time_.advance(4);
    reporter_->handleScreenDidChangeFromScreen(nullptr, &left);
    EXPECT_TRUE(logged_.isEmpty());
}

TEST_F(AdExposureReporterTest, TimeWhileNotActiveIsNotExposure)
{
    begin(QStringLiteral("a"));
    time_.advance(2);
    active_ = false;
    reporter_->handleAppWillResignActiveWithScreen(nullptr);
    EXPECT_TRUE(logged_.isEmpty());
    time_.advance(600); // the user is elsewhere
    active_ = true;
    reporter_->handleAppDidBecomeActive();
    time_.advance(3);
    reporter_->endAdUnitExposure(QStringLiteral("a"));
    ASSERT_EQ(logged_.size(), 2);
    EXPECT_EQ(exposure(logged_[0]), 3'000);
    EXPECT_EQ(exposure(logged_[1]), 3'000);
}

TEST_F(AdExposureReporterTest, WallClockChangesAreNotExposure)
{
    begin(QStringLiteral("a"));
    time_.advance(2);
    time_.jumpWallClock(-3600);
    time_.advance(1);
    reporter_->endAdUnitExposure(QStringLiteral("a"));
    ASSERT_EQ(logged_.size(), 2);
    EXPECT_EQ(exposure(logged_[0]), 3'000);
}

TEST_F(AdExposureReporterTest, RefusedCalls)
{
    reporter_->beginAdUnitExposure(QString());
    reporter_->endAdUnitExposure(QString());
    reporter_->endAdUnitExposure(QStringLiteral("never-begun"));
    for (int unit = 0; unit < APMAdExposureReporter::kMaxAdUnits + 1; ++unit)
        reporter_->beginAdUnitExposure(QStringLiteral("unit-%1").arg(unit));
    reporter_->waitForPendingWork();
    time_.advance(2);
    // The refused unit is unknown; the hundred others are reported.
    reporter_->endAdUnitExposure(QStringLiteral("unit-100"));
    EXPECT_TRUE(logged_.isEmpty());
    reporter_->logExposureEventsWithScreenParameters(screen_);
    EXPECT_EQ(logged_.size(), APMAdExposureReporter::kMaxAdUnits + 1);

    // Switched off: nothing is reported, the measurement still restarts.
    logged_.clear();
    reporter_->setReportingEnabled(false);
    time_.advance(2);
    reporter_->logExposureEventsWithScreenParameters(screen_);
    EXPECT_TRUE(logged_.isEmpty());
}

// Through the engine: the events are stored with their screen.
class AdExposureEngineTest : public SessionFixture { };

TEST_F(AdExposureEngineTest, ExposureEventsAreStoredOnTheCurrentScreen)
{
    launch();
    activate();
    trackScreen(QStringLiteral("Shop"), QStringLiteral("ShopWindow"));
    ads_->beginAdUnitExposure(QStringLiteral("banner"));
    ads_->waitForPendingWork();
    pass(5);
    ads_->endAdUnitExposure(QStringLiteral("banner"));
    settleAll();
    const QList<CollectedEvent> units = eventsNamed(QStringLiteral("_xu"));
    ASSERT_EQ(units.size(), 1);
    EXPECT_EQ(units[0].parameters.value(QStringLiteral("_xt")).toLongLong(), 5'000);
    EXPECT_EQ(units[0].parameters.value(QStringLiteral("_ai")).toString(), QStringLiteral("banner"));
    EXPECT_EQ(units[0].parameters.value(QStringLiteral("_sn")).toString(), QStringLiteral("Shop"));
    EXPECT_EQ(eventsNamed(QStringLiteral("_xa")).size(), 1);
}

} // namespace
