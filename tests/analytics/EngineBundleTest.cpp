// Bundling raw events: runs of one fingerprint within one hour, event
// aggregates, engagement totals, rejected events, and raw events that cannot
// be read, which must not hold up the others.
#include "EngineTestFixture.h"
#include "ValidatorLogRecorder.h"
#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/engine/APMBundleFields.h"
#include "analytics/engine/APMConfigFetcher.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMEventAggregates.h"
#include "analytics/wire/APMPBEvent.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementBundle.h"

#include <QFile>
#include <QHash>

#include <tuple>

using namespace engine_test;

namespace {

class EngineBundleTest : public EngineFixture {
protected:
    void setProperty(const QString& name, qint64 value)
    {
        engine_->setUserAttribute(APMUserAttribute::initWithOrigin(
            QStringLiteral("app"), name, APMValue::initWithInt64(value), time_.now()));
        drain();
    }

    void bundleAll()
    {
        engine_->dispatchSyncOnWorkerQueue([&] {
            while (engine_->bundleRawEvents()) {
            }
        });
    }

    void uploadNow()
    {
        engine_->dispatchSyncOnWorkerQueue([&] { engine_->uploadData(); });
        settle();
    }

    void corrupt(const QString& table, const QString& column, const QString& keyColumn, const QVariant& key)
    {
        engine_->dispatchSyncOnWorkerQueue([&] {
            ASSERT_TRUE(engine_->database()->sqliteStore()->updateRecord(
                { { column, QByteArray("\xff\xff\xff", 3) } }, table, keyColumn, key, nullptr));
        });
    }

    qint64 firstFingerprint()
    {
        qint64 fingerprint = 0;
        engine_->dispatchSyncOnWorkerQueue([&] {
            fingerprint = engine_->database()->nextMetadataFingerprintToProcess(nullptr).value_or(0);
        });
        return fingerprint;
    }
};

TEST_F(EngineBundleTest, SeveralFingerprintsWithAggregatesAndEngagement)
{
    start();
    logEvent(QStringLiteral("_e"), { { QStringLiteral("_et"), 1000 } }, false);
    logEvent(QStringLiteral("tap"));
    setProperty(QStringLiteral("level"), 2);
    time_.advance(1);
    logEvent(QStringLiteral("_e"), { { QStringLiteral("_et"), 500 } }, false);
    logEvent(QStringLiteral("tap"));
    bundleAll();
    EXPECT_EQ(rowCount(APMDatabase::kQueueTable), 2);
    EXPECT_EQ(rowCount(APMDatabase::kRawEventsTable), 0);
    EXPECT_EQ(rowCount(APMDatabase::kRawEventsMetadataTable), 0);
    std::optional<APMEventAggregates> taps;
    engine_->dispatchSyncOnWorkerQueue(
        [&] { taps = engine_->database()->eventAggregatesWithName(QStringLiteral("tap"), nullptr); });
    ASSERT_TRUE(taps.has_value());
    EXPECT_EQ(taps->lifetimeCount(), 2);
    EXPECT_DOUBLE_EQ(taps->lastFireTimestamp(), time_.now());

    uploadNow();
    ASSERT_EQ(server_.batches().size(), 1);
    const auto bundles = server_.batches()[0].bundles;
    ASSERT_EQ(bundles.size(), 2);
    EXPECT_EQ(bundles[0].bundleIndex, 1);
    EXPECT_EQ(bundles[1].bundleIndex, 2);
    // Engagement adds up over the bundles in the lifetime total.
    EXPECT_EQ(bundles[0].userProperties.value(QStringLiteral("_lte")), QVariant(qint64(1000)));
    EXPECT_EQ(bundles[1].userProperties.value(QStringLiteral("_lte")), QVariant(qint64(1500)));
    EXPECT_EQ(bundles[1].userProperties.value(QStringLiteral("level")), QVariant(qint64(2)));
    EXPECT_EQ(bundles[1].startTimestampMillis, qint64(time_.now() * 1000));
}

TEST_F(EngineBundleTest, AConfigurationThatChangesAdPersonalizationConsentUpdatesTheNPAProperty)
{
    start(rcfg::kAppID);
    logEvent(QStringLiteral("before_config"));
    rcfg::ConfigBuilder builder(rcfg::kAppID);
    builder.setting(QStringLiteral("measurement.upload.interval"), QStringLiteral("3600000"));
    const qint64 adPersonalization
        = APMConsentSettingsUtil::numberForConsentType(APMConsentSettingsUtil::kAdPersonalization);
    builder.consent({ { int32_t(adPersonalization), 2 } }, {}, {}, std::nullopt, {}); // denied by default
    const QByteArray body = builder.bytes();
    bool applied = false;
    engine_->dispatchSyncOnWorkerQueue([&] { applied = engine_->configFetcher().applyMeasurementConfigData(body); });
    ASSERT_TRUE(applied);
    bool flagged = false;
    engine_->dispatchSyncOnWorkerQueue([&] { flagged = engine_->shouldUpdateNPAUserProperty(); });
    EXPECT_TRUE(flagged);

    advance(15); // the first upload bundles, and bundling brings "_npa" in line
    ASSERT_EQ(server_.acceptedEvents().size(), 1);
    engine_->dispatchSyncOnWorkerQueue([&] { flagged = engine_->shouldUpdateNPAUserProperty(); });
    EXPECT_FALSE(flagged);
    logEvent(QStringLiteral("after_config"));
    advance(3600);
    const auto batches = server_.batches();
    ASSERT_EQ(batches.size(), 2);
    ASSERT_EQ(batches[1].bundles.size(), 1);
    // Ads personalization denied: non-personalized ads.
    EXPECT_EQ(batches[1].bundles[0].userProperties.value(QStringLiteral("_npa")), QVariant(qint64(1)));
}

TEST_F(EngineBundleTest, AnHourBoundaryEndsTheRun)
{
    start();
    logEvent(QStringLiteral("before_hour"));
    time_.advance(3600);
    logEvent(QStringLiteral("after_hour"));
    bundleAll();
    EXPECT_EQ(rowCount(APMDatabase::kQueueTable), 2);
}

TEST_F(EngineBundleTest, AllEventsBlocklistedAtBundlingLeaveNoBundleAndNoRawEvents)
{
    start();
    logEvent(QStringLiteral("soon_blocked"));
    rcfg::ConfigBuilder config;
    config.eventConfig(QStringLiteral("soon_blocked"), true);
    ASSERT_TRUE(configure(config));
    // The rejected run is committed but made no bundle: the step answers
    // so, and the upload does not ask for another one on its account.
    EXPECT_FALSE(bundle());
    EXPECT_EQ(rowCount(APMDatabase::kQueueTable), 0);
    EXPECT_EQ(rowCount(APMDatabase::kRawEventsTable), 0);
}

// Resetting the session counts of a session start fails: the engagement
// step ends there, the bundle is still made.
TEST_F(EngineBundleTest, AFailedSessionResetAtBundlingStillMakesTheBundle)
{
    start();
    logEvent(QStringLiteral("_s"), {}, false);
    engine_->dispatchSyncOnWorkerQueue([&] {
        ASSERT_TRUE(engine_->database()->sqliteStore()->executeSQL(
            QStringLiteral("CREATE TRIGGER keep_session_counts BEFORE UPDATE OF current_session_count ON events "
                           "WHEN NEW.current_session_count = 0 BEGIN SELECT RAISE(ABORT, 'kept'); END"),
            nullptr));
    });
    EXPECT_TRUE(bundle());
    EXPECT_EQ(rowCount(APMDatabase::kQueueTable), 1);
    EXPECT_EQ(rowCount(APMDatabase::kRawEventsTable), 0);
}

TEST_F(EngineBundleTest, UnreadableRawEventsAreSkippedAndTheOthersGoOn)
{
    struct Case {
        const char* what;
        bool corruptMetadata;
    };
    const Case cases[] = { { "the oldest raw event", false }, { "the metadata of the oldest run", true } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ValidatorLogRecorder recorder;
        engine_.reset();
        identity_.reset();
        QFile::remove(databasePath());
        persisted_ = newPersistedConfig();
        start();
        logEvent(QStringLiteral("damaged"));
        setProperty(QStringLiteral("run"), 2);
        logEvent(QStringLiteral("healthy"));
        if (c.corruptMetadata)
            corrupt(APMDatabase::kRawEventsMetadataTable, QStringLiteral("metadata"),
                QStringLiteral("metadata_fingerprint"), firstFingerprint());
        else
            corrupt(APMDatabase::kRawEventsTable, QStringLiteral("data"), QStringLiteral("rowid"), qint64(1));
        bundleAll();
        EXPECT_EQ(rowCount(APMDatabase::kRawEventsTable), 0);
        EXPECT_EQ(rowCount(APMDatabase::kQueueTable), 1);
        // The drop has a code of its own, apart from a raw event the filter
        // could not read.
        bool dropped = false;
        for (const RecordedLine& line : recorder.lines()) {
            if (line.message.startsWith(QStringLiteral("Dropping raw events"))) {
                EXPECT_EQ(line.code, 23271);
                dropped = true;
            }
            if (line.code == 23096) {
                EXPECT_TRUE(line.message.startsWith(QStringLiteral("Failed to filter raw event")))
                    << line.message.toStdString();
            }
        }
        EXPECT_TRUE(dropped);
        const qsizetype before = acceptedEventNames().size();
        uploadNow();
        EXPECT_EQ(acceptedEventNames().mid(before), QStringList({ QStringLiteral("healthy") }));
    }
}

// Within a bundle each event takes its name's aggregates as the one before
// left them: its previous time is that event's time, and the rows left are
// those one read and one write per event would leave, the name seen last
// written last.
TEST_F(EngineBundleTest, AggregatesRunFromEventToEventThroughABundle)
{
    start();
    QList<std::pair<QString, double>> logged;
    const auto log = [&](const QString& name) {
        time_.advance(1);
        logEvent(name);
        logged.append({ name, time_.now() });
    };
    log(QStringLiteral("tap"));
    bundleAll(); // "tap" has aggregates from an earlier bundle
    for (const char* name : { "tap", "swipe", "tap", "swipe", "tap" })
        log(QString::fromLatin1(name));
    bundleAll();

    // The events as bundled: name, time and previous time.
    QList<std::tuple<QString, double, double>> bundled;
    engine_->dispatchSyncOnWorkerQueue([&] {
        auto queued = engine_->database()->queryBundlesWithCountLimit(100, 1 << 30, nullptr);
        ASSERT_TRUE(queued);
        for (const APMQueuedBundle& entry : *queued) {
            for (const auto& proto :
                APMPBGetArrayField<APMPBEvent>(entry.bundle.get(), APMBundleSlot::kEvents)) {
                const auto event = APMEvent::initWithEventProto(*proto, EventParameterLimits());
                ASSERT_TRUE(event);
                if (event->name() == QStringLiteral("tap") || event->name() == QStringLiteral("swipe"))
                    bundled.append({ event->name(), event->timestamp(), event->previousTimestamp() });
            }
        }
    });
    QList<std::tuple<QString, double, double>> expected;
    QHash<QString, double> lastFire;
    for (const auto& [name, time] : logged) {
        expected.append({ name, time, lastFire.value(name, 0) });
        lastFire.insert(name, time);
    }
    EXPECT_EQ(bundled, expected);

    std::optional<QList<APMEventAggregates>> rows;
    engine_->dispatchSyncOnWorkerQueue([&] { rows = engine_->database()->allEventAggregates(nullptr); });
    ASSERT_TRUE(rows);
    QStringList names;
    for (const APMEventAggregates& row : *rows) {
        if (row.name() != QStringLiteral("tap") && row.name() != QStringLiteral("swipe"))
            continue;
        names.append(row.name());
        const qint32 count = row.name() == QStringLiteral("tap") ? 4 : 2;
        EXPECT_EQ(row.lifetimeCount(), count) << qPrintable(row.name());
        EXPECT_EQ(row.currentBundleCount(), count) << qPrintable(row.name());
        EXPECT_EQ(row.currentSessionCount(), count) << qPrintable(row.name());
        EXPECT_EQ(row.lastFireTimestamp(), lastFire.value(row.name())) << qPrintable(row.name());
    }
    EXPECT_EQ(names, QStringList({ QStringLiteral("swipe"), QStringLiteral("tap") }));
}

} // namespace
