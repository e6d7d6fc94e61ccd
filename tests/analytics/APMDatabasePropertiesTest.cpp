#include "analytics/model/APMConditionalUserProperty.h"
#include "analytics/base/APMError.h"
#include "analytics/model/APMEvent.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementConfig.h"
#include "analytics/base/APMValue.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"

#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <string>

namespace {

APMEvent event(const QString& name, double timestamp, const QVariantMap& parameters = {})
{
    auto made = APMEvent::initWithOrigin(
        QStringLiteral("app"), false, name, timestamp, 0, parameters, EventParameterLimits());
    EXPECT_TRUE(made) << name.toStdString();
    return *made;
}

APMConditionalUserProperty property(const QString& name, const QString& origin = QStringLiteral("app"))
{
    APMConditionalUserProperty made;
    made.setName(name);
    made.setOrigin(origin);
    made.setValue(APMValue::initWithInt64(1));
    made.setTriggerTimeout(60);
    made.setTimeToLive(100);
    return made;
}

class DatabasePropertiesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = home_.path() + QStringLiteral("/properties.sql");
        APMError error;
        database_ = APMDatabase::initWithDatabasePath(path_, nullptr, &error);
        ASSERT_TRUE(database_) << error.description().toStdString();
        database_->setClock(&time_);
    }

    std::string sqlite(const QString& sql)
    {
        QProcess process;
        process.start(QStringLiteral("sqlite3"), { path_, sql });
        EXPECT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        return process.readAllStandardOutput().trimmed().toStdString();
    }

    void store(const APMConditionalUserProperty& made)
    {
        APMError error;
        ASSERT_TRUE(database_->updateConditionalUserProperty(made, &error))
            << error.description().toStdString();
    }

    // The names, sorted and joined by ",", so a mismatch prints readably.
    static std::string names(const std::optional<QList<APMConditionalUserProperty>>& properties)
    {
        QStringList result;
        for (const auto& p : properties.value_or(QList<APMConditionalUserProperty>()))
            result << p.name();
        std::sort(result.begin(), result.end());
        return result.join(QLatin1Char(',')).toStdString();
    }

    fakes::TempHome home_;
    fakes::VirtualTime time_ { 1000.0 };
    QString path_;
    std::unique_ptr<APMDatabase> database_;
};

TEST_F(DatabasePropertiesTest, RemoteConfigBlobAndTimestamp)
{
    APMError error;
    // Only a fetch time so far: no configuration, and no error.
    ASSERT_TRUE(database_->updateRemoteConfigSuccessfulTimestamp(1234.5, &error));
    EXPECT_FALSE(database_->queryMeasurementConfigWithError(&error));
    EXPECT_EQ(error.code(), 0);
    EXPECT_EQ(database_->lastRemoteConfigUpdateTimestamp(&error), 1234.5);

    auto config = APMPBMeasurementConfig::initWithMessageInfo();
    APMPBSetInt64Field(config.get(), 0, 42);
    APMPBSetStringField(config.get(), 1, QStringLiteral("1:123:ios:abc"));
    ASSERT_TRUE(database_->updateRemoteConfig(*config, &error)) << error.description().toStdString();
    const auto read = database_->queryMeasurementConfigWithError(&error);
    ASSERT_TRUE(read);
    EXPECT_EQ(APMPBGetInt64Field(read.get(), 0), 42);
    EXPECT_EQ(APMPBGetStringField(read.get(), 1), QStringLiteral("1:123:ios:abc"));
    EXPECT_EQ(database_->lastRemoteConfigUpdateTimestamp(&error), time_.now());

    // A configuration without an app ID is refused and changes nothing.
    APMPBSetStringField(config.get(), 1, QString());
    EXPECT_FALSE(database_->updateRemoteConfig(*config, &error));
    EXPECT_EQ(error.code(), APMError::InvalidArgument);
    EXPECT_EQ(error.localizedDescription().toStdString(),
        std::string("Missing Vireo app ID in measurement configuration"));
    EXPECT_FALSE(database_->updateRemoteConfigSuccessfulTimestamp(std::nan(""), &error));
    EXPECT_EQ(database_->lastRemoteConfigUpdateTimestamp(&error), time_.now());

    sqlite(QStringLiteral("UPDATE app_metadata SET remote_config_data = X'FFFFFF'"));
    APMError corrupt;
    EXPECT_FALSE(database_->queryMeasurementConfigWithError(&corrupt));
    EXPECT_EQ(corrupt.code(), APMError::InvalidState);
    EXPECT_EQ(corrupt.localizedDescription().toStdString(), std::string("Remote config data is corrupted"));

    sqlite(QStringLiteral("DELETE FROM app_metadata"));
    APMPBSetStringField(config.get(), 1, QStringLiteral("1:123:ios:abc"));
    EXPECT_FALSE(database_->updateRemoteConfig(*config, &error));
    EXPECT_EQ(error.localizedDescription().toStdString(),
        std::string("Failed to update record. Item doesn't exist"));
}

TEST_F(DatabasePropertiesTest, PurchaseFingerprintsAreRecordedOnceAndTrimmed)
{
    APMError error;
    EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint(QStringLiteral("f0"), &error), true);
    EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint(QStringLiteral("f0"), &error), false);
    EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint(QString(), &error), false);
    EXPECT_EQ(sqlite(QStringLiteral("SELECT count(*) FROM purchase_transactions")), "1");

    ASSERT_TRUE(database_->performTransaction([&] {
        for (int i = 1; i <= 1000; ++i) {
            if (database_->insertIfNotDuplicatePurchaseFingerprint(QStringLiteral("f%1").arg(i), &error)
                != true)
                return false;
        }
        return true;
    })) << error.description().toStdString();
    EXPECT_EQ(sqlite(QStringLiteral("SELECT count(*), min(rowid) > 1, sum(fingerprint = 'f0') FROM "
                                    "purchase_transactions")),
        "1000|1|0");
    // The oldest one left the table, so it counts as new again.
    EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint(QStringLiteral("f0"), &error), true);
    EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint(QStringLiteral("f1000"), &error), false);
}

TEST_F(DatabasePropertiesTest, SubscriptionsAreTrimmedOnRequest)
{
    APMError error;
    EXPECT_EQ(database_->insertIfNotDuplicateSubscriptionID(QString(), &error), false);
    EXPECT_EQ(database_->deleteSubscriptionsOverLimit(&error), 0);
    ASSERT_TRUE(database_->performTransaction([&] {
        for (int i = 0; i < 1005; ++i) {
            if (database_->insertIfNotDuplicateSubscriptionID(QStringLiteral("s%1").arg(i), &error) != true)
                return false;
        }
        return true;
    })) << error.description().toStdString();
    EXPECT_EQ(database_->insertIfNotDuplicateSubscriptionID(QStringLiteral("s3"), &error), false);
    EXPECT_EQ(sqlite(QStringLiteral("SELECT count(*) FROM subscriptions")), "1005");

    EXPECT_EQ(database_->deleteSubscriptionsOverLimit(&error), 5);
    EXPECT_EQ(sqlite(QStringLiteral("SELECT count(*), min(subscription_id = 's5') FROM subscriptions WHERE "
                                    "subscription_id IN ('s0', 's4', 's5', 's1004')")),
        "2|0");
}

TEST_F(DatabasePropertiesTest, ConditionalPropertyRoundTripsEveryValue)
{
    APMConditionalUserProperty written = property(QStringLiteral("vip"));
    written.setValue(*APMValue::initWithString(QStringLiteral("gold")));
    written.setTriggerEventName(QStringLiteral("purchase"));
    written.setTriggerTimeout(60.5);
    written.setTimeToLive(3600);
    written.setCreationTimestamp(1000.25);
    written.setActive(true);
    written.setTriggeredTimestamp(1010.5);
    written.setTriggeredEvent(
        event(QStringLiteral("triggered"), 1.5, { { QStringLiteral("n"), qint64(7) } }));
    written.setTimedOutEvent(
        event(QStringLiteral("timed_out"), 2, { { QStringLiteral("s"), QStringLiteral("x") } }));
    written.setExpiredEvent(event(QStringLiteral("expired"), 3, { { QStringLiteral("d"), 2.5 } }));
    store(written);

    APMError error;
    const auto read = database_->conditionalUserPropertyWithName(QStringLiteral("vip"), &error);
    ASSERT_TRUE(read) << error.description().toStdString();
    EXPECT_EQ(read->origin(), QStringLiteral("app"));
    EXPECT_EQ(read->value(), APMValue::initWithString(QStringLiteral("gold")));
    EXPECT_EQ(read->triggerEventName(), QStringLiteral("purchase"));
    EXPECT_DOUBLE_EQ(read->triggerTimeout(), 60.5);
    EXPECT_DOUBLE_EQ(read->timeToLive(), 3600);
    EXPECT_DOUBLE_EQ(read->creationTimestamp(), 1000.25);
    EXPECT_TRUE(read->isActive());
    EXPECT_DOUBLE_EQ(read->triggeredTimestamp(), 1010.5);
    ASSERT_TRUE(read->triggeredEvent() && read->timedOutEvent() && read->expiredEvent());
    EXPECT_EQ(read->triggeredEvent()->name(), QStringLiteral("triggered"));
    EXPECT_DOUBLE_EQ(read->triggeredEvent()->timestamp(), 1.5);
    EXPECT_EQ(read->triggeredEvent()->parameters().value(QStringLiteral("n")), APMValue::initWithInt64(7));
    EXPECT_EQ(read->timedOutEvent()->parameters().value(QStringLiteral("s")),
        *APMValue::initWithString(QStringLiteral("x")));
    EXPECT_EQ(read->expiredEvent()->parameters().value(QStringLiteral("d")), APMValue::initWithDouble(2.5));

    // Absent parts stay absent: no trigger name, no events.
    store(property(QStringLiteral("plain")));
    EXPECT_EQ(sqlite(QStringLiteral(
                  "SELECT trigger_event_name IS NULL, triggered_event IS NULL, expired_event IS NULL "
                  "FROM conditional_properties WHERE name = 'plain'")),
        "1|1|1");
    const auto plain = database_->conditionalUserPropertyWithName(QStringLiteral("plain"), &error);
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->triggerEventName());
    EXPECT_FALSE(plain->triggeredEvent() || plain->timedOutEvent() || plain->expiredEvent());

    ASSERT_TRUE(database_->deleteConditionalUserPropertyWithName(QStringLiteral("plain"), &error));
    APMError noError;
    EXPECT_FALSE(database_->conditionalUserPropertyWithName(QStringLiteral("plain"), &noError));
    EXPECT_EQ(noError.code(), 0);
}

TEST_F(DatabasePropertiesTest, ConditionalPropertyRefusals)
{
    APMConditionalUserProperty noValue = property(QStringLiteral("a"));
    noValue.setValue(std::nullopt);
    const struct {
        const char* label;
        APMConditionalUserProperty property;
        std::string message;
    } cases[] = {
        { "empty name", property(QString()),
            std::string(
                "Received conditional user property with empty name for getting dictionary representation") },
        { "empty origin", property(QStringLiteral("a"), QString()),
            std::string("Received conditional user property with empty origin for getting dictionary "
                        "representation") },
        { "no value", noValue,
            std::string(
                "Received conditional user property with nil value for getting dictionary representation") },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        APMError error;
        EXPECT_FALSE(database_->updateConditionalUserProperty(c.property, &error));
        EXPECT_EQ(error.code(), APMError::StorageFailure);
        EXPECT_EQ(error.localizedDescription().toStdString(), c.message);
    }
    EXPECT_EQ(sqlite(QStringLiteral("SELECT count(*) FROM conditional_properties")), "0");

    sqlite(QStringLiteral(
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 999) "
        "INSERT INTO conditional_properties (name, origin, value, creation_timestamp, active, "
        "trigger_timeout, triggered_timestamp, time_to_live) SELECT 'c' || i, 'app', 1, 0, 0, 1, 0, 1 "
        "FROM n"));
    APMError error;
    EXPECT_TRUE(database_->updateConditionalUserProperty(property(QStringLiteral("c9")), &error));
    EXPECT_FALSE(database_->updateConditionalUserProperty(property(QStringLiteral("c1000")), &error));
    EXPECT_EQ(
        error.localizedDescription().toStdString(), std::string("Failed to insert data type. Table is full"));
}

TEST_F(DatabasePropertiesTest, TimedOutExpiredAndTriggeredAtAFixedNow)
{
    APMConditionalUserProperty waiting = property(QStringLiteral("waiting"));
    waiting.setTriggerEventName(QStringLiteral("purchase"));
    waiting.setCreationTimestamp(1000);
    waiting.setTriggerTimeout(60);
    store(waiting);
    APMConditionalUserProperty active = property(QStringLiteral("active"));
    active.setActive(true);
    active.setTriggerEventName(QStringLiteral("purchase"));
    active.setCreationTimestamp(1000);
    active.setTriggeredTimestamp(1000);
    active.setTimeToLive(100);
    store(active);
    APMConditionalUserProperty future = property(QStringLiteral("future"));
    future.setTriggerEventName(QStringLiteral("purchase"));
    future.setCreationTimestamp(1130);
    future.setTriggerTimeout(60);
    store(future);

    struct Case {
        double now;
        std::string triggered;
        std::string timedOut;
        std::string expired;
    };
    const Case cases[] = {
        { 1059, "waiting", "future", "" },
        { 1060, "waiting", "future", "" }, // the time-out itself still triggers
        { 1061, "", "future,waiting", "" },
        { 1100, "future", "waiting", "" }, // a creation time ahead counts by its distance
        { 1101, "future", "waiting", "active" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.now);
        time_.advance(c.now - time_.now());
        APMError error;
        EXPECT_EQ(names(database_->triggeredConditionalUserPropertiesWithEventName(
                      QStringLiteral("purchase"), &error)),
            c.triggered);
        EXPECT_EQ(names(database_->timedOutConditionalUserPropertiesWithError(&error)), c.timedOut);
        EXPECT_EQ(names(database_->expiredConditionalUserPropertiesWithError(&error)), c.expired);
        EXPECT_EQ(names(database_->triggeredConditionalUserPropertiesWithEventName(
                      QStringLiteral("other"), &error)),
            "");
    }

    APMError error;
    EXPECT_FALSE(database_->triggeredConditionalUserPropertiesWithEventName(QString(), &error));
    EXPECT_EQ(error.code(), APMError::InvalidArgument);
    EXPECT_EQ(error.localizedDescription().toStdString(),
        std::string("Received nil/empty event name for querying triggered conditional user properties"));
}

TEST_F(DatabasePropertiesTest, PrefixAndOriginMatchLiterally)
{
    store(property(QStringLiteral("lt_a"), QStringLiteral("app")));
    store(property(QStringLiteral("ltxa"), QStringLiteral("apx"))); // "_" of a LIKE pattern matches the "x"
    store(property(QStringLiteral("LT_b"), QStringLiteral("APP")));
    store(property(QStringLiteral("lt%c"), QStringLiteral("ap_")));
    store(property(QStringLiteral("other"), QStringLiteral("a%")));

    struct Case {
        QString prefix;
        QString origin;
        std::string expected;
    };
    const Case cases[] = {
        { QString(), QString(), "LT_b,lt%c,lt_a,ltxa,other" },
        { QStringLiteral("lt_"), QString(), "lt_a" },
        { QStringLiteral("lt%"), QString(), "lt%c" },
        { QString(), QStringLiteral("ap_"), "lt%c" },
        { QString(), QStringLiteral("a%"), "other" },
        { QString(), QStringLiteral("app"), "LT_b,lt_a" }, // origins compare ignoring ASCII case
        { QStringLiteral("LT"), QStringLiteral("app"), "LT_b" },
        { QStringLiteral("lt_a_longer"), QString(), "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.prefix + QLatin1Char('|') + c.origin).toStdString());
        APMError error;
        const auto found = database_->conditionalUserPropertiesWithPrefix(c.prefix, c.origin, &error);
        ASSERT_TRUE(found) << error.description().toStdString();
        EXPECT_EQ(names(found), c.expected);
    }

    APMError error;
    EXPECT_FALSE(database_->conditionalUserPropertiesWithCondition(QString(), {}, &error));
    EXPECT_EQ(error.localizedDescription().toStdString(),
        std::string("Received empty condition for querying a conditional user property"));
}

TEST_F(DatabasePropertiesTest, UnreadableEventBlobsFailTheQuery)
{
    APMConditionalUserProperty withEvent = property(QStringLiteral("p"));
    withEvent.setExpiredEvent(event(QStringLiteral("expired"), 1));
    store(withEvent);

    const struct {
        const char* sql;
        const char* message;
    } cases[] = {
        { "UPDATE conditional_properties SET expired_event = 'text'",
            "Failed to convert data to an event. Data must be a byte array" },
        { "UPDATE conditional_properties SET expired_event = X'FFFFFF'", "Failed to parse event from data" },
        // A message without a name makes no event.
        { "UPDATE conditional_properties SET expired_event = X'1801'",
            "Failed to initialize event from proto data" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        sqlite(QString::fromLatin1(c.sql));
        APMError error;
        EXPECT_FALSE(database_->conditionalUserPropertiesWithPrefix(QString(), QString(), &error));
        EXPECT_EQ(error.code(), APMError::InvalidState);
        EXPECT_EQ(error.localizedDescription().toStdString(), c.message);
        EXPECT_FALSE(database_->conditionalUserPropertyWithName(QStringLiteral("p"), &error));
        EXPECT_EQ(error.localizedDescription().toStdString(),
            std::string("Failed to initialize data types from dictionaries"));
    }
}

TEST_F(DatabasePropertiesTest, MainEventsRoundTrip)
{
    APMError error;
    const qint64 bigID = std::numeric_limits<qint64>::max();
    ASSERT_TRUE(database_->updateComplexEventForAudienceEvaluationWithEventID(
        bigID, 3, event(QStringLiteral("main"), 12.5, { { QStringLiteral("v"), qint64(9) } }), &error));
    ASSERT_TRUE(database_->updateComplexEventForAudienceEvaluationWithEventID(bigID, 2,
        event(QStringLiteral("main2"), 13, { { QStringLiteral("s"), QStringLiteral("x") } }), &error));
    EXPECT_EQ(sqlite(QStringLiteral("SELECT count(*) FROM main_event_params")), "1");

    const auto pair = database_->mainEventAndChildCountPairWithEventID(bigID, &error);
    ASSERT_TRUE(pair) << error.description().toStdString();
    EXPECT_EQ(pair->first.name(), QStringLiteral("main2"));
    EXPECT_DOUBLE_EQ(pair->first.timestamp(), 13);
    EXPECT_EQ(pair->first.origin(), QStringLiteral("app"));
    EXPECT_EQ(
        pair->first.parameters().value(QStringLiteral("s")), *APMValue::initWithString(QStringLiteral("x")));
    EXPECT_FALSE(pair->first.parameters().contains(QStringLiteral("v"))); // the replaced event's
    EXPECT_EQ(pair->second, 2);

    sqlite(QStringLiteral("UPDATE main_event_params SET main_event = X'FFFF'"));
    EXPECT_FALSE(database_->mainEventAndChildCountPairWithEventID(bigID, &error));
    EXPECT_EQ(error.code(), APMError::StorageFailure);
    EXPECT_EQ(error.localizedDescription().toStdString(), std::string("Main event blob is nil in database"));

    ASSERT_TRUE(database_->deleteComplexEventForAudienceEvaluationWithEventID(bigID, &error));
    APMError noError;
    EXPECT_FALSE(database_->mainEventAndChildCountPairWithEventID(bigID, &noError));
    EXPECT_EQ(noError.code(), 0);
}

} // namespace
