// What the engine's start takes from the front end's stored state: the
// consent that applies from start, a data reset a crash left unfinished,
// the mark that collection was deferred, and the TCF client with the
// consent a consent-management platform wrote.
#include "FrontEndTestFixture.h"

#include "analytics/base/APMClassRegistry.h"
#include "analytics/frontend/APMAppDelegateInterceptor.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/identity/APMTCFClient.h"
#include "analytics/identity/APMTCFData.h"
#include "fakes/FakeConfigServer.h"
#include "platform/ApplicationStateNotifier.h"
#include "platform/NotificationCenter.h"

#include <QFile>

#include <future>

using namespace front_end_test;

namespace front_end_engine_start_test {

const QString& kAdStorage = APMConsentSettingsUtil::kAdStorage;
const QString& kAnalyticsStorage = APMConsentSettingsUtil::kAnalyticsStorage;
const QString kGranted = QStringLiteral("granted");
const QString kDenied = QStringLiteral("denied");
const QString kPublicInterfaceClass = QStringLiteral("BASAnalytics");

class FrontEndEngineStartTest : public FrontEndFixture {
protected:
    FrontEndEngineStartTest() { APMAnalytics::resetForTesting(launchEnvironment()); }

    // The front end's environment, with the information dictionary a test sets.
    APMAnalytics::Environment launchEnvironment()
    {
        APMAnalytics::Environment e = frontEndEnvironment();
        auto base = e.engineEnvironment;
        e.engineEnvironment = [this, base] {
            APMMeasurement::Environment engine = base();
            engine.infoDictionary = infoDictionary_;
            return engine;
        };
        return e;
    }

    // A new process over the same stored state: the front end, the engine
    // and the consent held in memory are gone; preferences, persisted
    // values and the database file stay.
    void relaunch()
    {
        drain();
        APMAnalytics::resetForTesting(launchEnvironment());
        APMConsentSettingsUtil::clearAllSettings();
        clearLog();
    }

    // A first launch after installing: nothing stored anywhere.
    void reinstall()
    {
        relaunch();
        preferences_->clearAllData();
        persisted_->clearValues();
        QFile::remove(databasePath());
    }

    APMMeasurement& engine() { return *APMMeasurement::sharedInstance(); }

    // The server answers the next configuration fetch with this one; the
    // engine fetches it now.
    void fetchConfiguration(rcfg::ConfigBuilder& config)
    {
        config.setting(QStringLiteral("measurement.upload.interval"), QStringLiteral("3600000"));
        configServer_.setAnswer(fakes::FakeConfigServer::Answer::configuration(
            config.build()->protoBuffer().value_or(QByteArray()), "\"v1\""));
        const int before = configServer_.requestCount();
        engine().dispatchSyncOnWorkerQueue([this] { engine().fetchRemoteConfig(); });
        advance(0);
        EXPECT_EQ(configServer_.requestCount(), before + 1);
        EXPECT_EQ(configServer_.problems(), QStringList());
    }

    // From here on, only what the server accepts later counts.
    void forgetAccepted() { acceptedBefore_ = server_.acceptedEvents().size(); }

    QList<fakes::FakeCollectionServer::Event> acceptedSinceForgotten() const
    {
        return server_.acceptedEvents().mid(acceptedBefore_);
    }

    QStringList acceptedNames() const
    {
        QStringList names;
        for (const auto& event : acceptedSinceForgotten())
            names.append(event.name);
        return names;
    }

    std::optional<fakes::FakeCollectionServer::Event> accepted(const QString& name) const
    {
        for (const auto& event : acceptedSinceForgotten()) {
            if (event.name == name)
                return event;
        }
        return std::nullopt;
    }

    // What a platform writes for a user in the framework's reach who gave
    // this vendor (755) the purposes in `purposes`.
    void writeTCFConsent(const QString& purposes)
    {
        QString vendors(800, QLatin1Char('0'));
        vendors[754] = QLatin1Char('1');
        tcfDefaults_->setObject(qint64(300), APMTCFData::kCmpSdkIDKey);
        tcfDefaults_->setObject(qint64(4), APMTCFData::kPolicyVersionKey);
        tcfDefaults_->setObject(qint64(1), APMTCFData::kGdprAppliesKey);
        tcfDefaults_->setObject(qint64(1), APMTCFData::kEnableAdvertiserConsentModeKey);
        tcfDefaults_->setObject(purposes, APMTCFData::kPurposeConsentsKey);
        tcfDefaults_->setObject(vendors, APMTCFData::kVendorConsentsKey);
    }

    std::optional<QVariantMap> infoDictionary_ = QVariantMap();
    qsizetype acceptedBefore_ = 0;
};

// Which stored consent the start restores: the candidates by source
// priority, and what each start leaves stored.
TEST_F(FrontEndEngineStartTest, TheStartRestoresTheConsentThatAppliesFromStart)
{
    const QVariantMap thirdParty { { kAdStorage, kDenied } };
    const QVariantMap tcf { { kAdStorage, kGranted } };
    const QVariantMap firstParty { { kAnalyticsStorage, kDenied } };
    const QVariantMap startOptions { { kAnalyticsStorage, kGranted } };
    struct Case {
        const char* label;
        std::optional<QVariantMap> storedThirdParty;
        std::optional<QVariantMap> storedTCF;
        std::optional<QVariantMap> storedFirstParty;
        qint64 storedSource; // 100: none stored
        QVariantMap infoDictionary;
        QVariantMap options; // consent passed with the start
        bool publicInterface;
        QVariantMap settings; // what applies after the start
        qint64 source;
    };
    const QList<Case> cases {
        { "nothing stored", {}, {}, {}, 100, {}, {}, false, {}, 100 },
        { "the third-party settings", thirdParty, {}, {}, 10, {}, {}, false, thirdParty, 10 },
        { "TCF alone", {}, tcf, {}, 5, {}, {}, false, tcf, 5 },
        { "TCF outranks third-party settings", thirdParty, tcf, {}, 10, {}, {}, false, tcf, 5 },
        { "the information dictionary's defaults",
            {}, {}, {}, 100, { { QStringLiteral("VIREO_ANALYTICS_DEFAULT_ALLOW_AD_STORAGE"), false } }, {}, false,
            { { kAdStorage, kDenied } }, 20 },
        { "consent given with the start", {}, {}, {}, 100, {}, startOptions, false, startOptions, 40 },
        { "start consent below stored third-party settings", thirdParty, {}, {}, 10, {}, startOptions, false,
            thirdParty, 10 },
        { "an earlier run's first-party consent, no public interface", {}, {}, firstParty, 30, {}, {}, false,
            firstParty, 30 },
        { "an earlier run's first-party consent is not carried by the public interface", {}, {}, firstParty, 30, {},
            {}, true, {}, 100 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        relaunch();
        preferences_->clearAllData();
        if (c.storedThirdParty)
            preferences_->setObject(*c.storedThirdParty, APMAnalytics::kConsentSettings3PKey);
        if (c.storedTCF)
            preferences_->setObject(*c.storedTCF, APMAnalytics::kConsentSettingsTCFKey);
        if (c.storedFirstParty)
            preferences_->setObject(*c.storedFirstParty, APMAnalytics::kConsentSettings1PKey);
        if (c.storedSource != 100)
            preferences_->setInteger(c.storedSource, APMAnalytics::kConsentSourceKey);
        preferences_->setObject(true, APMAnalytics::kDeferredConsentResetKey);
        infoDictionary_ = c.infoDictionary;
        classes_ = c.publicInterface ? QSet<QString> { kPublicInterfaceClass } : QSet<QString>();

        start(c.options);

        EXPECT_EQ(APMConsentSettingsUtil::consentSettings().value_or(QVariantMap()), c.settings);
        EXPECT_EQ(APMConsentSettingsUtil::consentSource(), c.source);
        EXPECT_EQ(APMAnalytics::persistedConsentSource(), c.source);
        // Read once: the start options' consent and a deferred reset do
        // not outlive the start.
        EXPECT_FALSE(preferences_->objectForKey(APMAnalytics::kConsentSettingsOnStartKey).isValid());
        EXPECT_FALSE(preferences_->objectForKey(APMAnalytics::kDeferredConsentResetKey).isValid());
    }
}

// A reset the front end began and a crash cut short: the next start wipes,
// adopts the ID the reset handed out and reports first open once.
TEST_F(FrontEndEngineStartTest, AResetACrashCutShortIsFinishedByTheNextStart)
{
    reportsLifecycleAtStart_ = true;
    struct Case {
        const char* label;
        qint64 retryCount;
        bool wiped;
    };
    const QList<Case> cases {
        { "interrupted once", 1, true },
        { "interrupted nine times", 9, true },
        { "given up after nine attempts", 10, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        forgetAccepted();
        reinstall();
        start();
        APMAnalytics::logEventWithName(QStringLiteral("before_reset"), {});
        drain();
        // What the front end had stored when the process died.
        const QString handedOut = APMIdentity::randomAppInstanceID();
        APMAnalytics::setResetRetryCount(c.retryCount);
        APMAnalytics::setNeedFirstOpenAfterReset(true);
        APMAnalytics::setAppInstanceIDAfterReset(handedOut);
        const QString before = identity_->appInstanceID();

        relaunch();
        start();
        advance(3600);

        EXPECT_EQ(acceptedNames().contains(QStringLiteral("before_reset")), !c.wiped)
            << acceptedNames().join(',').toStdString();
        EXPECT_EQ(APMAnalytics::resetRetryCount(), c.wiped ? 0 : c.retryCount);
        EXPECT_FALSE(APMAnalytics::needFirstOpenAfterReset());
        EXPECT_FALSE(preferences_->objectForKey(APMAnalytics::kAppInstanceIDAfterResetKey).isValid());
        EXPECT_EQ(identity_->appInstanceID(), handedOut);
        EXPECT_NE(identity_->appInstanceID(), before);
        if (c.wiped) {
            EXPECT_EQ(acceptedNames().count(QStringLiteral("_f")), 1) << acceptedNames().join(',').toStdString();
        }
    }
}

// Whether collection was off when the engine first decided: first open
// carries it once collection is on, and the mark is gone after.
TEST_F(FrontEndEngineStartTest, FirstOpenSaysWhetherCollectionWasDeferred)
{
    reportsLifecycleAtStart_ = true;
    struct Case {
        const char* label;
        bool enabledAtStart;
        std::optional<qint64> markAtStart;
        bool dac;
    };
    const QList<Case> cases {
        { "collection on from the start", true, 0, false },
        { "collection off at start, switched on later", false, 1, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        forgetAccepted();
        reinstall();
        start({ { APMAnalytics::kCollectionEnabledOption, c.enabledAtStart } });
        if (!c.enabledAtStart) {
            EXPECT_EQ(preferences_->objectForKey(APMAnalytics::kDeferredAnalyticsCollectionKey).toLongLong(),
                *c.markAtStart);
            APMAnalytics::setAnalyticsEnabled(true);
            drain();
        }
        advance(15);
        const auto firstOpen = accepted(QStringLiteral("_f"));
        ASSERT_TRUE(firstOpen) << acceptedNames().join(',').toStdString();
        EXPECT_EQ(firstOpen->parameters.contains(QStringLiteral("_dac")), c.dac);
        if (c.dac) {
            EXPECT_EQ(firstOpen->parameters.value(QStringLiteral("_dac")).toLongLong(), 1);
        }
        EXPECT_FALSE(preferences_->objectForKey(APMAnalytics::kDeferredAnalyticsCollectionKey).isValid());

        // Later launches: first open is not reported again, and the mark
        // it cleared is not kept by the next start either.
        relaunch();
        start();
        advance(3600);
        EXPECT_EQ(acceptedNames().count(QStringLiteral("_f")), 1);
        EXPECT_FALSE(preferences_->objectForKey(APMAnalytics::kDeferredAnalyticsCollectionKey).isValid());
    }
}

// The platform's consent applies at start, is read again before each
// upload, and a fetched configuration tells the client its region.
TEST_F(FrontEndEngineStartTest, TheTCFClientAppliesThePlatformsConsent)
{
    writeTCFConsent(QStringLiteral("1111111111"));
    start();
    ASSERT_NE(engine().tcfClient(), nullptr);
    EXPECT_EQ(APMConsentSettingsUtil::consentSource(), APMConsentSettingsUtil::SourceTCF);
    EXPECT_EQ(APMConsentSettingsUtil::consentSettings().value_or(QVariantMap()).value(kAdStorage), kGranted);
    EXPECT_EQ(preferences_->dictionaryForKey(APMAnalytics::kConsentSettingsTCFKey).value_or(QVariantMap()).value(kAdStorage),
        kGranted);

    // Purpose 1 (storage) withdrawn: the next upload reads it first.
    writeTCFConsent(QStringLiteral("0111111111"));
    APMAnalytics::logEventWithName(QStringLiteral("after_withdrawal"), {});
    advance(15);
    EXPECT_EQ(APMConsentSettingsUtil::consentSettings().value_or(QVariantMap()).value(kAdStorage), kDenied);
    // Each change the client saw is reported, the second with the next upload.
    advance(3600);
    EXPECT_EQ(acceptedNames().count(QStringLiteral("_tcf")), 2) << acceptedNames().join(',').toStdString();

    // A configuration that places the user outside the DMA region.
    rcfg::ConfigBuilder config(kFrontEndAppID);
    config.consent({}, {}, {}, false, {});
    EXPECT_TRUE(engine().tcfClient()->isDMARegion());
    fetchConfiguration(config);
    EXPECT_FALSE(engine().tcfClient()->isDMARegion());
}

TEST_F(FrontEndEngineStartTest, WithTheFeatureOffThereIsNoTCFClient)
{
    writeTCFConsent(QStringLiteral("1111111111"));
    start();
    ASSERT_NE(engine().tcfClient(), nullptr);
    rcfg::ConfigBuilder config(kFrontEndAppID);
    config.setting(QStringLiteral("measurement.tcf_enabled"), QStringLiteral("0"));
    fetchConfiguration(config);
    APMConsentSettingsUtil::clearAllSettings();
    preferences_->clearAllData();

    relaunch();
    start();
    EXPECT_EQ(engine().tcfClient(), nullptr);
    EXPECT_NE(APMConsentSettingsUtil::consentSource(), APMConsentSettingsUtil::SourceTCF);
}


// The start puts the application's delegate proxy in place (on the main
// queue) unless it is switched off, and starts a linked tag manager.
TEST_F(FrontEndEngineStartTest, StartHooksPlaceTheDelegateProxyAndStartALinkedTagManager)
{
    struct Case {
        const char* what;
        bool proxyEnabled;
        bool tagManagerLinked;
        bool tagManagerHasInitializer;
        bool expectProxyMessage;
        bool expectTagManagerMessage;
        int expectedInitializations;
    };
    const Case cases[] = {
        { "proxy off, no tag manager", false, false, false, true, false, 0 },
        { "tag manager without its initializer", true, true, false, false, true, 0 },
        { "tag manager with its initializer", true, true, true, false, false, 1 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int initializations = 0;
        classes_.clear();
        if (c.tagManagerLinked) {
            classes_.insert(QStringLiteral("VTMTagManager"));
            APMClassRegistry::registerClassName(QStringLiteral("VTMTagManager"));
            if (c.tagManagerHasInitializer) {
                APMClassRegistry::registerClassMethod(QStringLiteral("VTMTagManager"),
                    QStringLiteral("initializeSharedInstance"), [&initializations] { ++initializations; });
            }
        }
        APMAnalytics::Environment e = frontEndEnvironment();
        e.appDelegateProxyEnabled = [&c] { return c.proxyEnabled; };
        APMAnalytics::resetForTesting(e);
        clearLog();
        start();
        EXPECT_EQ(loggedCodes().contains(25036), c.expectProxyMessage);
        EXPECT_EQ(loggedCodes().contains(25016), c.expectTagManagerMessage);
        EXPECT_EQ(initializations, c.expectedInitializations);
        APMClassRegistry::unregisterClassName(QStringLiteral("VTMTagManager"));
        if (c.proxyEnabled) {
            EXPECT_TRUE(fakes::FakeHttpServer::waitUntil(
                [] { return APMAppDelegateInterceptor::sharedInstance().isRegistered(); }));
        }
    }
}

// The upload on resigning active queues behind the front end's own work, so
// an event the front end still holds is in it.
TEST_F(FrontEndEngineStartTest, TheUploadOnResigningActiveCarriesTheEventsTheFrontEndHeld)
{
    start();
    // A current configuration: the only upload is the one on resigning.
    rcfg::ConfigBuilder config(kFrontEndAppID);
    config.setting(QStringLiteral("measurement.config.cache_time"), QStringLiteral("86400000"));
    fetchConfiguration(config);
    forgetAccepted();
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    APMAnalytics::dispatchAsyncOnSerialQueue([opened] { opened.wait(); });
    APMAnalytics::logEventWithName(QStringLiteral("held_event"), {});
    platform::NotificationCenter::defaultCenter().post(platform::ApplicationStateNotifier::kWillResignActive);
    gate.set_value();
    drain();
    ASSERT_TRUE(fakes::FakeHttpServer::waitUntil([this] {
        drain();
        return acceptedNames().contains(QStringLiteral("held_event"));
    })) << "the upload left before the held event reached the engine";
}

} // namespace front_end_engine_start_test
