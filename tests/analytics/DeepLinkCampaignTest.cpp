// Opened addresses as campaign events: which queries are campaigns, which
// parameters they give, and that malformed or hostile queries give the
// campaign parameters or nothing.
#include "LifecycleTestSupport.h"

#include "analytics/base/APMCampaignURL.h"
#include "analytics/base/APMDeepLinkStore.h"
#include "analytics/base/APMHelpers.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMUserDefaults.h"
#include "analytics/engine/APMDeepLinkHandler.h"
#include "platform/ApplicationStateNotifier.h"
#include "platform/NotificationCenter.h"

#include <QFile>

using namespace lifecycle_test;

namespace {

const QString kCampaign = QStringLiteral("_cmp");

class DeepLinkCampaignTest : public LifecycleFixture {
protected:
    // The campaign events one opened address gives.
    QList<SeenEvent> open(const QUrl& url, double eventTime, const QVariantMap& extras = {},
        std::optional<qint64> click = std::nullopt)
    {
        editor_->clear();
        engine_->dispatchSyncOnWorkerQueue([&] { engine_->handleOpenURLOnWorkerQueue(url, click, eventTime, extras); });
        drain();
        QList<SeenEvent> campaigns = editor_->named(kCampaign);
        campaigns.append(editor_->named(QStringLiteral("_cmpx")));
        return campaigns;
    }
};

TEST_F(DeepLinkCampaignTest, QueriesGiveTheirCampaignParametersOrNothing)
{
    const QString longValue(5000, QLatin1Char('x'));
    struct Case {
        const char* name;
        QString url;
        std::optional<QVariantMap> expected; // nothing: no campaign event
    };
    const Case cases[] = {
        { "only an optional key", "pravik://open?utm_content=x", std::nullopt },
        { "optional and required key", "pravik://open?utm_content=x&utm_source=y",
            QVariantMap { { "content", "x" }, { "source", "y" } } },
        { "empty required key is not one", "pravik://open?utm_campaign=&utm_term=t", std::nullopt },
        { "empty value is not copied", "pravik://open?utm_campaign=&utm_medium=m", QVariantMap { { "medium", "m" } } },
        { "every key renamed", "https://example.org/p?aclid=1&anid=2&utm_campaign=3&cis=4&utm_content=5&cp1=6"
                               "&utm_medium=7&utm_source=8&utm_term=9&utm_id=10&utm_creative_format=11"
                               "&utm_marketing_tactic=12&utm_source_platform=13&sfmc_id=14",
            QVariantMap { { "aclid", "1" }, { "anid", "2" }, { "campaign", "3" }, { "_cis", "4" }, { "content", "5" },
                { "cp1", "6" }, { "medium", "7" }, { "source", "8" }, { "term", "9" }, { "campaign_id", "10" },
                { "creative_format", "11" }, { "marketing_tactic", "12" }, { "source_platform", "13" },
                { "sfmc_id", "14" } } },
        { "unknown keys dropped", "pravik://open?foo=bar&utm_source=s&_o=app", QVariantMap { { "source", "s" } } },
        { "first of a repeated key", "pravik://open?utm_source=a&utm_source=b", QVariantMap { { "source", "a" } } },
        { "plus and escapes decoded", "pravik://open?utm_source=a+b%20c%2Bd", QVariantMap { { "source", "a b c+d" } } },
        { "escaped key", "pravik://open?utm%5Fsource=s", QVariantMap { { "source", "s" } } },
        { "non-ASCII text", "pravik://open?utm_source=%E2%9C%93%F0%9F%90%AD", QVariantMap { { "source", "✓🐭" } } },
        // An address keeps a stray "%" as the character itself.
        { "malformed escape", "pravik://open?utm_source=%zz&utm_medium=m",
            QVariantMap { { "source", "%zz" }, { "medium", "m" } } },
        { "truncated escape", "pravik://open?utm_source=%4", QVariantMap { { "source", "%4" } } },
        { "escape that is not UTF-8", "pravik://open?utm_source=%C3%28", std::nullopt },
        { "key without equals sign", "pravik://open?utm_source", std::nullopt },
        { "value holding equals signs", "pravik://open?utm_source=a=b=c", QVariantMap { { "source", "a=b=c" } } },
        { "separators only", "pravik://open?&&&=&", std::nullopt },
        { "no query", "pravik://open", std::nullopt },
        { "fragment is not query", "pravik://open#utm_source=s", std::nullopt },
        { "query before a fragment", "pravik://open?utm_source=s#utm_medium=m", QVariantMap { { "source", "s" } } },
        { "not an address at all", "::::", std::nullopt },
        { "escaped NUL", "pravik://open?utm_source=a%00b", QVariantMap { { "source", QString::fromUtf16(u"a\0b", 3) } } },
    };
    launch();
    const double eventTime = time_.now() + 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QList<SeenEvent> campaigns = open(QUrl(c.url), eventTime);
        if (!c.expected) {
            EXPECT_TRUE(campaigns.isEmpty());
            continue;
        }
        ASSERT_EQ(campaigns.size(), 1);
        QVariantMap parameters = campaigns[0].parameters;
        parameters.remove(QStringLiteral("_o"));
        EXPECT_EQ(parameters, *c.expected);
        EXPECT_EQ(campaigns[0].origin, QStringLiteral("auto"));
        EXPECT_EQ(campaigns[0].timestamp, eventTime);
    }
}

TEST_F(DeepLinkCampaignTest, LongValuesKeepTheirLengthLimits)
{
    launch();
    for (const qsizetype length : { qsizetype(257), qsizetype(100'000), qsizetype(2'000'000) }) {
        SCOPED_TRACE(length);
        const QString value(length, QLatin1Char('v'));
        const QList<SeenEvent> campaigns
            = open(QUrl(QStringLiteral("pravik://open?utm_source=%1&vbraid=%1").arg(value)), time_.now());
        ASSERT_EQ(campaigns.size(), 1);
        const QString source = campaigns[0].parameters.value(QStringLiteral("source")).toString();
        EXPECT_LE(source.size(), 256);
        EXPECT_TRUE(value.startsWith(source));
        // Too long for a user property: not stored at all.
        EXPECT_FALSE(userProperty(QStringLiteral("_vbraid")).has_value());
    }
}

TEST_F(DeepLinkCampaignTest, ClickIdentifiersNeedAnIdentifierOrTrackingConsent)
{
    struct Case {
        const char* name;
        std::optional<QString> identifier;
        std::optional<quint64> status;
        bool clickIDsKept;
    };
    const Case cases[] = {
        { "no identifier, no consent", std::nullopt, std::nullopt, false },
        { "no identifier, denied", std::nullopt, platform::TrackingAuthorization::Denied, false },
        { "no identifier, authorised", std::nullopt, platform::TrackingAuthorization::Authorized, true },
        { "an identifier", QStringLiteral("6D92078A-8246-4BA4-AE5B-76104861E7DC"),
            platform::TrackingAuthorization::Authorized, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshInstall();
        if (c.identifier || c.status)
            tracking_.setAvailable(c.identifier, c.status);
        else
            tracking_.setUnavailable();
        launch();
        identity_->updateIdentifiersAndWait();
        const QList<SeenEvent> campaigns
            = open(QUrl(QStringLiteral("pravik://o?vclid=V&dclid=D&srsltid=S&vbraid=B&utm_source=s")), time_.now());
        ASSERT_EQ(campaigns.size(), 1);
        const QVariantMap& p = campaigns[0].parameters;
        for (const char* clickID : { "vclid", "dclid", "srsltid" })
            EXPECT_EQ(p.contains(QLatin1String(clickID)), c.clickIDsKept) << clickID;
        EXPECT_EQ(p.value(QStringLiteral("vbraid")).toString(), QStringLiteral("B"));
        const auto vbraid = userProperty(QStringLiteral("_vbraid"));
        ASSERT_TRUE(vbraid.has_value());
        EXPECT_EQ(vbraid->value().stringValue(), QStringLiteral("B"));
        EXPECT_EQ(vbraid->origin(), QStringLiteral("auto"));
    }
}

TEST_F(DeepLinkCampaignTest, ExtrasTimesAndTheCachedCampaignName)
{
    launch();
    const double firstOpen = double(persisted_->firstOpenTimestampMilliseconds()) / 1000.0;
    // String extras sit under the query (query values win); number extras
    // over the parameters.
    QList<SeenEvent> campaigns = open(QUrl(QStringLiteral("pravik://o?utm_source=query")), firstOpen - 500,
        { { "utm_source", "extra" }, { "utm_medium", "extra" }, { "_cc", qint64(1) }, { "source", qint64(7) } }, 1234);
    ASSERT_EQ(campaigns.size(), 1);
    EXPECT_EQ(campaigns[0].name, QStringLiteral("_cmpx"));
    EXPECT_EQ(campaigns[0].parameters.value(QStringLiteral("source")), QVariant(qint64(7)));
    EXPECT_EQ(campaigns[0].parameters.value(QStringLiteral("medium")).toString(), QStringLiteral("extra"));
    EXPECT_EQ(campaigns[0].parameters.value(QStringLiteral("click_timestamp")), QVariant(qint64(1234)));
    EXPECT_EQ(campaigns[0].timestamp, firstOpen); // never before the first open

    campaigns = open(QUrl(QStringLiteral("pravik://o?utm_source=q")), firstOpen + 5, { { "_cc", qint64(2) } });
    ASSERT_EQ(campaigns.size(), 1);
    EXPECT_EQ(campaigns[0].name, kCampaign);
    EXPECT_EQ(campaigns[0].timestamp, firstOpen + 5);
}

TEST_F(DeepLinkCampaignTest, AnOpenedAddressIsReportedFromAnyThreadButTheWorkerQueue)
{
    launch();
    editor_->clear();
    engine_->handleNonFirstOpenEventURL(QUrl(QStringLiteral("pravik://o?utm_source=tray")), time_.now() + 1);
    settleReports();
    ASSERT_EQ(editor_->named(kCampaign).size(), 1);
    EXPECT_FALSE(editor_->named(kCampaign)[0].parameters.contains(QStringLiteral("click_timestamp")));

    editor_->clear();
    engine_->dispatchSyncOnWorkerQueue([&] {
        engine_->handleNonFirstOpenEventURL(QUrl(QStringLiteral("pravik://o?utm_source=tray")), time_.now());
    });
    settleReports();
    EXPECT_TRUE(editor_->named(kCampaign).isEmpty());

    engine_->deepLinks().handleOpenURL(QUrl(), std::nullopt, time_.now()); // nothing to report
    settleReports();
    EXPECT_TRUE(editor_->named(kCampaign).isEmpty());
}

TEST_F(DeepLinkCampaignTest, UserActivitiesGiveTheirPageAddressWhenBrowsing)
{
    const QUrl page(QStringLiteral("https://example.org/a?utm_source=web"));
    struct Case {
        const char* name;
        std::optional<APMUserActivity> activity;
        std::optional<QUrl> expected;
    };
    const Case cases[] = {
        { "none", std::nullopt, std::nullopt },
        { "browsing with a page", APMUserActivity { APMUserActivity::kBrowsingWebActivityType, page }, page },
        { "browsing without a page", APMUserActivity { APMUserActivity::kBrowsingWebActivityType, QUrl() },
            std::nullopt },
        { "another activity", APMUserActivity { QStringLiteral("org.pravik.dictate"), page }, std::nullopt },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(APMMeasurement::deepLinkFromUserActivity(c.activity), c.expected);
    }
}

TEST_F(DeepLinkCampaignTest, TheLaunchAddressIsKeptForTheNextStart)
{
    const QUrl page(QStringLiteral("https://example.org/a?utm_source=web"));
    const QUrl launchURL(QStringLiteral("pravik://open?utm_source=launch"));
    const QVariant browsing = QVariant::fromValue(APMUserActivity { APMUserActivity::kBrowsingWebActivityType, page });
    const QVariant other = QVariant::fromValue(APMUserActivity { QStringLiteral("other"), page });
    const auto activities = [](const QVariant& activity) {
        return QVariantMap { { APMDeepLinkHandler::kLaunchOptionsUserActivityKey, activity } };
    };
    struct Case {
        const char* name;
        QVariantMap userInfo;
        QString stored; // empty: nothing
    };
    const Case cases[] = {
        { "browsing activity", { { APMDeepLinkHandler::kLaunchOptionsUserActivityDictionaryKey, activities(browsing) } },
            page.toString() },
        { "activity wins over the address",
            { { APMDeepLinkHandler::kLaunchOptionsUserActivityDictionaryKey, activities(browsing) },
                { APMDeepLinkHandler::kLaunchOptionsURLKey, launchURL } },
            page.toString() },
        { "other activity, then the address",
            { { APMDeepLinkHandler::kLaunchOptionsUserActivityDictionaryKey, activities(other) },
                { APMDeepLinkHandler::kLaunchOptionsURLKey, launchURL } },
            launchURL.toString() },
        { "address only", { { APMDeepLinkHandler::kLaunchOptionsURLKey, launchURL } }, launchURL.toString() },
        { "relative address", { { APMDeepLinkHandler::kLaunchOptionsURLKey, QUrl(QStringLiteral("open?x=1")) } }, "" },
        { "address of the wrong kind", { { APMDeepLinkHandler::kLaunchOptionsURLKey, 42 } }, "" },
        { "activity of the wrong kind",
            { { APMDeepLinkHandler::kLaunchOptionsUserActivityDictionaryKey, activities(QStringLiteral("x")) } }, "" },
        { "nothing", {}, "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clearStoredDeepLink(*deepLinks_);
        APMDeepLinkHandler::handleStoredURLAfterAppLaunchWithNotification(c.userInfo, deepLinks_.get(), &time_);
        EXPECT_EQ(deepLinks_->stringForKey(APMDeepLinkStore::kDeepLinkKey), c.stored);
        if (!c.stored.isEmpty()) {
            EXPECT_EQ(deepLinks_->doubleForKey(APMDeepLinkStore::kDeepLinkTimestampKey), time_.now());
        }
    }
    // The next start reports the kept address as its campaign.
    clearStoredDeepLink(*deepLinks_);
    APMDeepLinkHandler::handleStoredURLAfterAppLaunchWithNotification(
        { { APMDeepLinkHandler::kLaunchOptionsURLKey, launchURL } }, deepLinks_.get(), &time_);
    launch();
    ASSERT_EQ(editor_->named(kCampaign).size(), 1);
    EXPECT_EQ(editor_->named(kCampaign)[0].parameters.value(QStringLiteral("source")).toString(), QStringLiteral("launch"));
}

TEST_F(DeepLinkCampaignTest, TheLaunchNotificationKeepsItsAddressInTheSharedStore)
{
    // The launch hook has no store of its own: it keeps the address where
    // the engine's default start looks for it.
    APMConfigStore& shared = APMUserDefaults::sharedUserDefaults();
    const QUrl launchURL(QStringLiteral("pravik://open?utm_source=hook"));
    struct Case {
        const char* name;
        QVariantMap userInfo;
        QString stored; // empty: nothing
    };
    const Case cases[] = {
        { "launched with an address", { { APMDeepLinkHandler::kLaunchOptionsURLKey, launchURL } }, launchURL.toString() },
        { "launched plainly", {}, "" },
    };
    platform::NotificationCenter launchCenter;
    APMMeasurement::subscribeForAppDidFinishLaunchingNotifications(launchCenter);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clearStoredDeepLink(shared);
        launchCenter.post(platform::ApplicationStateNotifier::kDidFinishLaunching, {}, c.userInfo);
        EXPECT_EQ(shared.stringForKey(APMDeepLinkStore::kDeepLinkKey), c.stored);
        EXPECT_EQ(shared.objectForKey(APMDeepLinkStore::kDeepLinkTimestampKey).isValid(), !c.stored.isEmpty());
    }
    clearStoredDeepLink(shared);
}

TEST_F(DeepLinkCampaignTest, HttpArgumentsAreSplitAndDecoded)
{
    struct Case {
        const char* text;
        QVariantMap expected;
    };
    const Case cases[] = {
        { "", {} },
        { "a=1&b=2", { { "a", "1" }, { "b", "2" } } },
        { "a=1&a=2", { { "a", "1" } } },
        { "a&b=", { { "a", "" }, { "b", "" } } },
        { "=v", { { "", "v" } } },
        { "a=%2", { { "a", "" } } },
        { "a=%ff", { { "a", "" } } },
        { "%zz=1", { { "", "1" } } },
        { "a+b=c+d", { { "a b", "c d" } } },
        { "a=%2B", { { "a", "+" } } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(apm_dictionaryWithHttpArgumentsString(QString::fromUtf8(c.text)), c.expected);
    }
    EXPECT_TRUE(apm_stringByUnescapingFromURLArgument(QStringLiteral("%")).isNull());
    EXPECT_EQ(apm_stringByUnescapingFromURLArgument(QString()), QLatin1String(""));
}

} // namespace
