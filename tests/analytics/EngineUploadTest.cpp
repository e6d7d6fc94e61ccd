// Upload of queued bundles to the fake collection server: one and several
// batches, each server answer, retry, back-off, and the batch read back by an
// independent decoder.
#include "EngineTestFixture.h"
#include "ValidatorLogRecorder.h"

#include "analytics/base/APMPersistedConfig.h"
#include "analytics/engine/APMUploadScheduler.h"

#include <QFile>
#include <QProcess>

#include <algorithm>

using namespace engine_test;

namespace {

// The shared client with every request's timeout cut short, so that a server
// that never answers is given up on within the test (the engine's own
// setting cannot go below 30 seconds).
class ShortTimeoutHttpClient final : public platform::HttpClient {
public:
    void send(const platform::HttpRequest& request, Completion completion) override
    {
        platform::HttpRequest shortened = request;
        shortened.timeoutSeconds = std::min(request.timeoutSeconds, 0.5);
        platform::HttpClient::shared().send(shortened, std::move(completion));
    }
    platform::HttpResponse sendBlocking(const platform::HttpRequest& request) override
    {
        return platform::HttpClient::shared().sendBlocking(request);
    }
};

class EngineUploadTest : public EngineFixture {
protected:
    qint64 retryCount()
    {
        qint64 count = -1;
        engine_->dispatchSyncOnWorkerQueue([&] {
            const auto rows = engine_->database()->sqliteStore()->recordsForQuery(
                QStringLiteral("SELECT MAX(retry_count) AS n FROM queue"), {}, nullptr);
            if (rows && !rows->isEmpty())
                count = rows->first().value(QStringLiteral("n")).toLongLong();
        });
        return count;
    }

    ShortTimeoutHttpClient shortTimeout_;
};

constexpr double kInitialDelay = 15; // measurement.upload.initial_upload_delay_time
constexpr double kRetryInterval = 1800; // measurement.upload.retry_time
constexpr double kBackoffPeriod = 43200; // measurement.upload.backoff_period

TEST_F(EngineUploadTest, LoggedEventsReachTheServerOnceAfterTheInitialDelay)
{
    start();
    logEvent(QStringLiteral("first_event"), { { QStringLiteral("count"), 3 } });
    logEvent(QStringLiteral("second_event"), { { QStringLiteral("label"), QStringLiteral("mouse") } });
    const std::optional<double> due = alarmDue();
    ASSERT_TRUE(due.has_value());
    EXPECT_DOUBLE_EQ(*due, time_.now() + kInitialDelay);

    advance(kInitialDelay - 1);
    EXPECT_EQ(server_.requestCount(), 0);
    advance(1);
    ASSERT_EQ(server_.requestCount(), 1);

    const auto batches = server_.batches();
    ASSERT_EQ(batches.size(), 1);
    EXPECT_TRUE(batches[0].problems.isEmpty()) << batches[0].problems.join(QStringLiteral("; ")).toStdString();
    ASSERT_EQ(batches[0].bundles.size(), 1);
    const auto& bundle = batches[0].bundles[0];
    EXPECT_EQ(bundle.appID, identity_->appID()); // the application identifier
    EXPECT_EQ(bundle.platform, QStringLiteral("macos"));
    EXPECT_EQ(bundle.bundleIndex, 1);
    EXPECT_EQ(bundle.uploadTimestampMillis, qint64(time_.now() * 1000));
    EXPECT_FALSE(bundle.appInstanceID.isEmpty());
    ASSERT_EQ(bundle.events.size(), 2);
    EXPECT_EQ(bundle.events[0].name, QStringLiteral("first_event"));
    EXPECT_EQ(bundle.events[0].parameters.value(QStringLiteral("count")), QVariant(qint64(3)));
    EXPECT_EQ(bundle.events[1].parameters.value(QStringLiteral("label")), QVariant(QStringLiteral("mouse")));

    // Delivered: nothing is left to send and no upload is scheduled.
    EXPECT_EQ(rowCount(APMDatabase::kQueueTable), 0);
    EXPECT_EQ(rowCount(APMDatabase::kRawEventsTable), 0);
    EXPECT_FALSE(alarmDue().has_value());
    advance(7 * 86400);
    EXPECT_EQ(server_.requestCount(), 1);
    EXPECT_EQ(acceptedEventNames(), QStringList({ QStringLiteral("first_event"), QStringLiteral("second_event") }));
}

TEST_F(EngineUploadTest, ProtocDecodesTheBatchTheServerReceived)
{
    start();
    logEvent(QStringLiteral("oracle_event"), { { QStringLiteral("size"), 42 } });
    advance(kInitialDelay);
    ASSERT_EQ(server_.batches().size(), 1);
    QProcess protoc;
    protoc.start(QStringLiteral("protoc"), { QStringLiteral("--decode_raw") });
    ASSERT_TRUE(protoc.waitForStarted());
    protoc.write(server_.batches()[0].payload);
    protoc.closeWriteChannel();
    ASSERT_TRUE(protoc.waitForFinished());
    ASSERT_EQ(protoc.exitCode(), 0) << protoc.readAllStandardError().toStdString();
    const QString decoded = QString::fromUtf8(protoc.readAllStandardOutput());
    // Batch field 1 holds the bundle; in it field 2 the event with its name
    // (field 2) and the parameter "size" = 42 (fields 1 and 3); field 14 the
    // application identifier.
    EXPECT_TRUE(decoded.startsWith(QStringLiteral("1 {"))) << decoded.toStdString();
    EXPECT_TRUE(decoded.contains(QStringLiteral("2: \"oracle_event\""))) << decoded.toStdString();
    EXPECT_TRUE(decoded.contains(QStringLiteral("1: \"size\"\n      3: 42"))) << decoded.toStdString();
    EXPECT_TRUE(decoded.contains(QStringLiteral("14: \"%1\"").arg(identity_->appID()))) << decoded.toStdString();
}

TEST_F(EngineUploadTest, SeveralBatchesGoOutOneAfterAnother)
{
    start();
    rcfg::ConfigBuilder config;
    config.setting(QStringLiteral("measurement.upload.max_bundles"), QStringLiteral("1"));
    ASSERT_TRUE(configure(config));
    // Three metadata fingerprints: a user property changes between the events.
    for (int i = 0; i < 3; ++i) {
        engine_->setUserAttribute(APMUserAttribute::initWithOrigin(
            QStringLiteral("app"), QStringLiteral("level"), APMValue::initWithInt64(i), time_.now()));
        logEvent(QStringLiteral("level_event"), { { QStringLiteral("index"), i } });
    }
    EXPECT_EQ(rowCount(APMDatabase::kRawEventsMetadataTable), 3);
    advance(kInitialDelay);
    ASSERT_EQ(server_.requestCount(), 3);
    QList<qint64> indexes;
    for (const auto& batch : server_.batches()) {
        EXPECT_TRUE(batch.problems.isEmpty());
        ASSERT_EQ(batch.bundles.size(), 1);
        ASSERT_EQ(batch.bundles[0].events.size(), 1);
        indexes.append(batch.bundles[0].events[0].parameters.value(QStringLiteral("index")).toLongLong());
        EXPECT_EQ(batch.bundles[0].userProperties.value(QStringLiteral("level")),
            batch.bundles[0].events[0].parameters.value(QStringLiteral("index")));
    }
    EXPECT_EQ(indexes, QList<qint64>({ 0, 1, 2 }));
    EXPECT_EQ(rowCount(APMDatabase::kQueueTable), 0);
}

TEST_F(EngineUploadTest, EachServerAnswer)
{
    struct Case {
        EngineAnswer answer;
        bool delivered;
        bool backoff;
    };
    const Case cases[] = {
        { EngineAnswer::Ok, true, false },
        { EngineAnswer::NoContent, true, false },
        { EngineAnswer::ServerError, false, false },
        { EngineAnswer::TooManyRequests, false, true },
        { EngineAnswer::Unavailable, false, true },
        { EngineAnswer::Timeout, false, false },
        { EngineAnswer::Drop, false, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.answer));
        engine_.reset();
        identity_.reset();
        persisted_ = newPersistedConfig();
        QFile::remove(databasePath());
        fakes::FakeCollectionServer server;
        // The HTTP client sends a request once more when its connection is
        // dropped before any reply; the second one is dropped too.
        server.script(c.answer == EngineAnswer::Drop ? QList<EngineAnswer> { c.answer, c.answer } : QList<EngineAnswer> { c.answer });
        APMMeasurement::Environment e = environment();
        e.collectionURL = server.url();
        e.http = &shortTimeout_;
        start(QString(), true, &e);
        logEvent(QStringLiteral("answered_event"));
        const double logged = time_.now();
        advance(kInitialDelay);
        const int attempts = server.requestCount();
        ASSERT_EQ(attempts, c.answer == EngineAnswer::Drop ? 2 : 1);
        EXPECT_TRUE(server.batches()[0].problems.isEmpty());
        EXPECT_FALSE(engine_->uploads().isNetworkRequestPending());
        EXPECT_TRUE(engine_->uploads().uploadingBundleIDs().isEmpty());
        if (c.delivered) {
            EXPECT_EQ(rowCount(APMDatabase::kQueueTable), 0);
            EXPECT_EQ(persisted_->lastSuccessfulUploadTimestamp(), time_.now());
            EXPECT_EQ(persisted_->lastFailedUploadTimestamp(), 0);
            EXPECT_FALSE(alarmDue().has_value());
            EXPECT_EQ(server.acceptedEvents().size(), 1);
            continue;
        }
        // Kept for a retry, counted against the bundle.
        EXPECT_EQ(rowCount(APMDatabase::kQueueTable), 1);
        EXPECT_EQ(retryCount(), 1);
        EXPECT_EQ(persisted_->lastFailedUploadTimestamp(), time_.now());
        EXPECT_EQ(persisted_->lastBackoffTimestamp(), c.backoff ? time_.now() : 0);
        const std::optional<double> due = alarmDue();
        ASSERT_TRUE(due.has_value());
        if (c.backoff)
            EXPECT_DOUBLE_EQ(*due, time_.now() + kBackoffPeriod);
        else
            EXPECT_DOUBLE_EQ(*due, logged + kInitialDelay + kRetryInterval);
        // The retry succeeds: the event arrives exactly once.
        server.setStandingAnswer(EngineAnswer::Ok);
        advance(*due - time_.now());
        ASSERT_EQ(server.requestCount(), attempts + 1);
        EXPECT_EQ(server.acceptedEvents().size(), 1);
        EXPECT_EQ(rowCount(APMDatabase::kQueueTable), 0);
    }
}

TEST_F(EngineUploadTest, RetriesDoubleTheirWaitAndStopAfterTheRetryCount)
{
    server_.setStandingAnswer(EngineAnswer::ServerError);
    start();
    logEvent(QStringLiteral("failing_event"));
    const double base = time_.now() + kInitialDelay;
    advance(kInitialDelay);
    // Retries at base + 1800, + 5400, + 12600, ... (each adds 1800 x 2^i), six in all.
    double expected = base;
    for (int i = 0; i < 6; ++i) {
        expected += kRetryInterval * double(1 << i);
        const std::optional<double> due = alarmDue();
        ASSERT_TRUE(due.has_value()) << i;
        EXPECT_DOUBLE_EQ(*due, expected) << i;
        advance(*due - time_.now());
        EXPECT_EQ(server_.requestCount(), i + 2);
    }
    EXPECT_FALSE(alarmDue().has_value());
    EXPECT_EQ(rowCount(APMDatabase::kQueueTable), 1); // kept until new data brings a new attempt
    server_.setStandingAnswer(EngineAnswer::Ok);
    advance(60);
    logEvent(QStringLiteral("new_event"));
    advance(kInitialDelay);
    EXPECT_EQ(acceptedEventNames(), QStringList({ QStringLiteral("failing_event"), QStringLiteral("new_event") }));
}

TEST_F(EngineUploadTest, WithoutACollectionAddressEventsAreKept)
{
    APMMeasurement::Environment e = environment();
    e.collectionURL = QUrl();
    start(QString(), true, &e);
    logEvent(QStringLiteral("kept_event"));
    EXPECT_FALSE(alarmDue().has_value());
    engine_->dispatchSyncOnWorkerQueue([&] { engine_->uploadData(); });
    EXPECT_EQ(server_.requestCount(), 0);
    EXPECT_EQ(rowCount(APMDatabase::kRawEventsTable), 1);
}

// A message code means one message: the missing address has a code of its
// own, apart from "no network".
TEST_F(EngineUploadTest, TheMissingCollectionAddressHasACodeOfItsOwn)
{
    ValidatorLogRecorder recorder;
    APMMeasurement::Environment e = environment();
    e.collectionURL = QUrl();
    start(QString(), true, &e);
    logEvent(QStringLiteral("kept_event"));
    bool toldOnce = false;
    for (const RecordedLine& line : recorder.lines()) {
        if (line.message.startsWith(QStringLiteral("No collection address"))) {
            EXPECT_EQ(line.code, 23270);
            toldOnce = true;
        }
        if (line.code == 23026) {
            EXPECT_TRUE(line.message.startsWith(QStringLiteral("No network."))) << line.message.toStdString();
        }
    }
    EXPECT_TRUE(toldOnce);
}

} // namespace

namespace {

class EngineSuspensionTest : public EngineFixture {
protected:
    void execute(const QString& sql)
    {
        engine_->dispatchSyncOnWorkerQueue(
            [&] { ASSERT_TRUE(engine_->database()->sqliteStore()->executeSQL(sql, nullptr)); });
    }
};

TEST_F(EngineSuspensionTest, UploadsPauseForAnHourWhenDeliveredBundlesCannotBeDeleted)
{
    start();
    // A configuration that stays current for the whole test: no fetch comes
    // between the uploads counted below.
    rcfg::ConfigBuilder config(kEngineAppID);
    config.setting(QStringLiteral("measurement.config.cache_time"), QStringLiteral("86400000"));
    ASSERT_TRUE(configure(config));
    logEvent(QStringLiteral("delivered_event"));
    execute(QStringLiteral("CREATE TRIGGER keep_queue BEFORE DELETE ON queue BEGIN SELECT RAISE(ABORT, 'kept'); END"));
    advance(15);
    ASSERT_EQ(server_.requestCount(), 1);
    EXPECT_GT(engine_->suspendedUploadTimestamp(), 0);
    EXPECT_FALSE(alarmDue().has_value());
    // New data within the hour schedules nothing, and nothing is sent.
    logEvent(QStringLiteral("waiting_event"));
    EXPECT_FALSE(alarmDue().has_value());
    advance(3500);
    EXPECT_EQ(server_.requestCount(), 1);
    execute(QStringLiteral("DROP TRIGGER keep_queue"));
    advance(200);
    logEvent(QStringLiteral("later_event"));
    ASSERT_TRUE(alarmDue().has_value());
    advance(*alarmDue() - time_.now());
    EXPECT_EQ(server_.requestCount(), 2);
    EXPECT_EQ(rowCount(APMDatabase::kQueueTable), 0);
}

} // namespace
