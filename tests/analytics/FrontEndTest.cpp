// The analytics front end: start and its checks, the held operation queue,
// enabling, events, listeners, the interceptor, session id and reset.
#include "FrontEndTestFixture.h"
#include "ScriptedSession.h"

#include "analytics/base/APMValue.h"
#include "analytics/model/APMUserAttribute.h"

#include <QRegularExpression>

using namespace front_end_test;

namespace {

class FrontEndTest : public FrontEndFixture { };

const QString kStartNotification = QStringLiteral("kBASAnalyticsWillStartNotification");

} // namespace

TEST_F(FrontEndTest, WorkBeforeStartIsTimestampedAtTheCallAndRunsBehindTheEngineStart)
{
    listen();
    const double first = time_.now();
    APMAnalytics::logEventWithName(QStringLiteral("early_one"), { { QStringLiteral("n"), 1 } });
    time_.advance(5);
    APMAnalytics::logEventWithName(QStringLiteral("early_two"), {});
    APMAnalytics::queue().sync([] {});
    EXPECT_FALSE(APMMeasurement::hasSharedInstance());
    EXPECT_TRUE(APMAnalytics::isOperationQueueSuspended());

    time_.advance(60);
    start();
    ASSERT_TRUE(APMMeasurement::hasSharedInstance());
    EXPECT_FALSE(APMAnalytics::isOperationQueueSuspended());
    const std::vector<HeardEvent> events = heard();
    ASSERT_EQ(events.size(), 2U);
    EXPECT_EQ(events[0].name, QStringLiteral("early_one"));
    EXPECT_EQ(events[0].origin, QStringLiteral("app"));
    EXPECT_DOUBLE_EQ(events[0].timestamp, first);
    EXPECT_EQ(events[0].parameters.value(QStringLiteral("n")), QVariant(qint64(1)));
    EXPECT_EQ(events[1].name, QStringLiteral("early_two"));
    EXPECT_DOUBLE_EQ(events[1].timestamp, first + 5);
}

TEST_F(FrontEndTest, WorkPostedDirectlyBeforeStartFindsNoEngine)
{
    bool sawEngine = true;
    APMAnalytics::dispatchAsyncOnSerialQueue([&sawEngine] { sawEngine = APMMeasurement::hasSharedInstance(); });
    bool queuedSawEngine = false;
    APMAnalytics::queueOperationWithBlock([&queuedSawEngine] { queuedSawEngine = APMMeasurement::hasSharedInstance(); });
    APMAnalytics::queue().sync([] {});
    EXPECT_FALSE(sawEngine);
    EXPECT_FALSE(queuedSawEngine); // still held
    start();
    EXPECT_TRUE(queuedSawEngine);
}

TEST_F(FrontEndTest, SecondStartRepeatsTheChecksAndTheLogTagButStartsNothing)
{
    int willStart = 0;
    const platform::ObserverToken token
        = notifications_.addObserver(kStartNotification, [&willStart](const platform::Notification&) { ++willStart; });
    start({ { APMAnalytics::kLogTagOption, QStringLiteral("FirstTag") } });
    APMMeasurement* engine = APMMeasurement::sharedInstance();
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->appID(), kFrontEndAppID);
    EXPECT_EQ(APMMeasurement::monitor().logTag(), QStringLiteral("FirstTag"));

    APMAnalytics::startWithAppID(QStringLiteral("1:999:linux:ffff"), APMAnalytics::kPlatformOrigin,
        { { APMAnalytics::kLogTagOption, QStringLiteral("SecondTag") } });
    drain();
    EXPECT_EQ(APMMeasurement::sharedInstance(), engine);
    EXPECT_EQ(engine->appID(), kFrontEndAppID);
    EXPECT_EQ(willStart, 1);
    EXPECT_EQ(APMMeasurement::monitor().logTag(), QStringLiteral("SecondTag"));

    classes_.insert(QStringLiteral("BASADatabase"));
    clearLog();
    APMAnalytics::startWithAppID(kFrontEndAppID, APMAnalytics::kPlatformOrigin, {});
    EXPECT_EQ(loggedCodes(), QList<qint64>({ 25029 }));
}

TEST_F(FrontEndTest, StartChecksDeferOrWarnByWhatIsPresent)
{
    struct Case {
        const char* label;
        QStringList classes;
        QString origin;
        QString plistPath;
        bool serviceDictionary;
        QVariantMap options;
        QList<qint64> codes;
        bool starts;
    };
    const QVariantMap goodTag { { APMAnalytics::kLogTagOption, QStringLiteral("Tag") } };
    const QList<Case> cases {
        { "older database class", { QStringLiteral("BASADatabase") }, QStringLiteral("fa"), {}, false, goodTag,
            { 25029 }, false },
        { "public interface present, start from the ad library",
            { QStringLiteral("BASAnalytics") }, QStringLiteral("am"), {}, false, goodTag, { 25026 }, false },
        { "no public interface but a service file", {}, QStringLiteral("fa"), QStringLiteral("/x/VireoService-Info.plist"),
            false, goodTag, { 25027 }, false },
        { "ad library not linked to the app", { QStringLiteral("BASAnalytics"), QStringLiteral("ADNMobileAds") },
            QStringLiteral("fa"), {}, true, goodTag, { 25028 }, true },
        { "tag that is not text", {}, QStringLiteral("fa"), {}, false,
            { { APMAnalytics::kLogTagOption, 5 } }, { 25030 }, true },
        { "empty options take no tag", {}, QStringLiteral("fa"), {}, false, {}, {}, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        APMAnalytics::resetForTesting(frontEndEnvironment());
        clearLog();
        classes_ = QSet<QString>(c.classes.begin(), c.classes.end());
        serviceInfoPlistPath_ = c.plistPath;
        serviceInfoDictionary_
            = c.serviceDictionary ? std::optional<QVariantMap>(QVariantMap { { QStringLiteral("k"), 1 } }) : std::nullopt;
        APMAnalytics::startWithAppID(kFrontEndAppID, c.origin, c.options);
        drain();
        QList<qint64> codes;
        for (qint64 code : loggedCodes()) {
            if (code != 25020) // the app ID change of a first start
                codes.append(code);
        }
        EXPECT_EQ(codes, c.codes);
        EXPECT_EQ(APMMeasurement::hasSharedInstance(), c.starts);
        EXPECT_EQ(APMAnalytics::isOperationQueueSuspended(), !c.starts);
    }
}

TEST_F(FrontEndTest, StartTakesTheAppIDAndASafelistThatPassesWhole)
{
    struct Case {
        const char* label;
        QVariant safelist;
        QStringList expected;
        QList<qint64> codes;
    };
    const QList<Case> cases {
        { "valid names", QVariantList { QStringLiteral("_s"), QStringLiteral("level_up") },
            { QStringLiteral("_s"), QStringLiteral("level_up") }, {} },
        { "not an array", QStringLiteral("_s"), {}, { 25034 } },
        { "one bad name drops all", QVariantList { QStringLiteral("_s"), 7 }, {}, { 25035 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        APMAnalytics::resetForTesting(frontEndEnvironment());
        clearLog();
        start({ { APMAnalytics::kSafelistedEventsOption, c.safelist },
            { APMAnalytics::kLogTagOption, QStringLiteral("Tag") } });
        ASSERT_NE(APMMeasurement::sharedInstance(), nullptr);
        EXPECT_EQ(APMMeasurement::sharedInstance()->safelistedEvents(), c.expected);
        QList<qint64> codes = loggedCodes();
        codes.removeAll(25020);
        EXPECT_EQ(codes, c.codes);
    }
    // The platform's app ID is stored with the identity; a change is logged once.
    EXPECT_EQ(identity_->appIDFromVMP(), kFrontEndAppID);
}

TEST_F(FrontEndTest, DeactivatedCollectionCannotBeEnabledButCanBeDisabled)
{
    start({ { APMAnalytics::kCollectionDeactivatedOption, true }, { APMAnalytics::kCollectionEnabledOption, true } });
    EXPECT_FALSE(APMAnalytics::isEnabled());
    APMAnalytics::setAnalyticsEnabled(true, true);
    drain();
    EXPECT_FALSE(APMAnalytics::isEnabled());
    EXPECT_FALSE(APMMeasurement::sharedInstance()->isEnabled());

    APMAnalytics::setAnalyticsEnabled(false, true);
    drain();
    EXPECT_FALSE(APMAnalytics::isEnabled());
    EXPECT_EQ(persisted_->measurementEnabledState(), 2);
}

TEST_F(FrontEndTest, EnablingReachesTheEngineAndPersistsOnlyWhenAsked)
{
    start({ { APMAnalytics::kCollectionEnabledOption, false } });
    EXPECT_FALSE(APMAnalytics::isEnabled());
    APMAnalytics::setAnalyticsEnabled(true);
    drain();
    EXPECT_TRUE(APMAnalytics::isEnabled());
    EXPECT_TRUE(APMMeasurement::sharedInstance()->isEnabled());
    EXPECT_EQ(persisted_->measurementEnabledState(), 0);

    APMAnalytics::setAnalyticsEnabled(false, true);
    drain();
    EXPECT_FALSE(APMMeasurement::sharedInstance()->isEnabled());
    EXPECT_EQ(persisted_->measurementEnabledState(), 2);
}

TEST_F(FrontEndTest, TheConfigurationObjectSwitchesCollectionByNotification)
{
    const QVariant configuration = QStringLiteral("configuration-1");
    start({ { APMAnalytics::kConfigurationOption, configuration } });
    ASSERT_TRUE(APMAnalytics::isEnabled());
    const QString& key = APMAnalytics::kConfigurationSetEnabledNotification;

    notifications_.post(key, QStringLiteral("another object"), { { key, false } });
    drain();
    EXPECT_TRUE(APMAnalytics::isEnabled());
    notifications_.post(key, configuration, { { key, QStringLiteral("no") } });
    drain();
    EXPECT_TRUE(APMAnalytics::isEnabled());
    EXPECT_TRUE(loggedCodes().contains(25000));
    notifications_.post(key, configuration, { { key, false } });
    drain();
    EXPECT_FALSE(APMAnalytics::isEnabled());
    EXPECT_EQ(persisted_->measurementEnabledState(), 0); // not persisted
}

TEST_F(FrontEndTest, HoldingTheOperationQueueReleasesItHalfASecondLater)
{
    start();
    QStringList ran;
    QMutex mutex;
    const auto record = [&](const QString& what) {
        return [&, what] {
            QMutexLocker lock(&mutex);
            ran.append(what);
        };
    };
    APMAnalytics::queueOperationWithBlockThenWait(record(QStringLiteral("held")));
    APMAnalytics::queueOperationWithBlock(record(QStringLiteral("after")));
    drain();
    EXPECT_EQ(ran, QStringList({ QStringLiteral("held") }));
    EXPECT_TRUE(APMAnalytics::isOperationQueueSuspended());
    time_.advance(0.49);
    drain();
    EXPECT_EQ(ran, QStringList({ QStringLiteral("held") }));
    time_.advance(0.01);
    drain();
    EXPECT_EQ(ran, QStringList({ QStringLiteral("held"), QStringLiteral("after") }));
    EXPECT_FALSE(APMAnalytics::isOperationQueueSuspended());
}

TEST_F(FrontEndTest, RefusedEventNamesLogAnErrorEventInstead)
{
    start();
    listen();
    struct Case {
        QString name;
        qint64 errorCode;
    };
    const QList<Case> cases {
        { QStringLiteral("_reserved"), 2 },
        { QStringLiteral("basalt_event"), 13 },
        { QStringLiteral("1starts_with_digit"), 2 },
        { QString(41, QLatin1Char('a')), 2 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        clearLog();
        APMAnalytics::logEventWithName(c.name, {});
        drain();
        EXPECT_EQ(heardErrorCodes(), QList<qint64>({ c.errorCode }));
        EXPECT_FALSE(heardNames().contains(c.name));
    }
}

TEST_F(FrontEndTest, ListenerRemovalRefusalsAndDelivery)
{
    start();
    APMAnalytics::removeLogEventListener(7);
    drain();
    EXPECT_EQ(loggedCodes(), QList<qint64>({ 25014 })); // before any was added

    clearLog();
    EXPECT_EQ(APMAnalytics::addLogEventListener(nullptr), 0U);
    APMAnalytics::removeLogEventListener(0);
    EXPECT_EQ(loggedCodes(), QList<qint64>({ 25012, 25013 }));

    clearLog();
    const APMAnalytics::ListenerToken token = listen();
    APMAnalytics::removeLogEventListener(token + 100);
    drain();
    EXPECT_EQ(loggedCodes(), QList<qint64>({ 25015 }));

    APMAnalytics::logEventWithName(QStringLiteral("heard"), {});
    drain();
    APMAnalytics::removeLogEventListener(token);
    APMAnalytics::logEventWithName(QStringLiteral("not_heard"), {});
    drain();
    EXPECT_EQ(heardNames(), QStringList({ QStringLiteral("heard") }));

    // A token is never handed out twice: removing a stale one leaves a newer listener alone.
    clearLog();
    const APMAnalytics::ListenerToken newer = listen();
    EXPECT_NE(newer, token);
    APMAnalytics::removeLogEventListener(token);
    APMAnalytics::logEventWithName(QStringLiteral("heard_by_newer"), {});
    drain();
    EXPECT_EQ(loggedCodes(), QList<qint64>({ 25015 }));
    EXPECT_EQ(heardNames(), QStringList({ QStringLiteral("heard_by_newer") }));
}

TEST_F(FrontEndTest, TheInterceptorTakesPublicEventsOnly)
{
    start();
    listen();
    QStringList intercepted;
    QMutex mutex;
    APMAnalytics::setLogEventInterceptor([&](const QString&, const QString& name, const QVariantMap&, double) {
        QMutexLocker lock(&mutex);
        intercepted.append(name);
    });
    APMAnalytics::logEventWithName(QStringLiteral("public_one"), {});
    APMAnalytics::logInternalEventWithOrigin(QStringLiteral("auto"), QStringLiteral("_internal"), {});
    APMAnalytics::logEventWithOrigin(QStringLiteral("app"), true, QStringLiteral("forwarded"), {}, time_.now(), false, true);
    drain();
    EXPECT_EQ(intercepted, QStringList({ QStringLiteral("public_one") }));
    EXPECT_EQ(heardNames(), QStringList({ QStringLiteral("_internal"), QStringLiteral("forwarded") }));
}

TEST_F(FrontEndTest, TheInterceptorReceivesTheCallersParametersWithTheDefaultsAdded)
{
    start();
    APMAnalytics::setDefaultEventParameters(
        QVariantMap { { QStringLiteral("shelf"), QStringLiteral("top") }, { QStringLiteral("level"), 1 } });
    drain();
    QVariantMap received;
    QMutex mutex;
    APMAnalytics::setLogEventInterceptor(
        [&](const QString&, const QString&, const QVariantMap& parameters, double) {
            QMutexLocker lock(&mutex);
            received = parameters;
        });
    APMAnalytics::logEventWithName(QStringLiteral("pick"), { { QStringLiteral("level"), 2 } });
    drain();
    QMutexLocker lock(&mutex);
    const auto plain = [](const QVariant& value) {
        return value.metaType() == QMetaType::fromType<APMValue>() ? value.value<APMValue>().plainValue()
                                                                   : value;
    };
    // The default joins; the caller's own value of a default's name wins.
    EXPECT_EQ(plain(received.value(QStringLiteral("shelf"))), QVariant(QStringLiteral("top")));
    EXPECT_EQ(plain(received.value(QStringLiteral("level"))).toLongLong(), 2);
}

TEST_F(FrontEndTest, ForwardedEventsCarryTheirScreenParametersAsScreenParameters)
{
    start();
    listen();
    APMAnalytics::logEventWithOrigin(QStringLiteral("app+vtm"), false, QStringLiteral("_vs"),
        { { QStringLiteral("_sn"), QStringLiteral("Settings") }, { QStringLiteral("_si"), 5 }, { QStringLiteral("k"), 1 } },
        time_.now(), true, true);
    drain();
    const std::vector<HeardEvent> events = heard();
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(events[0].parameters.value(QStringLiteral("_sn")), QVariant(QStringLiteral("Settings")));
    EXPECT_EQ(events[0].parameters.value(QStringLiteral("_si")), QVariant(qint64(5)));
    EXPECT_EQ(events[0].parameters.value(QStringLiteral("k")), QVariant(qint64(1)));
}

TEST_F(FrontEndTest, DefaultEventParametersReachTheEngineOnlyWhenEnabled)
{
    start();
    listen();
    APMAnalytics::setDefaultEventParameters(QVariantMap { { QStringLiteral("shop"), QStringLiteral("north") } });
    APMAnalytics::logEventWithName(QStringLiteral("with_defaults"), {});
    drain();
    ASSERT_EQ(heard().size(), 1U);
    EXPECT_EQ(heard()[0].parameters.value(QStringLiteral("shop")), QVariant(QStringLiteral("north")));

    APMAnalytics::setAnalyticsEnabled(false);
    APMAnalytics::setDefaultEventParameters(std::nullopt);
    drain();
    EXPECT_EQ(persisted_->defaultEventParameters().value_or(QVariantMap()).value(QStringLiteral("shop")),
        QVariant(QStringLiteral("north")));
}

TEST_F(FrontEndTest, SessionIDAnswers)
{
    const auto session = std::make_shared<session_test::ScriptedSession>();
    session_ = session;
    struct Answer {
        qint64 id = -1;
        std::optional<APMError> error;
    };
    const auto ask = [] {
        Answer answer;
        APMAnalytics::sessionIDWithCompletion([&answer](qint64 id, const std::optional<APMError>& error) {
            answer = { id, error };
        });
        drain();
        return answer;
    };
    APMAnalytics::sessionIDWithCompletion(nullptr);
    EXPECT_EQ(loggedCodes(), QList<qint64>({ 25050 }));

    Answer answer = ask();
    EXPECT_EQ(answer.id, 0);
    ASSERT_TRUE(answer.error.has_value());
    EXPECT_EQ(answer.error->code(), 13);
    EXPECT_EQ(answer.error->localizedDescription(), QStringLiteral("Analytics uninitialized"));

    start();
    answer = ask();
    ASSERT_TRUE(answer.error.has_value());
    EXPECT_EQ(answer.error->localizedDescription(), QStringLiteral("Session ID not found"));

    const auto stored = APMUserAttribute::initWithOrigin(
        QStringLiteral("auto"), QStringLiteral("_sid"), APMValue::initWithInt64(1700000123), time_.now());
    ASSERT_TRUE(stored.has_value());
    APMMeasurement::sharedInstance()->setUserAttribute(stored);
    answer = ask();
    EXPECT_FALSE(answer.error.has_value());
    EXPECT_EQ(answer.id, 1700000123);

    session->expired = true;
    answer = ask();
    ASSERT_TRUE(answer.error.has_value());
    EXPECT_EQ(answer.error->localizedDescription(), QStringLiteral("Session expired"));
    session->expired = false;

    APMAnalytics::setAnalyticsEnabled(false);
    answer = ask();
    ASSERT_TRUE(answer.error.has_value());
    EXPECT_EQ(answer.error->localizedDescription(), QStringLiteral("Analytics disabled"));
}

TEST_F(FrontEndTest, ResetKeepsItsBookkeepingAndANewAppInstanceID)
{
    start();
    const QString before = APMAnalytics::appInstanceID();
    EXPECT_FALSE(before.isEmpty());
    time_.advance(100);
    APMAnalytics::resetAnalyticsData();
    EXPECT_DOUBLE_EQ(APMAnalytics::loadTimestamp(), time_.now());
    EXPECT_EQ(APMAnalytics::resetRetryCount(), 1);
    EXPECT_TRUE(APMAnalytics::needFirstOpenAfterReset());
    const QString after = APMAnalytics::appInstanceID();
    EXPECT_NE(after, before);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{32}$")).match(after).hasMatch()) << after.toStdString();
    EXPECT_EQ(APMAnalytics::appInstanceIDAfterReset(), after);

    // With analytics storage denied no identifier is handed out or kept.
    APMAnalytics::setConsent({ { APMConsentSettingsUtil::kAnalyticsStorage, APMConsentSettingsUtil::kDenied } });
    APMAnalytics::resetAnalyticsData();
    EXPECT_EQ(APMAnalytics::resetRetryCount(), 2);
    EXPECT_TRUE(APMAnalytics::appInstanceID().isNull());
    EXPECT_EQ(APMAnalytics::appInstanceIDAfterReset(), after);

    APMAnalytics::setResetRetryCount(0);
    EXPECT_FALSE(preferences_->objectForKey(APMAnalytics::kResetRetryCountKey).isValid());
}

TEST_F(FrontEndTest, AdEventIDsFromTheAdLibraryBecomeNumbers)
{
    struct Case {
        const char* event;
        QString sent;
        QVariant received;
    };
    const QString twentyDigits = QStringLiteral("12345678901234567890");
    const QList<Case> cases {
        { "_ad_shown", QStringLiteral("12345"), QVariant(qint64(12345)) },
        { "_ad_decimal", QStringLiteral("12.5"), QVariant(qint64(12)) }, // the whole part
        { "_ad_point", QStringLiteral("12."), QVariant(qint64(12)) },
        { "_ad_negative", QStringLiteral("-7.9"), QVariant(qint64(-7)) },
        { "_ad_fraction", QStringLiteral(".5"), QVariant(qint64(0)) },
        // Beyond 64 bits: kept as sent rather than clamped or zeroed.
        { "_ad_twenty", twentyDigits, QVariant(twentyDigits) },
        { "_ad_clicked", QStringLiteral("x12"), QVariant(QStringLiteral("x12")) },
    };
    start();
    const APMAnalytics& frontEnd = APMAnalytics::sharedInstance();
    for (const Case& c : cases) {
        frontEnd.logLibraryInternalEventWithOrigin(
            QStringLiteral("am"), QString::fromLatin1(c.event), { { QStringLiteral("_aeid"), c.sent } });
    }
    drain();
    EXPECT_EQ(loggedCodes(), QList<qint64>({ 25024, 25024 }));
    advance(15);
    QMap<QString, QVariant> ids;
    for (const auto& event : server_.acceptedEvents())
        ids.insert(event.name, event.parameters.value(QStringLiteral("_aeid")));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.event);
        EXPECT_EQ(ids.value(QString::fromLatin1(c.event)), c.received);
    }
}
