// The connector other libraries of the platform use: which origins, events,
// parameters and user properties pass, listeners by origin, the limit query
// and conditional user properties.
#include "FrontEndTestFixture.h"

#include "analytics/interface/BASAnalytics.h"
#include "analytics/interface/BASAnalyticsConnector.h"
#include "analytics/interface/BASApp.h"
#include "analytics/interface/BASConnectorUtils.h"

using namespace front_end_test;

namespace {

class ConnectorTest : public FrontEndFixture {
protected:
    ConnectorTest() { BASApp::resetForTesting(); }
    ~ConnectorTest() override { BASApp::resetForTesting(); }

    // Waits for the front end, the engine and then the connector's own queue.
    static void drainConnector()
    {
        drain();
        BASAnalyticsConnector::queue().sync([] {});
    }
};

// Records what it heard, from the listener queue the test runs.
class RecordingInteropListener final : public BASAnalyticsInteropListener {
public:
    void messageTriggered(const QString& name, const QVariantMap& parameters) override
    {
        names.append(name);
        lastParameters = parameters;
    }
    QStringList names;
    QVariantMap lastParameters;
};

} // namespace

TEST(ConnectorUtils, WhatOtherLibrariesMayUse)
{
    struct OriginCase {
        QString origin;
        bool allowed;
        bool app;
        bool listens;
    };
    const QList<OriginCase> origins {
        { QStringLiteral("app"), false, true, false },
        { QStringLiteral("auto"), false, false, false },
        { QStringLiteral("am"), false, false, false },
        { QStringLiteral("app+vtm"), true, true, false },
        { QStringLiteral("apple"), true, false, false },
        { QStringLiteral("biam"), true, false, true },
        { QStringLiteral("crash"), true, false, true },
        { QStringLiteral("bcm"), true, false, false },
    };
    for (const OriginCase& c : origins) {
        SCOPED_TRACE(c.origin.toStdString());
        EXPECT_EQ(BASConnectorUtils::isOriginAllowed(c.origin), c.allowed);
        EXPECT_EQ(BASConnectorUtils::isAppOrigin(c.origin), c.app);
        EXPECT_EQ(BASConnectorUtils::isListenerOriginAllowed(c.origin), c.listens);
    }

    struct PropertyCase {
        QString name;
        QString origin;
        bool allowed;
        bool queryable;
    };
    const QList<PropertyCase> properties {
        { QStringLiteral("_ln"), QStringLiteral("bcm"), true, false },
        { QStringLiteral("_ln"), QStringLiteral("biam"), true, false },
        { QStringLiteral("_ln"), QStringLiteral("crash"), false, false },
        { QStringLiteral("_fot"), QStringLiteral("bcm"), false, true },
        { QStringLiteral("_id"), QStringLiteral("bcm"), false, false },
        { QStringLiteral("_ltv_USD"), QStringLiteral("bcm"), false, false },
        { QStringLiteral("_ltv_usd"), QStringLiteral("bcm"), true, false },
        { QStringLiteral("_ltv_USDX"), QStringLiteral("bcm"), true, false },
        { QStringLiteral("_cc3"), QStringLiteral("bcm"), false, false },
        { QStringLiteral("_cc6"), QStringLiteral("bcm"), true, false },
        { QStringLiteral("favourite"), QStringLiteral("bcm"), true, true },
        { QString(), QStringLiteral("bcm"), false, false },
    };
    for (const PropertyCase& c : properties) {
        SCOPED_TRACE((c.name + QLatin1Char('/') + c.origin).toStdString());
        EXPECT_EQ(BASConnectorUtils::isUserPropertyAllowed(c.name, c.origin), c.allowed);
        EXPECT_EQ(BASConnectorUtils::isUserPropertyAllowedForQuery(c.name), c.queryable);
    }

    EXPECT_FALSE(BASConnectorUtils::shouldLogEventWithName(QString(), {}));
    EXPECT_FALSE(BASConnectorUtils::shouldLogEventWithName(QStringLiteral("_s"), {}));
    EXPECT_FALSE(BASConnectorUtils::shouldLogEventWithName(QStringLiteral("fine"), { { QStringLiteral("_dbg"), 1 } }));
    EXPECT_TRUE(BASConnectorUtils::shouldLogEventWithName(QStringLiteral("fine"), { { QStringLiteral("_o"), 1 } }));
    EXPECT_FALSE(BASConnectorUtils::isEventNameAllowedForListeners(QStringLiteral("campaign_details")));
    EXPECT_TRUE(BASConnectorUtils::isEventNameAllowedForListeners(QStringLiteral("_cmp")));
}

TEST(ConnectorUtils, SimplifiedParametersKeepNumbersAndTexts)
{
    const QVariantMap simplified = BASAnalyticsConnector::simplifiedParametersFromEventParameters({
        { QStringLiteral("plain"), 3 },
        { QStringLiteral("text"), QStringLiteral("t") },
        { QStringLiteral("int"), QVariant::fromValue(APMValue::initWithInt64(7)) },
        { QStringLiteral("double"), QVariant::fromValue(APMValue::initWithDouble(1.5)) },
        { QStringLiteral("string"), QVariant::fromValue(*APMValue::initWithString(QStringLiteral("s"))) },
        { QStringLiteral("list"), QVariantList { 1 } },
    });
    EXPECT_EQ(simplified,
        QVariantMap({ { QStringLiteral("plain"), 3 }, { QStringLiteral("text"), QStringLiteral("t") },
            { QStringLiteral("int"), qint64(7) }, { QStringLiteral("double"), 1.5 }, { QStringLiteral("string"), QStringLiteral("s") } }));
}

TEST_F(ConnectorTest, LoadAnnouncesTheLibraryAndOffersOneLazyComponent)
{
    BASAnalyticsConnector::load();
    EXPECT_EQ(BASApp::registeredLibraries().value(QStringLiteral("basalt-analytics")), QStringLiteral("10.27.0"));
    const auto components = BASAnalyticsConnector::componentsToRegister();
    ASSERT_EQ(components.size(), 1);
    EXPECT_EQ(components[0].protocol, QStringLiteral("BASAnalyticsInterop"));
    EXPECT_EQ(components[0].timing, BASComponent<BASAnalyticsInterop>::Lazy);
    bool cacheable = true;
    EXPECT_NE(components[0].creationBlock(&cacheable), nullptr);
    EXPECT_FALSE(cacheable);
}

TEST_F(ConnectorTest, EventsFromOtherLibrariesAreCheckedAndMarked)
{
    start();
    listen();
    const auto connector = BASAnalyticsConnector::create();
    connector->logEventWithOrigin(QStringLiteral("app"), QStringLiteral("from_app"), {});
    connector->logEventWithOrigin(QStringLiteral("auto"), QStringLiteral("from_auto"), {});
    connector->logEventWithOrigin(QStringLiteral("bcm"), QStringLiteral("debugged"), { { QStringLiteral("_dbg"), 1 } });
    connector->logEventWithOrigin(QStringLiteral("bdl"), QStringLiteral("_cmp"), { { QStringLiteral("source"), QStringLiteral("x") } });
    connector->logEventWithOrigin(QStringLiteral("clx"), QStringLiteral("_ae"), {});
    drain();
    const std::vector<HeardEvent> events = heard();
    ASSERT_EQ(events.size(), 2U);
    EXPECT_EQ(events[0].name, QStringLiteral("_cmp"));
    EXPECT_EQ(events[0].origin, QStringLiteral("bdl"));
    EXPECT_EQ(events[0].parameters.value(QStringLiteral("_cis")), QVariant(QStringLiteral("bdl_integration")));
    EXPECT_EQ(events[1].name, QStringLiteral("_ae"));
    EXPECT_EQ(events[1].parameters.value(QStringLiteral("_r")), QVariant(qint64(1)));
}

TEST_F(ConnectorTest, UserPropertiesAndTheirQuery)
{
    start();
    const auto connector = BASAnalyticsConnector::create();
    connector->setUserPropertyWithOrigin(QStringLiteral("bcm"), QStringLiteral("_ln"), QStringLiteral("de"));
    connector->setUserPropertyWithOrigin(QStringLiteral("crash"), QStringLiteral("_ln"), QStringLiteral("fr"));
    connector->setUserPropertyWithOrigin(QStringLiteral("bcm"), QStringLiteral("_ltv_USD"), 5);
    connector->setUserPropertyWithOrigin(QStringLiteral("app"), QStringLiteral("plain"), QStringLiteral("p"));
    connector->setUserPropertyWithOrigin(QStringLiteral("biam"), QStringLiteral("shown"), QStringLiteral("yes"));
    APMAnalytics::sharedInstance().setInternalUserProperty(qint64(1700000000000), QStringLiteral("_fot"), QStringLiteral("auto"));
    drain();
    const QVariantMap stored = userProperties();
    EXPECT_EQ(stored.value(QStringLiteral("_ln")), QVariant(QStringLiteral("de")));
    EXPECT_FALSE(stored.contains(QStringLiteral("_ltv_USD")));
    EXPECT_FALSE(stored.contains(QStringLiteral("plain")));

    std::optional<QVariantMap> answer;
    connector->getUserPropertiesWithCallback([&answer](const QVariantMap& properties) { answer = properties; });
    drainConnector();
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(*answer,
        QVariantMap({ { QStringLiteral("shown"), QStringLiteral("yes") }, { QStringLiteral("_fot"), qint64(1700000000000) } }));
}

TEST_F(ConnectorTest, MaxUserPropertiesWaitsForItsAnswerOrGivesZero)
{
    // Before start nothing answers: the bounded wait gives 0.
    BASAnalyticsConnector::Environment impatient;
    impatient.maxUserPropertiesWait = 0;
    EXPECT_EQ(BASAnalyticsConnector::create(impatient)->maxUserProperties(QStringLiteral("biam")), 0);
    start();
    EXPECT_EQ(BASAnalyticsConnector::create()->maxUserProperties(QStringLiteral("biam")), 25);
}

TEST_F(ConnectorTest, ListenersHearTheirOwnOriginAndEveryAppOrigin)
{
    start();
    fakes::VirtualTime listenerQueue;
    BASAnalyticsConnector::Environment e;
    e.listenerQueue = &listenerQueue;
    const auto connector = BASAnalyticsConnector::create(e);
    const auto inApp = std::make_shared<RecordingInteropListener>();
    const auto crash = std::make_shared<RecordingInteropListener>();
    connector->registerAnalyticsListener(inApp, QStringLiteral("biam"));
    connector->registerAnalyticsListener(crash, QStringLiteral("clx"));
    connector->registerAnalyticsListener(std::make_shared<RecordingInteropListener>(), QStringLiteral("bcm")); // not allowed
    drain();
    const auto logFrom = [this, &listenerQueue](const QString& origin, const QString& name) {
        BASAnalytics::logEventWithOrigin(origin, false, name, { { QStringLiteral("k"), QStringLiteral("v") } }, time_.now(), true, true);
        drainConnector();
        listenerQueue.runPending();
    };
    logFrom(QStringLiteral("app+vtm"), QStringLiteral("_from_app"));
    EXPECT_EQ(inApp->names, QStringList({ QStringLiteral("_from_app") }));
    EXPECT_EQ(crash->names, QStringList({ QStringLiteral("_from_app") }));
    EXPECT_EQ(inApp->lastParameters.value(QStringLiteral("k")), QVariant(QStringLiteral("v")));

    logFrom(QStringLiteral("biam"), QStringLiteral("_shown"));
    logFrom(QStringLiteral("bcm"), QStringLiteral("_unheard"));
    logFrom(QStringLiteral("biam"), QStringLiteral("campaign_details"));
    EXPECT_EQ(inApp->names, QStringList({ QStringLiteral("_from_app"), QStringLiteral("_shown") }));
    EXPECT_EQ(crash->names, QStringList({ QStringLiteral("_from_app") }));

    connector->unregisterAnalyticsListenerWithOrigin(QStringLiteral("biam"));
    connector->unregisterAnalyticsListenerWithOrigin(QStringLiteral("clx"));
    clearLog();
    logFrom(QStringLiteral("app+vtm"), QStringLiteral("_after"));
    EXPECT_EQ(crash->names.size(), 1);
    EXPECT_FALSE(loggedCodes().contains(25015)); // the front end's listener went cleanly
}

TEST_F(ConnectorTest, ConditionalUserPropertiesSetQueryAndClear)
{
    start();
    const auto connector = BASAnalyticsConnector::create();
    connector->setConditionalUserProperty({});
    connector->setConditionalUserProperty({
        { QStringLiteral("name"), QStringLiteral("cup_plan") },
        { QStringLiteral("origin"), QStringLiteral("brc") },
        { QStringLiteral("value"), QStringLiteral("gold") },
        { QStringLiteral("triggerTimeout"), 100 },
        { QStringLiteral("timeToLive"), 1000 },
        { QStringLiteral("creationTimestamp"), time_.now() },
        { QStringLiteral("noSuchKey"), 1 },
    });
    connector->setConditionalUserProperty({
        { QStringLiteral("name"), QStringLiteral("cup_count") },
        { QStringLiteral("origin"), QStringLiteral("brc") },
        { QStringLiteral("value"), 3 },
        { QStringLiteral("triggerTimeout"), 100 },
        { QStringLiteral("timeToLive"), 1000 },
    });
    drain();
    // Only properties with a text value are listed.
    EXPECT_EQ(connector->conditionalUserProperties(QStringLiteral("brc"), QStringLiteral("cup_")),
        QList<QVariantMap>({ { { QStringLiteral("name"), QStringLiteral("cup_plan") }, { QStringLiteral("value"), QStringLiteral("gold") } } }));
    EXPECT_TRUE(connector->conditionalUserProperties(QStringLiteral("bcm"), QStringLiteral("cup_")).isEmpty());

    connector->clearConditionalUserProperty(QStringLiteral("ignored"), QStringLiteral("brc"), QStringLiteral("_cleared"),
        { { QStringLiteral("cup_plan"), QStringLiteral("gold") } });
    drain();
    EXPECT_TRUE(connector->conditionalUserProperties(QStringLiteral("brc"), QStringLiteral("cup_plan")).isEmpty());
}
