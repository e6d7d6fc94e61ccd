// User properties and the user id through the front end, within their
// limits, the personalized-ads setting, and the queries about them.
#include "FrontEndTestFixture.h"

#include "analytics/base/APMValue.h"

using namespace front_end_test;

namespace {

class FrontEndUserPropertyTest : public FrontEndFixture { };

} // namespace

TEST_F(FrontEndUserPropertyTest, PublicUserPropertiesWithinTheirLimits)
{
    start();
    listen();
    struct Case {
        const char* label;
        QVariant value;
        QString name;
        QVariant stored; // invalid: nothing stored
        QList<qint64> errorEvents;
        QList<qint64> logCodes;
    };
    const QList<Case> cases {
        { "valid", QStringLiteral("blue"), QStringLiteral("colour"), QStringLiteral("blue"), {}, {} },
        { "reserved prefix", QStringLiteral("x"), QStringLiteral("basalt_colour"), {}, { 15 }, {} },
        { "internal name", QStringLiteral("x"), QStringLiteral("_colour"), {}, { 6 }, {} },
        { "name too long", QStringLiteral("x"), QString(25, QLatin1Char('n')), {}, { 6 }, {} },
        { "value too long", QString(37, QLatin1Char('v')), QStringLiteral("long_value"), {}, { 7 }, {} },
        { "value of 36 fits", QString(36, QLatin1Char('v')), QStringLiteral("just_fits"), QString(36, QLatin1Char('v')),
            {}, {} },
        { "not text", 42, QStringLiteral("number_value"), {}, {}, { 25003 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        clearLog();
        APMAnalytics::setUserPropertyString(c.value, c.name);
        drain();
        EXPECT_EQ(userProperties().value(c.name), c.stored);
        EXPECT_EQ(heardErrorCodes(), c.errorEvents);
        EXPECT_EQ(loggedCodes(), c.logCodes);
    }

    // Nil removes.
    APMAnalytics::setUserPropertyString(QVariant(), QStringLiteral("colour"));
    drain();
    EXPECT_FALSE(userProperties().contains(QStringLiteral("colour")));
}

TEST_F(FrontEndUserPropertyTest, TheTwentySixthPublicPropertyIsRefusedWhileReplacingOneSucceeds)
{
    start();
    listen();
    for (int i = 0; i < 25; ++i)
        APMAnalytics::setUserPropertyString(QStringLiteral("v"), QStringLiteral("property_%1").arg(i));
    drain();
    EXPECT_TRUE(heardErrorCodes().isEmpty());
    APMAnalytics::setUserPropertyString(QStringLiteral("v"), QStringLiteral("one_too_many"));
    APMAnalytics::setUserPropertyString(QStringLiteral("changed"), QStringLiteral("property_3"));
    drain();
    const QVariantMap properties = userProperties();
    EXPECT_FALSE(properties.contains(QStringLiteral("one_too_many")));
    EXPECT_EQ(properties.value(QStringLiteral("property_3")), QVariant(QStringLiteral("changed")));
    EXPECT_EQ(heardErrorCodes(), QList<qint64>({ 9 }));
}

TEST_F(FrontEndUserPropertyTest, UserIDIsAnInternalPropertyWithItsOwnLength)
{
    start();
    listen();
    struct Case {
        const char* label;
        QVariant id;
        QVariant stored;
        QList<qint64> errorEvents;
        QList<qint64> logCodes;
    };
    const QList<Case> cases {
        { "text", QStringLiteral("user-1"), QStringLiteral("user-1"), {}, {} },
        { "256 characters", QString(256, QLatin1Char('u')), QString(256, QLatin1Char('u')), {}, {} },
        { "257 characters keep the last", QString(257, QLatin1Char('u')), QString(256, QLatin1Char('u')), { 7 }, {} },
        { "not text", 12, QString(256, QLatin1Char('u')), {}, { 25004 } },
        { "nil removes", QVariant(), QVariant(), {}, {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        clearLog();
        APMAnalytics::setUserID(c.id);
        drain();
        EXPECT_EQ(userProperties().value(QStringLiteral("_id")), c.stored);
        EXPECT_EQ(heardErrorCodes(), c.errorEvents);
        EXPECT_EQ(loggedCodes(), c.logCodes);
    }
}

TEST_F(FrontEndUserPropertyTest, InternalPropertiesCheckTheirOriginAndEachOriginHoldsTwentyFive)
{
    start();
    const APMAnalytics& frontEnd = APMAnalytics::sharedInstance();
    frontEnd.setInternalUserProperty(1, QStringLiteral("_x"), QString());
    frontEnd.setInternalUserProperty(1, QStringLiteral("_x"), QString(33, QLatin1Char('o')));
    drain();
    EXPECT_EQ(loggedCodes(), QList<qint64>({ 25005, 25005 }));
    EXPECT_FALSE(userProperties().contains(QStringLiteral("_x")));

    for (int i = 0; i < 26; ++i)
        frontEnd.setInternalUserProperty(i, QStringLiteral("_p%1").arg(i), QStringLiteral("biam"));
    APMAnalytics::setUserAttributeNumber(2.5, QStringLiteral("score"));
    drain();
    const QVariantMap properties = userProperties();
    EXPECT_TRUE(properties.contains(QStringLiteral("_p24")));
    EXPECT_FALSE(properties.contains(QStringLiteral("_p25")));
    EXPECT_EQ(properties.value(QStringLiteral("_p3")), QVariant(qint64(3)));
    EXPECT_EQ(properties.value(QStringLiteral("score")), QVariant(2.5));
}

TEST_F(FrontEndUserPropertyTest, UserPropertyQueriesAnswerOnTheGivenQueue)
{
    APMAnalytics::userPropertiesIncludingInternal(true, nullptr, nullptr);
    start();
    EXPECT_EQ(loggedCodes(), QList<qint64>({ 25006 }));

    APMAnalytics::setUserPropertyString(QStringLiteral("v"), QStringLiteral("kept"));
    drain();
    fakes::VirtualTime answerQueue;
    std::optional<QVariantMap> answer;
    APMAnalytics::userPropertiesIncludingInternal(
        false, &answerQueue, [&answer](const QVariantMap& properties) { answer = properties; });
    drain();
    EXPECT_FALSE(answer.has_value()); // not until the given queue runs
    answerQueue.runPending();
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(*answer, QVariantMap({ { QStringLiteral("kept"), QStringLiteral("v") } }));

    APMAnalytics::setAnalyticsEnabled(false);
    clearLog();
    answer.reset();
    APMAnalytics::userPropertiesIncludingInternal(
        false, &answerQueue, [&answer](const QVariantMap& properties) { answer = properties; });
    drain();
    answerQueue.runPending();
    EXPECT_EQ(answer, QVariantMap());
    EXPECT_EQ(loggedCodes(), QList<qint64>({ 25008 }));
}

TEST_F(FrontEndUserPropertyTest, MaxUserPropertiesIsTwentyFiveAndArgumentsAreChecked)
{
    start();
    const APMAnalytics& frontEnd = APMAnalytics::sharedInstance();
    fakes::VirtualTime answerQueue;
    qint64 answer = -1;
    frontEnd.maxUserPropertiesForOrigin(QString(), &answerQueue, [&answer](qint64 n) { answer = n; });
    frontEnd.maxUserPropertiesForOrigin(QStringLiteral("biam"), nullptr, [&answer](qint64 n) { answer = n; });
    frontEnd.maxUserPropertiesForOrigin(QStringLiteral("biam"), &answerQueue, nullptr);
    EXPECT_EQ(loggedCodes(), QList<qint64>({ 25009, 25010, 25011 }));
    frontEnd.maxUserPropertiesForOrigin(QStringLiteral("biam"), &answerQueue, [&answer](qint64 n) { answer = n; });
    drain();
    answerQueue.runPending();
    EXPECT_EQ(answer, 25);
}

TEST_F(FrontEndUserPropertyTest, ThePersonalizedAdsPropertyIsKeptAsASettingNotAUserProperty)
{
    start({ { APMAnalytics::kCollectionEnabledOption, false }, { APMAnalytics::kLogTagOption, QStringLiteral("Tag") } });
    struct Case {
        QVariant value;
        QVariant persisted;
    };
    const QList<Case> cases {
        { QStringLiteral("NO"), false },
        { QStringLiteral("YES"), true },
        { QStringLiteral("true"), true },
        { QStringLiteral("false"), false },
        { QStringLiteral(" 007"), true },
        { QStringLiteral("0"), false },
        { QVariant(), QVariant() },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value.toString().toStdString());
        clearLog();
        APMAnalytics::setUserPropertyString(c.value, APMAnalytics::kAllowPersonalizedAdsProperty);
        drain();
        EXPECT_EQ(persisted_->allowPersonalizedAds(), c.persisted);
        EXPECT_EQ(loggedCodes(), QList<qint64>({ 25033 })); // collection is off
    }
    APMAnalytics::setAnalyticsEnabled(true);
    APMAnalytics::setUserPropertyString(QStringLiteral("NO"), APMAnalytics::kAllowPersonalizedAdsProperty);
    drain();
    EXPECT_FALSE(userProperties().contains(APMAnalytics::kAllowPersonalizedAdsProperty));
}
