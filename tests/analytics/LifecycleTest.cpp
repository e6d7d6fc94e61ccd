// First open, app and OS updates, the campaign of a stored launch link and
// the personalized-ads property, reported by the engine's start and each
// exactly once across restarts.
#include "LifecycleTestSupport.h"

#include "analytics/base/APMConfigStore.h"
#include "analytics/base/APMDeepLinkStore.h"
#include "analytics/base/APMAEU.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/engine/APMLifecycleReporter.h"
#include "analytics/model/APMEventAggregates.h"
#include "ReceiptTestBuilder.h"
#include "fakes/ScopedEnv.h"

#include <QFile>

#include <limits>

using namespace lifecycle_test;

namespace {

const QString kFirstOpen = QStringLiteral("_f");
const QString kEngagement = QStringLiteral("_e");
const QString kAppUpdate = QStringLiteral("_au");
const QString kOSUpdate = QStringLiteral("_ou");
const QString kNPA = QStringLiteral("_npa");
const QString kSessionStart = QStringLiteral("_s");

class LifecycleTest : public LifecycleFixture { };

TEST_F(LifecycleTest, FirstOpenIsReportedOnceAcrossRestarts)
{
    const double loadTime = time_.now();
    launch();
    const QList<SeenEvent> firstOpens = editor_->named(kFirstOpen);
    ASSERT_EQ(firstOpens.size(), 1);
    EXPECT_EQ(firstOpens[0].origin, QStringLiteral("auto"));
    EXPECT_EQ(firstOpens[0].timestamp, loadTime);
    EXPECT_EQ(firstOpens[0].parameters.value(QStringLiteral("_pfo")), QVariant(qint64(0)));
    EXPECT_EQ(firstOpens[0].parameters.value(QStringLiteral("_uwa")), QVariant(qint64(1)));
    EXPECT_FALSE(firstOpens[0].parameters.contains(QStringLiteral("_pvmp")));
    const QList<SeenEvent> engagements = editor_->named(kEngagement);
    ASSERT_EQ(engagements.size(), 1);
    EXPECT_EQ(engagements[0].parameters.value(QStringLiteral("_et")), QVariant(qint64(1)));

    const qint64 firstOpenMs = qint64(loadTime * 1000);
    const auto fot = userProperty(QStringLiteral("_fot"));
    ASSERT_TRUE(fot.has_value());
    EXPECT_EQ(fot->value().int64Value(), APMLifecycleReporter::timestampMillisRoundedUpToNextHour(firstOpenMs));
    const auto fi = userProperty(QStringLiteral("_fi"));
    ASSERT_TRUE(fi.has_value());
    EXPECT_EQ(fi->value().int64Value(), 0); // no receipt: not known to be a fresh install
    EXPECT_EQ(persisted_->firstOpenTimestampMilliseconds(), firstOpenMs);
    EXPECT_FALSE(persisted_->loadTimestampValue().isValid());

    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        restart();
        time_.advance(3600);
        launch();
        EXPECT_TRUE(editor_->named(kFirstOpen).isEmpty());
        EXPECT_TRUE(editor_->named(kEngagement).isEmpty());
        EXPECT_EQ(userProperty(QStringLiteral("_fot"))->value().int64Value(),
            APMLifecycleReporter::timestampMillisRoundedUpToNextHour(firstOpenMs));
        EXPECT_EQ(engine_->previousFirstOpenCount(), QStringLiteral("1"));
    }
}

TEST_F(LifecycleTest, InstallFlagFollowsTheReceiptAndAnEarlierFirstOpen)
{
    struct Case {
        const char* name;
        std::optional<QString> originalVersion;
        QString runningVersion;
        std::optional<qint64> previousFirstOpens;
        qint64 fi;
        qint64 uwa;
        qint64 pfo;
    };
    const Case cases[] = {
        { "no receipt", std::nullopt, "1.0", std::nullopt, 0, 1, 0 },
        { "receipt of the running version", QStringLiteral("2.1"), "2.1", std::nullopt, 1, 0, 0 },
        { "receipt of an older version", QStringLiteral("2.0"), "2.1", std::nullopt, 0, 1, 0 },
        { "empty receipt version", QString(), "", std::nullopt, 0, 1, 0 },
        { "first open after a data reset", std::nullopt, "1.0", 2, 1, 0, 2 },
        { "negative count counts as none", std::nullopt, "1.0", -3, 0, 1, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshInstall();
        *originalVersion_ = c.originalVersion;
        appVersion_ = c.runningVersion;
        if (c.previousFirstOpens)
            persisted_->setPreviousFirstOpenCount(*c.previousFirstOpens);
        launch();
        const QList<SeenEvent> firstOpens = editor_->named(kFirstOpen);
        ASSERT_EQ(firstOpens.size(), 1);
        EXPECT_EQ(firstOpens[0].parameters.value(QStringLiteral("_uwa")), QVariant(c.uwa));
        EXPECT_EQ(firstOpens[0].parameters.value(QStringLiteral("_pfo")), QVariant(c.pfo));
        ASSERT_TRUE(userProperty(QStringLiteral("_fi")).has_value());
        EXPECT_EQ(userProperty(QStringLiteral("_fi"))->value().int64Value(), c.fi);
    }
}

TEST_F(LifecycleTest, TheFirstOpenCountKeptByALoggedFirstOpenReachesTheNextOne)
{
    launch();
    ASSERT_EQ(editor_->named(kFirstOpen).size(), 1);
    // Kept as a number (a text "1" would compare equal to the number 1).
    EXPECT_TRUE(APMConfigStore::isNumber(persisted_->previousFirstOpenCount()));
    EXPECT_EQ(persisted_->previousFirstOpenCount(), QVariant(qint64(1)));
    // The first-open time goes (a data reset that keeps the state file):
    // the next launch reports a first open again, counting the earlier one.
    engine_->dispatchSyncOnWorkerQueue(
        [&] { engine_->database()->deleteUserAttributeWithName(QStringLiteral("_fot"), nullptr); });
    restart();
    launch();
    const QList<SeenEvent> firstOpens = editor_->named(kFirstOpen);
    ASSERT_EQ(firstOpens.size(), 1);
    EXPECT_EQ(firstOpens[0].parameters.value(QStringLiteral("_pfo")), QVariant(qint64(1)));
    EXPECT_EQ(firstOpens[0].parameters.value(QStringLiteral("_uwa")), QVariant(qint64(0)));
    EXPECT_EQ(persisted_->previousFirstOpenCount(), QVariant(qint64(2)));
}

TEST_F(LifecycleTest, AFirstOpenCountStoredAsTextSurvivesARestart)
{
    struct Case {
        const char* stored;
        QString read;
    };
    const Case cases[] = {
        { "3", QStringLiteral("3") },
        { "+4", QStringLiteral("4") },
        { "5.", QStringLiteral("5") },
        { "99999999999999999999", QString::number(std::numeric_limits<qint64>::max()) },
        { "many", QStringLiteral("1") }, // no number: none kept, a restart counts one
    };
    launch();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        persisted_->setPreviousFirstOpenCount(QString::fromLatin1(c.stored));
        restart();
        launch();
        EXPECT_TRUE(editor_->named(kFirstOpen).isEmpty());
        EXPECT_EQ(engine_->previousFirstOpenCount(), c.read);
    }
}

TEST_F(LifecycleTest, WithoutAnInjectedVersionTheStoreReceiptDecidesTheInstallFlag)
{
    struct Case {
        const char* name;
        const char* fileName; // nullptr: no receipt configured
        std::optional<QString> receiptVersion; // nothing: the file is not written
        QString runningVersion;
        qint64 fi;
    };
    const Case cases[] = {
        { "no receipt configured", nullptr, std::nullopt, "2.1", 0 },
        { "receipt of the running version", "receipt", QStringLiteral("2.1"), "2.1", 1 },
        { "receipt of an older version", "receipt", QStringLiteral("2.0"), "2.1", 0 },
        { "receipt without a version", "receipt", QString(), "2.1", 0 },
        { "configured receipt missing", "receipt", std::nullopt, "2.1", 0 },
        { "sandbox receipt counts as the same", "sandboxReceipt", QStringLiteral("2.0"), "2.1", 1 },
    };
    fakes::ScopedEnv receiptPath(APMAEU::kReceiptPathVariable, QString());
    readsReceiptFile_ = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshInstall();
        appVersion_ = c.runningVersion;
        if (c.fileName) {
            const QString path = dir_.filePath(QString::fromLatin1(c.fileName));
            QFile::remove(path);
            if (c.receiptVersion) {
                QFile file(path);
                ASSERT_TRUE(file.open(QIODevice::WriteOnly));
                file.write(receipt_test::receipt({}, *c.receiptVersion));
            }
            receiptPath.set(path);
        } else {
            receiptPath.set(QString());
        }
        launch();
        const QList<SeenEvent> firstOpens = editor_->named(kFirstOpen);
        ASSERT_EQ(firstOpens.size(), 1);
        EXPECT_EQ(firstOpens[0].parameters.value(QStringLiteral("_uwa")), QVariant(1 - c.fi));
        ASSERT_TRUE(userProperty(QStringLiteral("_fi")).has_value());
        EXPECT_EQ(userProperty(QStringLiteral("_fi"))->value().int64Value(), c.fi);
    }
}

TEST_F(LifecycleTest, FirstOpenAndLaterLaunchesStartASessionWhenTheLastOneExpired)
{
    const double firstLoad = time_.now();
    launch();
    // The first open's session starts with it, in the foreground.
    QList<SeenEvent> starts = editor_->named(kSessionStart);
    ASSERT_EQ(starts.size(), 1);
    EXPECT_EQ(starts[0].origin, QStringLiteral("auto"));
    EXPECT_EQ(starts[0].timestamp, firstLoad);
    EXPECT_EQ(starts[0].parameters.value(QStringLiteral("_sno")), QVariant(qint64(1)));
    EXPECT_EQ(starts[0].parameters.value(QStringLiteral("_sid")), QVariant(qint64(firstLoad)));
    EXPECT_FALSE(starts[0].parameters.contains(QStringLiteral("_aib")));
    EXPECT_EQ(persisted_->sessionNumber(), 1);

    struct Step {
        const char* name;
        double after; // seconds since the previous launch
        bool starts;
        qint64 sessionNumber;
    };
    const Step steps[] = {
        { "relaunch within the session", 60, false, 1 },
        { "relaunch after the session expired", 7200, true, 2 },
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        restart();
        time_.advance(step.after);
        launch();
        EXPECT_TRUE(editor_->named(kFirstOpen).isEmpty());
        starts = editor_->named(kSessionStart);
        ASSERT_EQ(starts.size(), step.starts ? 1 : 0);
        if (step.starts) {
            EXPECT_EQ(starts[0].timestamp, time_.now());
            EXPECT_EQ(starts[0].parameters.value(QStringLiteral("_sno")), QVariant(step.sessionNumber));
        }
        EXPECT_EQ(persisted_->sessionNumber(), step.sessionNumber);
    }
}

TEST_F(LifecycleTest, AStoreWithoutASessionNumberTakesTheCountOfSessionsSeen)
{
    launch();
    engine_->dispatchSyncOnWorkerQueue([this] {
        const auto aggregates = APMEventAggregates::initWithName(kSessionStart, 5, 0, 0, time_.now());
        ASSERT_TRUE(aggregates.has_value());
        ASSERT_TRUE(engine_->database()->updateEventAggregates(*aggregates, nullptr));
    });
    struct Step {
        const char* name;
        qint64 stored; // the session number before the launch
        qint64 numbered; // the new session's number
    };
    const Step steps[] = {
        { "no number kept: the count of sessions carries on", 0, 6 },
        { "a kept number wins over the count", 9, 10 },
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        restart();
        persisted_->setSessionNumber(step.stored);
        time_.advance(7200);
        launch();
        const QList<SeenEvent> starts = editor_->named(kSessionStart);
        ASSERT_EQ(starts.size(), 1);
        EXPECT_EQ(starts[0].parameters.value(QStringLiteral("_sno")), QVariant(step.numbered));
        EXPECT_EQ(persisted_->sessionNumber(), step.numbered);
    }
}

TEST_F(LifecycleTest, EfficientEngagementAndRedundantEngagementSettingsShapeTheFirstOpen)
{
    // The settings come with a stored configuration, which a first launch
    // reads before it reports.
    launch();
    rcfg::ConfigBuilder config;
    config.setting(QStringLiteral("measurement.collection.efficient_engagement_reporting_enabled"), QStringLiteral("1"));
    config.setting(QStringLiteral("measurement.collection.redundant_engagement_removal_enabled"), QStringLiteral("1"));
    ASSERT_TRUE(configure(config));
    editor_->clear();
    engine_->dispatchSyncOnWorkerQueue([&] {
        engine_->database()->deleteUserAttributeWithName(QStringLiteral("_fot"), nullptr);
        engine_->reportFirstOpenOnWorkerQueue();
    });
    drain();
    const QList<SeenEvent> firstOpens = editor_->named(kFirstOpen);
    ASSERT_EQ(firstOpens.size(), 1);
    EXPECT_EQ(firstOpens[0].parameters.value(QStringLiteral("_et")), QVariant(qint64(1)));
    EXPECT_TRUE(editor_->named(kEngagement).isEmpty());
}

TEST_F(LifecycleTest, AppAndOSUpdatesAreReportedOnceWithThePreviousVersion)
{
    struct Step {
        const char* name;
        QString appVersion;
        QString osVersion;
        QStringList expected; // "name=previous"
    };
    const Step steps[] = {
        { "first run stores the versions", "1.0", "12", {} },
        { "same versions", "1.0", "12", {} },
        { "app updated", "1.1", "12", { "_au=1.0" } },
        { "after the app update", "1.1", "12", {} },
        { "system updated", "1.1", "13", { "_ou=12" } },
        { "both updated", "2.0", "14", { "_au=1.1", "_ou=13" } },
        { "after both", "2.0", "14", {} },
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        restart();
        appVersion_ = step.appVersion;
        facts_.setOsVersion(step.osVersion);
        launch();
        QStringList seen;
        for (const SeenEvent& event : editor_->events()) {
            if (event.name == kAppUpdate)
                seen << event.name + "=" + event.parameters.value(QStringLiteral("_pv")).toString();
            if (event.name == kOSUpdate)
                seen << event.name + "=" + event.parameters.value(QStringLiteral("_po")).toString();
        }
        EXPECT_EQ(seen, step.expected);
        EXPECT_EQ(persisted_->appVersion(), step.appVersion);
        EXPECT_EQ(persisted_->osVersion(), step.osVersion);
    }
}

TEST_F(LifecycleTest, UpdatesGoThroughTheInjectedInternalEventLogger)
{
    launch();
    restart();
    appVersion_ = QStringLiteral("9.9");
    QList<SeenEvent> logged;
    APMMeasurement::Environment e = lifecycleEnvironment();
    e.logInternalEventWithOrigin = [&logged](const QString& origin, const QString& name, const QVariantMap& parameters,
                                       double timestamp) { logged.append({ origin, name, parameters, timestamp }); };
    identity_.reset();
    APMIdentity::Environment ie = APMIdentity::defaultEnvironment();
    ie.clock = &time_;
    ie.identitySupport = &trackingSupport_;
    ie.infoDictionary = { { APMInfoPlistFileUtil::kShortVersionKey, appVersion_ } };
    identity_ = APMIdentity::initWithPersistedConfig(persisted_.get(), std::move(ie));
    e.identity = identity_.get();
    e.persistedConfig = persisted_.get();
    engine_ = APMMeasurement::initWithAppID(engine_test::kEngineAppID, true, false, {}, std::move(e));
    settleReports();
    ASSERT_EQ(logged.size(), 1);
    EXPECT_EQ(logged[0].origin, QStringLiteral("auto"));
    EXPECT_EQ(logged[0].name, kAppUpdate);
    EXPECT_EQ(logged[0].parameters, (QVariantMap { { QStringLiteral("_pv"), QStringLiteral("1.0") } }));
    EXPECT_EQ(logged[0].timestamp, time_.now());
    EXPECT_TRUE(editor_->named(kAppUpdate).isEmpty());
}

TEST_F(LifecycleTest, TimestampsRoundUpToTheNextWholeHour)
{
    constexpr qint64 kHour = 3'600'000;
    constexpr qint64 kMax = std::numeric_limits<qint64>::max();
    const std::pair<qint64, qint64> cases[] = {
        { 0, kHour },
        { 2 * kHour, 3 * kHour }, // on the hour still moves on
        { 2 * kHour + 1, 3 * kHour },
        { 3 * kHour - 1, 3 * kHour },
        { kMax, kMax / kHour * kHour }, // no hour after the last one
    };
    for (const auto& [in, out] : cases) {
        SCOPED_TRACE(in);
        EXPECT_EQ(APMLifecycleReporter::timestampMillisRoundedUpToNextHour(in), out);
    }
}

TEST_F(LifecycleTest, AStoredLaunchLinkBecomesTheFirstOpensCampaign)
{
    struct Case {
        const char* name;
        double storedAgo; // seconds before the launch
        QString expectedEvent;
        QString expectedSource;
        qint64 expectedCc; // 1 when too old, else the stored time in ms
    };
    const Case cases[] = {
        { "fresh link", 60, "_cmp", "news", -1 },
        { "older than the attribution time", 8 * 86400, "_cmpx", "(not set)", 1 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshInstall();
        const double storedAt = time_.now() - c.storedAgo;
        storeDeepLink(*deepLinks_, QStringLiteral("pravik://open?utm_source=news&utm_medium=mail&utm_term=a+b"), storedAt);
        persisted_->setLoadTimestampValue(time_.now());
        launch();
        const QList<SeenEvent> campaigns = editor_->named(c.expectedEvent);
        ASSERT_EQ(campaigns.size(), 1);
        const QVariantMap& p = campaigns[0].parameters;
        EXPECT_EQ(p.value(QStringLiteral("source")).toString(), c.expectedSource);
        EXPECT_EQ(p.value(QStringLiteral("_cc")),
            QVariant(c.expectedCc == -1 ? qint64(storedAt * 1000) : c.expectedCc));
        const qint64 firstOpenMs = persisted_->firstOpenTimestampMilliseconds();
        EXPECT_EQ(p.value(QStringLiteral("click_timestamp")), QVariant(firstOpenMs - 1));
        // Never before the first open.
        EXPECT_GE(campaigns[0].timestamp, double(firstOpenMs) / 1000.0);
        EXPECT_FALSE(deepLinks_->objectForKey(APMDeepLinkStore::kDeepLinkKey).isValid());
        EXPECT_FALSE(deepLinks_->objectForKey(APMDeepLinkStore::kDeepLinkTimestampKey).isValid());
    }
    // The link was used once: the next launch reports no campaign.
    restart();
    launch();
    EXPECT_TRUE(editor_->named(QStringLiteral("_cmp")).isEmpty());
    EXPECT_TRUE(editor_->named(QStringLiteral("_cmpx")).isEmpty());
}

TEST_F(LifecycleTest, AStoredLinkOnALaterLaunchIsReportedWithoutAClickTime)
{
    launch();
    restart();
    time_.advance(86400);
    storeDeepLink(*deepLinks_, QStringLiteral("pravik://open?utm_campaign=spring"), time_.now() - 5);
    launch();
    const QList<SeenEvent> campaigns = editor_->named(QStringLiteral("_cmp"));
    ASSERT_EQ(campaigns.size(), 1);
    EXPECT_EQ(campaigns[0].parameters.value(QStringLiteral("campaign")).toString(), QStringLiteral("spring"));
    EXPECT_FALSE(campaigns[0].parameters.contains(QStringLiteral("click_timestamp")));
    EXPECT_EQ(campaigns[0].timestamp, time_.now() - 5);
}

TEST_F(LifecycleTest, DisablingDropsAnExpiredStoredLinkOnly)
{
    launch();
    for (const auto& [ago, kept] : { std::pair { 60.0, true }, std::pair { 30.0 * 86400, false } }) {
        SCOPED_TRACE(ago);
        storeDeepLink(*deepLinks_, QStringLiteral("pravik://x?utm_source=s"), time_.now() - ago);
        engine_->setEnabled(false);
        drain();
        EXPECT_EQ(deepLinks_->objectForKey(APMDeepLinkStore::kDeepLinkKey).isValid(), kept);
        clearStoredDeepLink(*deepLinks_);
    }
}

// The personalized-ads property from each of its sources, first source with
// a value winning: the stored choice, the consent (with DMA), the
// information dictionary, the default consent (with DMA).
TEST_F(LifecycleTest, PersonalizedAdsPropertyFollowsTheFirstSourceWithAValue)
{
    struct Case {
        const char* name;
        QVariant storedAllow; // persisted allowPersonalizedAds
        QVariant consent; // explicit "ad_personalization"
        QVariant plist; // VIREO_ANALYTICS_DEFAULT_ALLOW_AD_PERSONALIZATION_SIGNALS
        QVariant defaultConsent; // default "ad_personalization"
        bool dma;
        std::optional<qint64> expected;
    };
    const QVariant none;
    const QString granted = QStringLiteral("granted");
    const QString denied = QStringLiteral("denied");
    const Case cases[] = {
        { "nothing anywhere", none, none, none, none, true, std::nullopt },
        { "stored allow", true, none, none, none, true, 0 },
        { "stored disallow", false, none, none, none, true, 1 },
        { "stored choice wins over consent", true, denied, none, none, true, 0 },
        { "consent granted", none, granted, none, none, true, 0 },
        { "consent denied", none, denied, none, none, true, 1 },
        { "consent ignored without DMA", none, denied, none, none, false, std::nullopt },
        { "consent wins over the dictionary", none, granted, false, none, true, 0 },
        { "dictionary allows", none, none, true, none, true, 0 },
        { "dictionary disallows", none, none, false, none, true, 1 },
        { "dictionary value not a number", none, none, QStringLiteral("no"), none, true, 0 },
        { "dictionary wins over the defaults", none, none, true, denied, true, 0 },
        { "default denied, any case", none, none, none, QStringLiteral("DENIED"), true, 1 },
        { "default granted", none, none, none, QStringLiteral("Granted"), true, 0 },
        { "default ignored without DMA", none, none, none, denied, false, std::nullopt },
        { "default neither", none, none, none, QStringLiteral("maybe"), true, std::nullopt },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshInstall();
        if (c.plist.isValid())
            infoDictionary_.insert(APMConsentSettingsUtil::kDefaultAllowAdPersonalizationSignalsKey, c.plist);
        launch();
        rcfg::ConfigBuilder config;
        config.setting(QStringLiteral("measurement.upload.dma_consent_enabled"), c.dma ? "1" : "0");
        ASSERT_TRUE(configure(config));
        if (c.storedAllow.isValid())
            persisted_->setAllowPersonalizedAds(c.storedAllow);
        if (c.consent.isValid())
            APMConsentSettingsUtil::setConsentSettings(
                QVariantMap { { APMConsentSettingsUtil::kAdPersonalization, c.consent } });
        if (c.defaultConsent.isValid())
            APMConsentSettingsUtil::setDefaultSettings(
                QVariantMap { { APMConsentSettingsUtil::kAdPersonalization, c.defaultConsent } });
        std::optional<qint64> wanted;
        engine_->dispatchSyncOnWorkerQueue([&] {
            wanted = engine_->lifecycleReporter().shouldDisableAdPersonalization();
            engine_->setPersonalizedAdsUserPropertyOnWorkerQueue();
        });
        EXPECT_EQ(wanted, c.expected);
        const auto npa = userProperty(kNPA);
        ASSERT_EQ(npa.has_value(), c.expected.has_value());
        if (npa) {
            EXPECT_EQ(npa->value().int64Value(), *c.expected);
            EXPECT_EQ(npa->origin(), QStringLiteral("auto"));
        }
    }
}

TEST_F(LifecycleTest, PersonalizedAdsPropertyIsWrittenOnlyWhenItChangesAndRemovedWithoutASource)
{
    persisted_->setAllowPersonalizedAds(false);
    launch();
    ASSERT_TRUE(userProperty(kNPA).has_value());
    const double firstSet = userProperty(kNPA)->lastSetTimestamp();

    time_.advance(60);
    engine_->dispatchSyncOnWorkerQueue([&] { engine_->setPersonalizedAdsUserPropertyOnWorkerQueue(); });
    EXPECT_EQ(userProperty(kNPA)->lastSetTimestamp(), firstSet); // same value: nothing written

    persisted_->setAllowPersonalizedAds(true);
    engine_->dispatchSyncOnWorkerQueue([&] { engine_->setPersonalizedAdsUserPropertyOnWorkerQueue(); });
    EXPECT_EQ(userProperty(kNPA)->value().int64Value(), 0);
    EXPECT_EQ(userProperty(kNPA)->lastSetTimestamp(), time_.now());

    // The stored choice also gave the consent its value (DMA is on by
    // default); with both gone no source is left.
    persisted_->setAllowPersonalizedAds(QVariant());
    APMConsentSettingsUtil::unsetAdPersonalization();
    engine_->dispatchSyncOnWorkerQueue([&] { engine_->setPersonalizedAdsUserPropertyOnWorkerQueue(); });
    EXPECT_FALSE(userProperty(kNPA).has_value());
}

TEST_F(LifecycleTest, WithDMAThePropertyGivesTheMissingConsentAndItsDiagnosticSource)
{
    struct Case {
        const char* name;
        bool storedChoice;
        bool plist;
        QString expectedConsent;
        QChar expectedDiagnostic; // of ad_personalization, the last character
    };
    const Case cases[] = {
        { "from the stored choice", true, false, QStringLiteral("denied"), QLatin1Char('5') },
        { "from the dictionary", false, true, QStringLiteral("denied"), QLatin1Char('3') },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshInstall();
        if (c.storedChoice)
            persisted_->setAllowPersonalizedAds(false);
        if (c.plist)
            infoDictionary_.insert(APMConsentSettingsUtil::kDefaultAllowAdPersonalizationSignalsKey, false);
        launch();
        const auto settings = APMConsentSettingsUtil::consentSettings();
        ASSERT_TRUE(settings.has_value());
        EXPECT_EQ(settings->value(APMConsentSettingsUtil::kAdPersonalization).toString(), c.expectedConsent);
        EXPECT_EQ(APMConsentSettingsUtil::consentDiagnostics().back(), c.expectedDiagnostic);
    }
}

} // namespace
