// The deferred deep link: when the engine may ask for it, what it sends to
// the ad-services host (checked by the fake on 127.0.0.1), and what each
// answer does to the retrieval state.
#include "LifecycleTestSupport.h"

#include "analytics/base/APMCampaignURL.h"
#include "analytics/base/APMDeepLinkStore.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/engine/APMUploadScheduler.h"
#include "fakes/FakeAdServicesServer.h"

#include <QFile>

using namespace lifecycle_test;

namespace {

const QString kAdvertisingID = QStringLiteral("6D92078A-8246-4BA4-AE5B-76104861E7DC");
const QString kSwitchKey = QStringLiteral("VIREO_ANALYTICS_DEFERRED_DEEP_LINK_ENABLED");

class DeepLinkDeferredTest : public LifecycleFixture {
protected:
    DeepLinkDeferredTest()
    {
        adServicesURL_ = server_.url();
        infoDictionary_.insert(kSwitchKey, true);
        tracking_.setAvailable(kAdvertisingID, platform::TrackingAuthorization::Authorized);
    }

    // A first launch whose configuration is already fresh, so the start asks
    // at once (an expired one with DMA consent waits for the fetch).
    void launchWithFreshConfiguration(bool dma = true)
    {
        launch();
        rcfg::ConfigBuilder config;
        config.setting(QStringLiteral("measurement.upload.dma_consent_enabled"), dma ? "1" : "0");
        ASSERT_TRUE(configure(config));
        restart();
        launch();
    }

    bool askNow()
    {
        bool allowed = false;
        engine_->dispatchSyncOnWorkerQueue([&] {
            allowed = engine_->shouldAllowRequestDeferredDeepLink();
            if (allowed)
                engine_->requestDeferredDeepLink();
        });
        settle();
        return allowed;
    }

    fakes::FakeAdServicesServer server_;
};

TEST_F(DeepLinkDeferredTest, AnExpiredConfigurationWithDMAMakesTheRequestWaitForTheFetch)
{
    launch();
    EXPECT_TRUE(engine_->shouldRequestDeferredDeepLinkAfterConfigFetch());
    EXPECT_EQ(server_.requestCount(), 0);
}

TEST_F(DeepLinkDeferredTest, TheWaitingRequestGoesOutOnceTheConfigurationFetchSucceeds)
{
    struct Case {
        const char* name;
        int configStatus;
        bool asks;
    };
    const Case cases[] = {
        { "no configuration on the server", 404, true },
        { "configuration not modified", 304, true },
        { "server error: still waiting", 500, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshInstall();
        infoDictionary_.insert(kSwitchKey, true);
        configServer_.setAnswer(fakes::FakeConfigServer::Answer::withStatus(c.configStatus));
        const int before = server_.requestCount();
        launch();
        ASSERT_TRUE(engine_->shouldRequestDeferredDeepLinkAfterConfigFetch());
        server_.script({ fakes::FakeAdServicesServer::Reply::text("", 204) });
        engine_->dispatchSyncOnWorkerQueue([this] { engine_->fetchRemoteConfig(); });
        settle(); // the configuration
        settle(); // the deep link it lets out
        ASSERT_EQ(server_.requestCount(), before + (c.asks ? 1 : 0));
        EXPECT_EQ(engine_->shouldRequestDeferredDeepLinkAfterConfigFetch(), !c.asks);
        if (c.asks) {
            const auto lookup = server_.lookups().last();
            EXPECT_TRUE(lookup.problems.isEmpty()) << lookup.problems.join(QStringLiteral("; ")).toStdString();
            EXPECT_EQ(lookup.value(QStringLiteral("rdid")), kAdvertisingID);
            EXPECT_EQ(persisted_->deferredDeepLinkRetrievalComplete(), QVariant(qint64(0)));
        }
    }
}

TEST_F(DeepLinkDeferredTest, TheStartAsksOnceWithAWellFormedQuery)
{
    server_.script({ fakes::FakeAdServicesServer::Reply::json(QByteArray(R"({"deeplink":"pravik://welcome?utm_source=ad","timestamp":12})")) });
    launchWithFreshConfiguration(false);
    settle();
    ASSERT_EQ(server_.requestCount(), 1);
    const auto lookup = server_.lookups()[0];
    EXPECT_TRUE(lookup.problems.isEmpty()) << lookup.problems.join(QStringLiteral("; ")).toStdString();
    EXPECT_EQ(lookup.value(QStringLiteral("sdk_version")), QString::number(APMMeasurement::kAppMetricsLibraryVersion));
    EXPECT_EQ(lookup.value(QStringLiteral("rdid")), kAdvertisingID);
    EXPECT_EQ(lookup.value(QStringLiteral("bundleid")), QStringLiteral("org.pravik.test"));
    EXPECT_EQ(lookup.value(QStringLiteral("retry")), QStringLiteral("0"));
    EXPECT_FALSE(lookup.has(QStringLiteral("dma"))); // DMA consent off: no consent keys
    EXPECT_FALSE(lookup.has(QStringLiteral("ddl_test")));
    EXPECT_EQ(persisted_->deferredDeepLinkRetrievalComplete(), QVariant(qint64(0)));

    // Retrieved: later launches do not ask again.
    restart();
    launch();
    settle();
    EXPECT_EQ(server_.requestCount(), 1);
}

TEST_F(DeepLinkDeferredTest, SomethingStoredThatIsNoLinkIsDroppedAndTheNextStartAsks)
{
    launch();
    rcfg::ConfigBuilder config;
    config.setting(QStringLiteral("measurement.upload.dma_consent_enabled"), "0");
    ASSERT_TRUE(configure(config));
    restart();
    deepLinks_->setObject(QVariant(qint64(42)), APMDeepLinkStore::kDeepLinkKey);
    const int before = server_.requestCount();
    launch();
    settle();
    // This start saw something stored and went to report it, not to ask.
    EXPECT_EQ(server_.requestCount(), before);
    EXPECT_FALSE(deepLinks_->objectForKey(APMDeepLinkStore::kDeepLinkKey).isValid());

    server_.script({ fakes::FakeAdServicesServer::Reply::text("", 204) });
    restart();
    launch();
    settle();
    EXPECT_EQ(server_.requestCount(), before + 1);
}

TEST_F(DeepLinkDeferredTest, ValuesCannotAddPairsToTheQuery)
{
    // An application identifier is the application's own text: it travels
    // as one value, whatever it holds.
    bundleIdentifier_ = QStringLiteral("org.pravik&rdid=forged&evil=1 #+%");
    launch();
    server_.script({ fakes::FakeAdServicesServer::Reply::text("", 204) });
    ASSERT_TRUE(askNow());
    ASSERT_EQ(server_.requestCount(), 1);
    const auto lookup = server_.lookups()[0];
    EXPECT_TRUE(lookup.problems.isEmpty()) << lookup.problems.join(QStringLiteral("; ")).toStdString();
    EXPECT_EQ(lookup.value(QStringLiteral("bundleid")), bundleIdentifier_);
    EXPECT_EQ(lookup.value(QStringLiteral("rdid")), kAdvertisingID);
}

TEST_F(DeepLinkDeferredTest, ConsentAndDebugKeysJoinTheQuery)
{
    struct Case {
        const char* name;
        QVariantMap consent;
        QVariantMap expected; // key -> value; an invalid value: key absent
    };
    const QVariant absent;
    const Case cases[] = {
        { "no consent given", {}, { { "dma_cps", absent }, { "npa", absent }, { "gcs", "G1--" } } },
        { "ad user data denied", { { "ad_user_data", "denied" } }, { { "dma_cps", "-" } } },
        { "personalization granted", { { "ad_personalization", "granted" } }, { { "npa", "0" } } },
        { "personalization denied", { { "ad_personalization", "denied" } }, { { "npa", "1" } } },
        { "storage granted", { { "ad_storage", "granted" }, { "analytics_storage", "denied" } },
            { { "gcs", "G110" } } },
    };
    launch();
    rcfg::ConfigBuilder config;
    config.setting(QStringLiteral("measurement.upload.dma_consent_enabled"), "1");
    ASSERT_TRUE(configure(config));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        APMConsentSettingsUtil::clearAllSettings();
        if (!c.consent.isEmpty())
            APMConsentSettingsUtil::setConsentSettings(c.consent);
        server_.script({ fakes::FakeAdServicesServer::Reply::text("", 204) });
        const int before = server_.requestCount();
        ASSERT_TRUE(askNow());
        ASSERT_EQ(server_.requestCount(), before + 1);
        const auto lookup = server_.lookups().last();
        EXPECT_TRUE(lookup.problems.isEmpty()) << lookup.problems.join(QStringLiteral("; ")).toStdString();
        EXPECT_EQ(lookup.value(QStringLiteral("dma")),
            engine_->remoteConfigInstance()->isDMARegion() ? QStringLiteral("1") : QStringLiteral("0"));
        for (auto it = c.expected.cbegin(); it != c.expected.cend(); ++it) {
            EXPECT_EQ(lookup.has(it.key()), it->isValid()) << it.key().toStdString();
            if (it->isValid()) {
                EXPECT_EQ(lookup.value(it.key()), it->toString()) << it.key().toStdString();
            }
        }
        persisted_->setDeferredDeepLinkRetrievalComplete(QVariant());
    }

    // The debug argument asks the host for its test link.
    restart();
    APMMeasurement::Environment e = lifecycleEnvironment();
    e.processArguments = QStringList { QStringLiteral("pravik"), QStringLiteral("-DebugDeferredDeepLink") };
    server_.script({ fakes::FakeAdServicesServer::Reply::text("", 204) });
    start(QString(), true, &e);
    settle();
    EXPECT_EQ(server_.lookups().last().value(QStringLiteral("ddl_test")), QStringLiteral("1"));
}

TEST_F(DeepLinkDeferredTest, InADMARegionTheCorePlatformServicesGoSortedAndJoined)
{
    struct Case {
        const char* name;
        bool dmaRegion;
        QStringList services;
        QString dma;
        QVariant cps; // invalid: absent
    };
    const Case cases[] = {
        { "region with services", true, { "zeta", "alpha", "mid" }, "1", QStringLiteral("alphamidzeta") },
        { "region without services", true, {}, "1", QVariant() },
        { "outside the region", false, { "zeta", "alpha" }, "0", QVariant() },
    };
    launch();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rcfg::ConfigBuilder config;
        config.setting(QStringLiteral("measurement.upload.dma_consent_enabled"), "1");
        config.consent({}, {}, c.services, c.dmaRegion, {});
        ASSERT_TRUE(configure(config));
        persisted_->setDeferredDeepLinkRetrievalComplete(QVariant());
        server_.script({ fakes::FakeAdServicesServer::Reply::text("", 204) });
        ASSERT_TRUE(askNow());
        const auto lookup = server_.lookups().last();
        EXPECT_TRUE(lookup.problems.isEmpty()) << lookup.problems.join(QStringLiteral("; ")).toStdString();
        EXPECT_EQ(lookup.value(QStringLiteral("dma")), c.dma);
        EXPECT_EQ(lookup.has(QStringLiteral("dma_cps")), c.cps.isValid());
        if (c.cps.isValid()) {
            EXPECT_EQ(lookup.value(QStringLiteral("dma_cps")), c.cps.toString());
        }
    }
}

TEST_F(DeepLinkDeferredTest, EachAnswerSetsTheRetrievalState)
{
    using Reply = fakes::FakeAdServicesServer::Reply;
    struct Case {
        const char* name;
        Reply reply;
        QVariant complete; // the retrieval mark afterwards
        qint64 retries;
    };
    const Case cases[] = {
        { "link found", Reply::json(QByteArray(R"({"deeplink":"pravik://x"})")), qint64(0), 0 },
        { "no content", Reply::text("", 204), qint64(0), 0 },
        { "not modified, no body", Reply::text("", 304), qint64(0), 0 },
        { "answer is not JSON", Reply::text("<html>", 200), qint64(0), 0 },
        { "link is not an address", Reply::json(QByteArray(R"({"deeplink":"not a link"})")), qint64(0), 0 },
        { "server error", Reply::text("oops", 500), QVariant(), 1 },
        { "not found", Reply::text("", 404), QVariant(), 1 },
        { "connection dropped", Reply::closeConnection(), QVariant(), 1 },
    };
    launch();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        persisted_->setDeferredDeepLinkRetrievalComplete(QVariant());
        persisted_->setDeferredDeepLinkRetryCount(0);
        server_.script({ c.reply });
        ASSERT_TRUE(askNow());
        EXPECT_FALSE(engine_->uploads().isNetworkRequestPending());
        EXPECT_EQ(persisted_->deferredDeepLinkRetrievalComplete(), c.complete);
        EXPECT_EQ(persisted_->deferredDeepLinkRetryCount(), c.retries);
    }
}

TEST_F(DeepLinkDeferredTest, FailedLookupsAreRetriedOnLaterLaunchesUpToTheLimit)
{
    rcfg::ConfigBuilder config;
    launch();
    config.setting(QStringLiteral("measurement.ddl.retry_count"), QStringLiteral("2"));
    config.setting(QStringLiteral("measurement.upload.dma_consent_enabled"), "0");
    ASSERT_TRUE(configure(config));
    server_.setFallback(fakes::FakeAdServicesServer::Reply::text("", 500));
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        ASSERT_TRUE(askNow());
        EXPECT_EQ(server_.lookups().last().value(QStringLiteral("retry")), QString::number(attempt));
    }
    EXPECT_EQ(persisted_->deferredDeepLinkRetryCount(), 2);
    EXPECT_FALSE(askNow()); // the limit marks the retrieval done without asking
    EXPECT_EQ(persisted_->deferredDeepLinkRetrievalComplete(), QVariant(qint64(1)));
    EXPECT_EQ(server_.requestCount(), 2);
}

TEST_F(DeepLinkDeferredTest, TheLookupIsAllowedOnlyWithEverythingInPlace)
{
    struct Case {
        const char* name;
        std::function<void()> arrange;
        bool allowed;
    };
    const Case cases[] = {
        { "everything in place", [] { }, true },
        { "switched off remotely",
            [this] {
                rcfg::ConfigBuilder config;
                config.setting(QStringLiteral("measurement.ddl.enabled"), QStringLiteral("0"));
                ASSERT_TRUE(configure(config));
            },
            false },
        { "no switch in the dictionary", [this] { infoDictionary_.remove(kSwitchKey); }, false },
        { "switch off", [this] { infoDictionary_.insert(kSwitchKey, false); }, false },
        { "switch not a number", [this] { infoDictionary_.insert(kSwitchKey, "yes"); }, false },
        { "already retrieved",
            [this] { persisted_->setDeferredDeepLinkRetrievalComplete(qint64(0)); }, false },
        { "retry limit 0",
            [this] {
                rcfg::ConfigBuilder config;
                config.setting(QStringLiteral("measurement.ddl.retry_count"), QStringLiteral("0"));
                ASSERT_TRUE(configure(config));
            },
            false },
        { "ad storage denied",
            [] {
                APMConsentSettingsUtil::setConsentSettings(QVariantMap { { "ad_storage", "denied" } });
            },
            false },
        { "no advertising identifier", [this] { tracking_.setUnavailable(); }, false },
        { "all-zero identifier",
            [this] {
                tracking_.setAvailable(platform::TrackingAuthorization::kZeroIdentifier,
                    platform::TrackingAuthorization::Authorized);
            },
            false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshInstall();
        infoDictionary_ = { { kSwitchKey, true } };
        tracking_.setAvailable(kAdvertisingID, platform::TrackingAuthorization::Authorized);
        launch();
        c.arrange();
        // Dictionary changes take effect at the next launch.
        restart();
        launch();
        time_.advance(2);
        identity_->updateIdentifiersAndWait();
        bool allowed = false;
        engine_->dispatchSyncOnWorkerQueue([&] { allowed = engine_->shouldAllowRequestDeferredDeepLink(); });
        EXPECT_EQ(allowed, c.allowed);
    }
}

TEST_F(DeepLinkDeferredTest, RepliesGiveADeepLinkOnlyForAnAbsoluteAddress)
{
    struct Case {
        const char* body;
        bool found;
    };
    const Case cases[] = {
        { R"({"deeplink":"pravik://welcome"})", true },
        { R"({"deeplink":"https://example.org/x?a=1","timestamp":5})", true },
        { R"({"deeplink":"relative/path"})", false },
        { R"({"deeplink":""})", false },
        { R"({"deeplink":42})", false },
        { R"({"deeplink":null})", false },
        { R"({"other":"pravik://x"})", false },
        { R"(["pravik://x"])", false },
        { R"("pravik://x")", false },
        { "", false },
        { "{", false },
        { "\xff\xfe", false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        const auto info = APMCampaignURL::deepLinkInfoFromResponseData(QByteArray(c.body), APMMeasurement::monitor());
        EXPECT_EQ(info.has_value(), c.found);
    }
}

} // namespace
