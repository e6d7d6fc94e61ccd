// The front end over the engine's pieces: screen views and the current
// screen, user data, opened links, the session timeout, data reset, the
// personalized-ads property, store purchases, and the engine's defaults that
// lead back to the front end.
#include "FrontEndTestFixture.h"
#include "ValidatorLogRecorder.h"
#include "analytics/base/APMUserActivity.h"
#include "analytics/engine/APMOnDeviceConversion.h"
#include "analytics/reporters/APMInAppPurchaseTransactionReporter.h"
#include "analytics/reporters/APMScreenViewReporter.h"
#include "analytics/reporters/APMSessionReporter.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/interface/BASAnalytics.h"
#include "fakes/FakeAppStore.h"

#include <QUrl>

using namespace front_end_test;

namespace front_end_wiring_test {

struct ReportedPurchase {
    QString origin;
    QString name;
    QVariantMap parameters;
};

class FrontEndWiringTest : public FrontEndFixture {
protected:
    FrontEndWiringTest()
    {
        APMScreenViewReporter::Environment screens;
        screens.clock = &time_;
        screens.notificationCenter = &screenCenter_;
        screens.sessionReporter = [] { return std::shared_ptr<APMSessionReporter>(); };
        screens.adExposureReporter = [] { return static_cast<APMAdExposureReporter*>(nullptr); };
        // No logger given: the reporter's default, which leads to the front end.
        screens.firstInstanceID = kFirstScreen;
        screens_ = APMScreenViewReporter::create(std::move(screens));

        APMInAppPurchaseTransactionReporter::Environment purchases;
        purchases.store = &store_;
        purchases.queue = [this](std::function<void()> task) { purchaseQueue_.async(std::move(task)); };
        purchases.clock = &time_;
        purchases.monitor = &APMMeasurement::monitor();
        purchases.receipt = [] { return std::optional<QByteArray>(); };
        purchases.isSandbox = [] { return false; };
        purchases.logEvent
            = [this](const QString& origin, const QString& name, const QVariantMap& parameters, double) {
                  QMutexLocker lock(&logMutex_);
                  purchases_.push_back({ origin, name, parameters });
              };
        purchaseReporter_ = std::make_unique<APMInAppPurchaseTransactionReporter>(std::move(purchases));
        store_.addProduct({ QStringLiteral("coins"), QStringLiteral("0.99"), QStringLiteral("EUR"),
            QStringLiteral("Coins"), std::nullopt });

        APMAnalytics::Environment e = frontEndEnvironment();
        e.screenViewReporter = screens_;
        e.purchaseReporter = purchaseReporter_.get();
        e.store = &store_;
        APMAnalytics::resetForTesting(e);
    }

    ~FrontEndWiringTest() override
    {
        drain();
        screens_->waitForPendingWork();
        // The front end lets go of the store and the reporters while they exist.
        APMAnalytics::resetForTesting(frontEndEnvironment());
        purchaseQueue_.runPending();
    }

    const HeardEvent* heardEvent(const QString& name)
    {
        heardCopy_ = heard();
        for (const HeardEvent& event : heardCopy_) {
            if (event.name == name)
                return &event;
        }
        return nullptr;
    }

    // Runs the purchase reporter's work until nothing is left.
    std::vector<ReportedPurchase> reportedPurchases()
    {
        for (int round = 0; round < 3; ++round) {
            drain();
            purchaseQueue_.runPending();
        }
        QMutexLocker lock(&logMutex_);
        return purchases_;
    }

    static platform::StorePaymentTransaction purchased(const QString& id)
    {
        platform::StorePaymentTransaction t;
        t.state = platform::StorePaymentTransaction::State::Purchased;
        t.productIdentifier = QStringLiteral("coins");
        t.transactionIdentifier = id;
        t.transactionDate = 1'700'000'000;
        return t;
    }

    static constexpr qint64 kFirstScreen = 500;

    platform::NotificationCenter screenCenter_;
    std::shared_ptr<APMScreenViewReporter> screens_;
    fakes::FakeAppStore store_;
    fakes::VirtualTime purchaseQueue_;
    std::unique_ptr<APMInAppPurchaseTransactionReporter> purchaseReporter_;
    std::vector<ReportedPurchase> purchases_;
    std::vector<HeardEvent> heardCopy_;
};

TEST_F(FrontEndWiringTest, ScreenViewsGoToTheReporterAndOtherEventsLandOnTheCurrentScreen)
{
    start();
    listen();
    APMAnalytics::logEventWithName(QStringLiteral("screen_view"),
        { { QStringLiteral("screen_name"), QStringLiteral("Home") },
            { QStringLiteral("screen_class"), QStringLiteral("HomeView") } });
    screens_->waitForPendingWork();
    drain();
    // The reporter logs the screen view itself, as "_vs"; the event under
    // its public name never reaches the engine.
    EXPECT_FALSE(heardNames().contains(QStringLiteral("screen_view")))
        << heardNames().join(',').toStdString();
    const HeardEvent* view = heardEvent(QStringLiteral("_vs"));
    ASSERT_NE(view, nullptr) << heardNames().join(',').toStdString();
    EXPECT_EQ(view->parameters.value(QStringLiteral("_sn")).toString(), QStringLiteral("Home"));
    const qint64 screenID = view->parameters.value(QStringLiteral("_si")).toLongLong();

    APMAnalytics::logEventWithName(
        QStringLiteral("tap"), { { QStringLiteral("button"), QStringLiteral("ok") } });
    APMAnalytics::logInternalEventWithOrigin(
        QStringLiteral("auto"), QStringLiteral("_later"), time_.now(), {});
    // An event that names its own screen keeps it.
    APMAnalytics::logInternalEventWithOrigin(QStringLiteral("auto"), QStringLiteral("_own"),
        { { QStringLiteral("_sn"),
            QVariant::fromValue(APMValue::initWithString(QStringLiteral("Elsewhere")).value()) } });
    drain();
    for (const QString& name : { QStringLiteral("tap"), QStringLiteral("_later") }) {
        const HeardEvent* event = heardEvent(name);
        ASSERT_NE(event, nullptr) << name.toStdString();
        EXPECT_EQ(event->parameters.value(QStringLiteral("_sn")).toString(), QStringLiteral("Home"))
            << name.toStdString();
        EXPECT_EQ(event->parameters.value(QStringLiteral("_sc")).toString(), QStringLiteral("HomeView"))
            << name.toStdString();
        EXPECT_EQ(event->parameters.value(QStringLiteral("_si")).toLongLong(), screenID)
            << name.toStdString();
    }
    const HeardEvent* own = heardEvent(QStringLiteral("_own"));
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->parameters.value(QStringLiteral("_sn")).toString(), QStringLiteral("Elsewhere"));
    EXPECT_FALSE(own->parameters.contains(QStringLiteral("_sc")));
}

TEST_F(FrontEndWiringTest, UserDataReachesTheEngineOnlyWhileEnabled)
{
    ValidatorLogRecorder console;
    start();
    const auto engineTried = [&console] {
        for (const RecordedLine& line : console.lines()) {
            // No on-device conversion component here: the engine refuses the attempt.
            if (line.code == 23233)
                return true;
        }
        return false;
    };

    APMAnalytics::setUserData(
        { { APMOnDeviceConversion::kUserDataEmailAddressKey, QStringLiteral("a@b.example") } });
    advance(1);
    EXPECT_TRUE(engineTried());
    EXPECT_FALSE(loggedCodes().contains(25044));

    console.clear();
    APMAnalytics::setAnalyticsEnabled(false);
    APMAnalytics::setUserData({ { APMOnDeviceConversion::kUserDataPhoneNumberKey, QStringLiteral("+15550100") } });
    advance(1);
    EXPECT_FALSE(engineTried());
    EXPECT_TRUE(loggedCodes().contains(25044));
}

TEST_F(FrontEndWiringTest, OpenedLinksAndBrowsingActivitiesBecomeCampaigns)
{
    start();
    listen();
    QList<QUrl> opened;
    APMAnalytics::setOpenURLListener([&opened](const QUrl& url) { opened.append(url); });
    const QUrl link(QStringLiteral("pravik://open?utm_source=news&utm_medium=mail&utm_campaign=spring"));
    APMAnalytics::handleOpenURL(link);
    drain();
    EXPECT_EQ(opened, QList<QUrl>({ link }));
    const HeardEvent* campaign = heardEvent(QStringLiteral("_cmp"));
    ASSERT_NE(campaign, nullptr) << heardNames().join(',').toStdString();
    EXPECT_EQ(campaign->parameters.value(QStringLiteral("source")).toString(), QStringLiteral("news"));

    struct ActivityCase {
        const char* label;
        std::optional<APMUserActivity> activity;
        bool campaign;
    };
    const QUrl page(
        QStringLiteral("https://pravik.example/deal?utm_source=web&utm_medium=cpc&utm_campaign=summer"));
    const std::vector<ActivityCase> cases = {
        { "browsing", APMUserActivity { APMUserActivity::kBrowsingWebActivityType, page }, true },
        { "another kind of activity", APMUserActivity { QStringLiteral("com.example.other"), page }, false },
        { "browsing without a page", APMUserActivity { APMUserActivity::kBrowsingWebActivityType, QUrl() },
            false },
        { "none", std::nullopt, false },
    };
    for (const ActivityCase& c : cases) {
        clearLog();
        APMAnalytics::handleUserActivity(c.activity);
        drain();
        const HeardEvent* event = heardEvent(QStringLiteral("_cmp"));
        EXPECT_EQ(event != nullptr, c.campaign) << c.label;
        if (event) {
            EXPECT_EQ(event->parameters.value(QStringLiteral("source")).toString(), QStringLiteral("web"))
                << c.label;
        }
    }
    // Activities never reach the open-URL listener.
    EXPECT_EQ(opened.size(), 1);
}

TEST_F(FrontEndWiringTest, TheSessionTimeoutReachesTheSessionReporter)
{
    start();
    APMMeasurement* engine = APMMeasurement::sharedInstance();
    ASSERT_NE(engine, nullptr);
    ASSERT_NE(engine->sessionReporter(), nullptr);
    APMAnalytics::setSessionTimeoutInterval(42);
    drain();
    EXPECT_DOUBLE_EQ(engine->sessionReporter()->timeoutSessionInterval(), 42);
}

TEST_F(FrontEndWiringTest, ASuccessfulResetClearsItsBookkeepingAndAdoptsTheNewID)
{
    start();
    const QString before = APMAnalytics::appInstanceID();
    APMAnalytics::resetAnalyticsData();
    const QString handedOut = APMAnalytics::appInstanceID();
    EXPECT_NE(handedOut, before);
    drain();
    EXPECT_FALSE(loggedCodes().contains(25037));
    EXPECT_EQ(APMAnalytics::resetRetryCount(), 0);
    EXPECT_FALSE(preferences_->objectForKey(APMAnalytics::kResetRetryCountKey).isValid());
    EXPECT_FALSE(preferences_->objectForKey(APMAnalytics::kAppInstanceIDAfterResetKey).isValid());
    // The engine now holds the id the reset handed out.
    EXPECT_EQ(identity_->appInstanceID(), handedOut);
    EXPECT_EQ(APMAnalytics::appInstanceID(), handedOut);
}

TEST_F(FrontEndWiringTest, AllowPersonalizedAdsSetsOrRemovesTheNonPersonalizedProperty)
{
    start();
    struct AdsCase {
        const char* label;
        QVariant value;
        std::optional<qint64> npa;
    };
    const std::vector<AdsCase> cases = {
        { "refused", QStringLiteral("NO"), 1 },
        { "allowed", QStringLiteral("YES"), 0 },
        { "cleared", QVariant(), std::nullopt },
    };
    for (const AdsCase& c : cases) {
        APMAnalytics::setUserPropertyString(c.value, APMAnalytics::kAllowPersonalizedAdsProperty);
        drain();
        const QVariantMap properties = userProperties();
        EXPECT_EQ(properties.contains(QStringLiteral("_npa")), c.npa.has_value()) << c.label;
        if (c.npa) {
            EXPECT_EQ(properties.value(QStringLiteral("_npa")).toLongLong(), *c.npa) << c.label;
        }
    }
}

TEST_F(FrontEndWiringTest, StorePurchasesReachTheReporterWhileEnabled)
{
    start();
    // The front end observes the store from start.
    store_.pushTransactions({ purchased(QStringLiteral("1001")) });
    std::vector<ReportedPurchase> reported = reportedPurchases();
    ASSERT_EQ(reported.size(), 1u);
    // Without a store receipt nothing counts as revenue.
    EXPECT_EQ(reported.front().name, QStringLiteral("_iapx"));
    EXPECT_EQ(
        reported.front().parameters.value(QStringLiteral("product_id")).toString(), QStringLiteral("coins"));

    // A transaction still in progress is not reported.
    platform::StorePaymentTransaction pending = purchased(QStringLiteral("1002"));
    pending.state = platform::StorePaymentTransaction::State::Purchasing;
    store_.pushTransactions({ pending });
    EXPECT_EQ(reportedPurchases().size(), 1u);

    APMAnalytics::setAnalyticsEnabled(false);
    store_.pushTransactions({ purchased(QStringLiteral("1003")) });
    EXPECT_EQ(reportedPurchases().size(), 1u);

    // The newer store interface's transactions are handed on whether or not
    // collection is on; the reporter's logging decides.
    APMAnalytics::logTransactionWithProductID(QStringLiteral("coins"), 2, QStringLiteral("2001"),
        QStringLiteral("2001"), 1'700'000'100, QByteArray("v"), QStringLiteral("uuid"),
        QStringLiteral("nonce"));
    reported = reportedPurchases();
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported.back().parameters.value(QStringLiteral("quantity")).toLongLong(), 2);
}

TEST_F(FrontEndWiringTest, TheEngineDefaultsLeadBackToTheFrontEnd)
{
    const APMMeasurement::Environment defaults = APMMeasurement::defaultEnvironment();
    ASSERT_TRUE(defaults.loadTimestamp);
    APMAnalytics::setLoadTimestamp(1'650'000'000);
    EXPECT_DOUBLE_EQ(defaults.loadTimestamp(), 1'650'000'000);

    ASSERT_TRUE(defaults.logInternalEventWithOrigin);
    listen();
    // Before a start there is nobody to log to, and nothing breaks.
    defaults.logInternalEventWithOrigin(QStringLiteral("auto"), QStringLiteral("_early"), {}, 10);
    start();
    defaults.logInternalEventWithOrigin(QStringLiteral("auto"), QStringLiteral("_report"),
        { { QStringLiteral("n"), QVariant::fromValue(APMValue::initWithInt64(3)) } }, time_.now() - 5);
    drain();
    EXPECT_EQ(heardEvent(QStringLiteral("_early")), nullptr);
    const HeardEvent* report = heardEvent(QStringLiteral("_report"));
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->origin, QStringLiteral("auto"));
    EXPECT_DOUBLE_EQ(report->timestamp, time_.now() - 5);
    EXPECT_EQ(report->parameters.value(QStringLiteral("n")).toLongLong(), 3);
}

TEST_F(FrontEndWiringTest, ThePublicInterfaceForwardsLinksPurchasesAndTheSessionTimeout)
{
    start();
    listen();
    BASAnalytics::setSessionTimeoutInterval(77);
    QList<QUrl> opened;
    BASAnalytics::setOpenURLListener([&opened](const QUrl& url) { opened.append(url); });
    const QUrl link(QStringLiteral("pravik://open?utm_source=mail&utm_medium=email&utm_campaign=autumn"));
    BASAnalytics::handleOpenURL(link);
    drain();
    EXPECT_DOUBLE_EQ(APMMeasurement::sharedInstance()->sessionReporter()->timeoutSessionInterval(), 77);
    EXPECT_EQ(opened, QList<QUrl>({ link }));
    ASSERT_NE(heardEvent(QStringLiteral("_cmp")), nullptr);

    clearLog();
    BASAnalytics::handleUserActivity(APMUserActivity { APMUserActivity::kBrowsingWebActivityType,
        QUrl(QStringLiteral("https://pravik.example/?utm_source=site&utm_medium=link&utm_campaign=x")) });
    drain();
    const HeardEvent* campaign = heardEvent(QStringLiteral("_cmp"));
    ASSERT_NE(campaign, nullptr);
    EXPECT_EQ(campaign->parameters.value(QStringLiteral("source")).toString(), QStringLiteral("site"));

    BASAnalytics::logTransactionWithProductID(QStringLiteral("coins"), 1, QStringLiteral("3001"),
        QStringLiteral("3001"), 1'700'000'200, QByteArray(), QString(), QString());
    const std::vector<ReportedPurchase> reported = reportedPurchases();
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(
        reported.front().parameters.value(QStringLiteral("product_id")).toString(), QStringLiteral("coins"));
}

} // namespace front_end_wiring_test
