// The event pipeline: logged events and user properties become raw events
// under their metadata fingerprint, within the daily limits, with the
// real-time decision, default parameters, safelist and block list.
#include "EngineTestFixture.h"
#include "analytics/base/APMHelpers.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/engine/APMEventPipeline.h"
#include "analytics/model/APMDailyCounts.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMRawEventData.h"
#include "analytics/wire/APMPBMeasurementBundle.h"

#include <QFile>

#include <functional>

using namespace engine_test;

namespace {

class EnginePipelineTest : public EngineFixture {
protected:
    struct StoredEvent {
        QString name;
        QVariantMap parameters;
        qint64 fingerprint = 0;
        bool realtime = false;
    };

    QList<StoredEvent> storedEvents()
    {
        QList<StoredEvent> events;
        engine_->dispatchSyncOnWorkerQueue([&] {
            APMDatabase& database = *engine_->database();
            const auto rows = database.sqliteStore()->recordsForQuery(
                QStringLiteral("SELECT rowid, * FROM raw_events ORDER BY rowid"), {}, nullptr);
            for (const APMRow& row : rows.value_or(QList<APMRow>())) {
                const auto data = database.rawEventDataFromDictionary(row, nullptr);
                if (!data)
                    continue;
                QVariantMap parameters;
                for (auto it = data->rawEvent().parameters().cbegin(); it != data->rawEvent().parameters().cend(); ++it)
                    parameters.insert(it.key(), it->isString() ? QVariant(it->stringValue()) : QVariant(it->int64Value()));
                events.append({ data->rawEvent().name(), parameters, data->metadataFingerprint(),
                    row.value(QStringLiteral("is_realtime")).toLongLong() == 1 });
            }
        });
        return events;
    }

    QStringList storedNames()
    {
        QStringList names;
        for (const StoredEvent& event : storedEvents())
            names.append(event.name);
        return names;
    }

    std::optional<APMDailyCounts> dailyCounts()
    {
        std::optional<APMDailyCounts> counts;
        engine_->dispatchSyncOnWorkerQueue([&] { counts = engine_->database()->dailyCounts(nullptr); });
        return counts;
    }

    void setProperty(const QString& name, const APMValue& value, const QString& origin = QStringLiteral("app"))
    {
        engine_->setUserAttribute(APMUserAttribute::initWithOrigin(origin, name, value, time_.now()));
        drain();
    }
};

TEST_F(EnginePipelineTest, EventsAreStoredUnderTheFingerprintOfTheirMetadata)
{
    start();
    logEvent(QStringLiteral("first"));
    logEvent(QStringLiteral("second"));
    EXPECT_EQ(rowCount(APMDatabase::kRawEventsMetadataTable), 1);
    setProperty(QStringLiteral("plan"), *APMValue::initWithString(QStringLiteral("pro")));
    logEvent(QStringLiteral("third"));
    EXPECT_EQ(rowCount(APMDatabase::kRawEventsMetadataTable), 2);

    const QList<StoredEvent> events = storedEvents();
    ASSERT_EQ(events.size(), 3);
    EXPECT_EQ(events[0].fingerprint, events[1].fingerprint);
    EXPECT_NE(events[1].fingerprint, events[2].fingerprint);
    // Each fingerprint is the low 64 bits of the MD5 of the stored metadata.
    engine_->dispatchSyncOnWorkerQueue([&] {
        const auto rows = engine_->database()->sqliteStore()->recordsForQuery(
            QStringLiteral("SELECT metadata_fingerprint, metadata FROM raw_events_metadata"), {}, nullptr);
        ASSERT_TRUE(rows.has_value());
        for (const APMRow& row : *rows)
            EXPECT_EQ(row.value(QStringLiteral("metadata_fingerprint")).toLongLong(),
                apm_64LSBMD5(row.value(QStringLiteral("metadata")).toByteArray()));
    });
}

// The metadata is kept from event to event; each change to what it is made
// of gives a new metadata row, byte for byte the one built afresh.
TEST_F(EnginePipelineTest, EachChangeToWhatTheMetadataCarriesGivesItsRowAsBuiltAfresh)
{
    start();
    const auto storedMetadata = [this](qint64 fingerprint) {
        QByteArray bytes;
        engine_->dispatchSyncOnWorkerQueue([&] {
            const auto rows = engine_->database()->sqliteStore()->recordsForQuery(
                QStringLiteral("SELECT metadata FROM raw_events_metadata WHERE metadata_fingerprint = ?"),
                { fingerprint }, nullptr);
            if (rows && rows->size() == 1)
                bytes = rows->first().value(QStringLiteral("metadata")).toByteArray();
        });
        return bytes;
    };
    const auto builtAfresh = [this] {
        QByteArray bytes;
        engine_->dispatchSyncOnWorkerQueue([&] {
            const auto attributes = engine_->database()->userAttributesIncludingInternal(true, nullptr);
            ASSERT_TRUE(attributes);
            bytes = engine_->pipeline()
                        .createRawEventMetadataWithUserAttributes(*attributes)
                        ->protoBuffer()
                        .value_or(QByteArray());
        });
        return bytes;
    };
    const auto onWorkerQueue
        = [this](const std::function<void()>& work) { engine_->dispatchSyncOnWorkerQueue(work); };
    struct Change {
        const char* what;
        std::function<void()> apply;
    };
    const QList<Change> changes {
        { "a user property is set",
            [&] { setProperty(QStringLiteral("plan"), *APMValue::initWithString(QStringLiteral("pro"))); } },
        { "its value changes",
            [&] { setProperty(QStringLiteral("plan"), *APMValue::initWithString(QStringLiteral("max"))); } },
        { "it is set again later with the same value",
            [&] {
                time_.advance(5);
                setProperty(QStringLiteral("plan"), *APMValue::initWithString(QStringLiteral("max")));
            } },
        { "it is removed",
            [&] {
                engine_->removeUserAttribute(QStringLiteral("plan"));
                drain();
            } },
        { "ad storage consent is denied",
            [&] {
                onWorkerQueue([] {
                    APMConsentSettingsUtil::updateSettings(
                        { { APMConsentSettingsUtil::kAdStorage, APMConsentSettingsUtil::kDenied } });
                });
            } },
        { "analytics storage consent is denied",
            [&] {
                onWorkerQueue([] {
                    APMConsentSettingsUtil::updateSettings(
                        { { APMConsentSettingsUtil::kAnalyticsStorage, APMConsentSettingsUtil::kDenied } });
                });
            } },
        { "the configuration switches the DMA consent off",
            [&] {
                rcfg::ConfigBuilder builder;
                builder.setting(
                    QStringLiteral("measurement.upload.dma_consent_enabled"), QStringLiteral("0"));
                ASSERT_TRUE(configure(builder));
            } },
        { "the installation ID arrives",
            [&] {
                identity_->setBasaltInstallationID(QStringLiteral("installation-1"));
                drain();
            } },
    };
    logEvent(QStringLiteral("before"));
    qint64 previous = storedEvents().last().fingerprint;
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        change.apply();
        logEvent(QStringLiteral("after"));
        const qint64 fingerprint = storedEvents().last().fingerprint;
        EXPECT_NE(fingerprint, previous);
        previous = fingerprint;
        EXPECT_EQ(storedMetadata(fingerprint), builtAfresh());
        // The next event with nothing changed shares the row.
        logEvent(QStringLiteral("again"));
        EXPECT_EQ(storedEvents().last().fingerprint, fingerprint);
    }
}

TEST_F(EnginePipelineTest, DefaultParametersJoinEveryEventButTheErrorEvent)
{
    start();
    engine_->setDefaultEventParameters(QVariantMap { { QStringLiteral("theme"), QStringLiteral("dark") },
        { QStringLiteral("list"), QVariantList { 1 } }, { QStringLiteral("_internal"), 1 } });
    drain();
    logEvent(QStringLiteral("plain"));
    logEvent(QStringLiteral("own"), { { QStringLiteral("theme"), QStringLiteral("light") } });
    engine_->logInternalEvent(QStringLiteral("_err"), { { QStringLiteral("_err"), 5 } });
    drain();
    const QList<StoredEvent> events = storedEvents();
    QMap<QString, QVariantMap> byName;
    for (const StoredEvent& event : events)
        byName.insert(event.name, event.parameters);
    EXPECT_EQ(byName.value(QStringLiteral("plain")).value(QStringLiteral("theme")), QVariant(QStringLiteral("dark")));
    EXPECT_EQ(byName.value(QStringLiteral("own")).value(QStringLiteral("theme")), QVariant(QStringLiteral("light")));
    EXPECT_FALSE(byName.value(QStringLiteral("plain")).contains(QStringLiteral("list")));
    EXPECT_FALSE(byName.value(QStringLiteral("plain")).contains(QStringLiteral("_internal")));
    // The array value was refused and reported as error 27 (an "_err" event of its own).
    ASSERT_TRUE(byName.contains(QStringLiteral("_err")));
    EXPECT_FALSE(byName.value(QStringLiteral("_err")).contains(QStringLiteral("theme")));

    engine_->setDefaultEventParameters(std::nullopt);
    drain();
    logEvent(QStringLiteral("after_clear"));
    EXPECT_FALSE(storedEvents().last().parameters.contains(QStringLiteral("theme")));
}

TEST_F(EnginePipelineTest, UserPropertiesStayWithinTheirLimits)
{
    start();
    for (int i = 0; i < 25; ++i)
        setProperty(QStringLiteral("prop_%1").arg(i), APMValue::initWithInt64(i));
    EXPECT_EQ(rowCount(APMDatabase::kUserAttributesTable), 25);
    setProperty(QStringLiteral("prop_extra"), APMValue::initWithInt64(1)); // the 26th public one
    EXPECT_EQ(rowCount(APMDatabase::kUserAttributesTable), 25);
    setProperty(QStringLiteral("prop_3"), APMValue::initWithInt64(300)); // replacing is never limited
    std::optional<APMUserAttribute> replaced;
    engine_->dispatchSyncOnWorkerQueue(
        [&] { replaced = engine_->database()->userAttributeWithName(QStringLiteral("prop_3"), nullptr); });
    ASSERT_TRUE(replaced.has_value());
    EXPECT_EQ(replaced->value().int64Value(), 300);
    // Internal properties count per origin.
    for (int i = 0; i < 26; ++i)
        setProperty(QStringLiteral("_x%1").arg(i), APMValue::initWithInt64(i), QStringLiteral("auto"));
    EXPECT_EQ(rowCount(APMDatabase::kUserAttributesTable), 25 + 25);
    engine_->removeUserAttribute(QStringLiteral("prop_0"));
    drain();
    EXPECT_EQ(rowCount(APMDatabase::kUserAttributesTable), 49);
}

TEST_F(EnginePipelineTest, DailyEventLimitRefusesAndCountsOnUntilTheNextDay)
{
    start();
    rcfg::ConfigBuilder config;
    config.setting(QStringLiteral("measurement.upload.max_events_per_day"), QStringLiteral("3"));
    ASSERT_TRUE(configure(config));
    for (int i = 0; i < 5; ++i)
        logEvent(QStringLiteral("limited"), { { QStringLiteral("i"), i } });
    EXPECT_EQ(storedEvents().size(), 3);
    ASSERT_TRUE(dailyCounts().has_value());
    EXPECT_EQ(dailyCounts()->allEventsCount(), 5); // refusals past the limit stay counted
    advance(86400); // the three stored ones are uploaded on the way
    EXPECT_EQ(server_.acceptedEvents().size(), 3);
    logEvent(QStringLiteral("limited"));
    EXPECT_EQ(storedNames(), QStringList({ QStringLiteral("limited") }));
    EXPECT_EQ(dailyCounts()->allEventsCount(), 1);
}

TEST_F(EnginePipelineTest, PublicEventLimitRefusesPublicEventsOnlyAndReportsIt)
{
    start();
    rcfg::ConfigBuilder config;
    config.setting(QStringLiteral("measurement.upload.max_public_events_per_day"), QStringLiteral("2"));
    ASSERT_TRUE(configure(config));
    logEvent(QStringLiteral("one"));
    logEvent(QStringLiteral("two"));
    logEvent(QStringLiteral("three"));
    logEvent(QStringLiteral("_internal_one"), {}, false);
    drain();
    EXPECT_EQ(storedNames(),
        QStringList({ QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("_err"), QStringLiteral("_internal_one") }));
    const auto counts = dailyCounts();
    ASSERT_TRUE(counts.has_value());
    EXPECT_EQ(counts->publicEventsCount(), 3);
    // The refused one gave its place back; "_err" counts as an error event and among all.
    EXPECT_EQ(counts->allEventsCount(), 4);
    EXPECT_EQ(counts->errorEventsCount(), 1);
}

TEST_F(EnginePipelineTest, ConversionsAreRealtimeAndOtherEventsAreNot)
{
    start();
    logEvent(QStringLiteral("purchase"),
        { { QStringLiteral("value"), 9.99 }, { QStringLiteral("currency"), QStringLiteral("EUR") } });
    logEvent(QStringLiteral("button"));
    const QList<StoredEvent> events = storedEvents();
    ASSERT_EQ(events.size(), 2);
    EXPECT_TRUE(events[0].realtime);
    EXPECT_FALSE(events[1].realtime);
    // After an upload, real-time data goes out after the real-time interval
    // (10 s), other data after the upload interval (an hour).
    advance(15);
    const double uploaded = time_.now();
    logEvent(QStringLiteral("button"));
    EXPECT_EQ(alarmDue(), uploaded + 3600);
    logEvent(QStringLiteral("purchase"),
        { { QStringLiteral("value"), 1.5 }, { QStringLiteral("currency"), QStringLiteral("EUR") } });
    EXPECT_EQ(alarmDue(), uploaded + 10);
}

TEST_F(EnginePipelineTest, SafelistAndBlockList)
{
    identity_ = newIdentity();
    APMMeasurement::Environment e = environment();
    e.identity = identity_.get();
    engine_ = APMMeasurement::initWithAppID(kEngineAppID, true, false, { QStringLiteral("allowed"), QStringLiteral("blocked") }, e);
    drain();
    rcfg::ConfigBuilder config;
    config.eventConfig(QStringLiteral("blocked"), true);
    ASSERT_TRUE(configure(config));
    logEvent(QStringLiteral("allowed"));
    logEvent(QStringLiteral("other"));
    logEvent(QStringLiteral("blocked"));
    drain();
    const QList<StoredEvent> events = storedEvents();
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events[0].name, QStringLiteral("allowed"));
    EXPECT_EQ(events[0].parameters.value(QStringLiteral("va_safelisted")), QVariant(qint64(1)));
}

// Each guard of the pipeline, bundling and upload, shown by a small
// scenario on a fresh store: what the guard keeps out must stay out.
TEST_F(EnginePipelineTest, EachGuardOfThePipelineHolds)
{
    struct Case {
        const char* guard;
        QList<std::pair<QString, QString>> settings;
        std::function<void()> act;
        std::function<void()> check;
    };
    const auto logInternal = [this](const QString& name, const QVariantMap& parameters) {
        engine_->logEventWithOrigin(
            QStringLiteral("auto"), false, name, parameters, time_.now(), true, false, false, nullptr, {});
        drain();
    };
    const auto countNamed = [this](const QString& name) { return storedNames().count(name); };
    const auto purchase = [this] {
        logEvent(QStringLiteral("purchase"),
            { { QStringLiteral("value"), 2.5 }, { QStringLiteral("currency"), QStringLiteral("EUR") } });
    };
    qsizetype batchesBefore = 0;
    const QList<Case> cases {
        { "a rollout session start repeating the stored rollouts is dropped", {},
            [&] {
                logInternal(QStringLiteral("_ssr"), { { QStringLiteral("_ffr"), QStringLiteral("r1") } });
                logInternal(QStringLiteral("_ssr"), { { QStringLiteral("_ffr"), QStringLiteral("r1") } });
                logInternal(QStringLiteral("_ssr"), { { QStringLiteral("_ffr"), QStringLiteral("r2") } });
            },
            [&] { EXPECT_EQ(countNamed(QStringLiteral("_ssr")), 2); } },
        { "a subscription purchase seen before is dropped", {},
            [&] {
                logInternal(QStringLiteral("_assr"), { { QStringLiteral("_did"), 42 } });
                logInternal(QStringLiteral("_assr"), { { QStringLiteral("_did"), 42 } });
                logInternal(QStringLiteral("_assr"), { { QStringLiteral("_did"), 43 } });
            },
            [&] { EXPECT_EQ(countNamed(QStringLiteral("_assr")), 2); } },
        { "error events past their daily limit are dropped",
            { { QStringLiteral("measurement.upload.max_error_events_per_day"), QStringLiteral("1") } },
            [&] {
                logInternal(QStringLiteral("_err"), { { QStringLiteral("_err"), 5 } });
                logInternal(QStringLiteral("_err"), { { QStringLiteral("_err"), 6 } });
            },
            [&] { EXPECT_EQ(countNamed(QStringLiteral("_err")), 1); } },
        { "a public event name past the name cardinality limit is refused", {},
            [&] {
                for (int i = 0; i <= 500; ++i) {
                    engine_->logEventWithOrigin(QStringLiteral("app"), true, QStringLiteral("name_%1").arg(i),
                        {}, time_.now(), true, false, false, nullptr, {});
                }
                drain();
            },
            [&] {
                const QStringList names = storedNames();
                EXPECT_TRUE(names.contains(QStringLiteral("name_499")));
                EXPECT_FALSE(names.contains(QStringLiteral("name_500")));
            } },
        { "in debug mode every event is real-time", {},
            [&] {
                APMMeasurement::monitor().setDebugModeEnabled(true);
                logEvent(QStringLiteral("button"));
                APMMeasurement::monitor().setDebugModeEnabled(false);
            },
            [&] {
                const QList<StoredEvent> events = storedEvents();
                ASSERT_EQ(events.size(), 1);
                EXPECT_TRUE(events[0].realtime);
            } },
        { "bundling keeps the daily real-time limit",
            { { QStringLiteral("measurement.upload.max_realtime_events_per_day"), QStringLiteral("1") } },
            [&] {
                purchase(); // both are real-time when logged: none was counted yet
                purchase();
                // The first purchase's lifetime value gives the second other
                // metadata: two bundles.
                ASSERT_TRUE(bundle());
                ASSERT_TRUE(bundle());
            },
            [&] {
                const auto counts = dailyCounts();
                ASSERT_TRUE(counts.has_value());
                EXPECT_EQ(counts->realtimeCount(), 1);
            } },
        { "bundles of different consent states go in different batches", {},
            [&] {
                setProperty(QStringLiteral("_npa"), APMValue::initWithInt64(0), QStringLiteral("auto"));
                logEvent(QStringLiteral("personalized"));
                setProperty(QStringLiteral("_npa"), APMValue::initWithInt64(1), QStringLiteral("auto"));
                logEvent(QStringLiteral("not_personalized"));
                batchesBefore = server_.batches().size();
                advance(15);
            },
            [&] {
                const auto batches = server_.batches().mid(batchesBefore);
                ASSERT_FALSE(batches.isEmpty());
                EXPECT_EQ(batches[0].bundles.size(), 1);
            } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.guard);
        engine_.reset();
        identity_.reset();
        QFile::remove(databasePath());
        persisted_ = newPersistedConfig();
        start();
        rcfg::ConfigBuilder config;
        for (const auto& [name, value] : c.settings)
            config.setting(name, value);
        ASSERT_TRUE(configure(config));
        c.act();
        c.check();
    }
}

} // namespace
