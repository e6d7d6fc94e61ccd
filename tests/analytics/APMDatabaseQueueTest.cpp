// The upload queue of the measurement database and the gzip helper behind
// it, checked against the gzip and sqlite3 tools.

#include "APMDatabaseRawQueueFixture.h"
#include "analytics/store/APMGzip.h"

#include <functional>
#include <limits>

namespace rawqueue {
namespace {

constexpr qint64 kRetryLimit = std::numeric_limits<qint32>::max();

// A bundle ready for the queue: app ID, end time (ms), bundle index, and
// padding in the platform field to give it a chosen size.
std::unique_ptr<APMPBMeasurementBundle> queueBundle(
    qint64 endMilliseconds, qint32 index, int padding = 0, QString appID = QStringLiteral("1:42:linux:cafe"))
{
    auto bundle = APMPBMeasurementBundle::initWithMessageInfo();
    if (!appID.isNull())
        APMPBSetStringField(bundle.get(), bundleSlot::appID, appID);
    if (endMilliseconds != 0)
        APMPBSetInt64Field(bundle.get(), bundleSlot::endTimestamp, endMilliseconds);
    APMPBSetInt32Field(bundle.get(), bundleSlot::bundleIndex, index);
    if (padding > 0)
        APMPBSetStringField(bundle.get(), bundleSlot::platform, QString(padding, QLatin1Char('p')));
    return bundle;
}

class QueueTest : public DatabaseTest {
protected:
    qint64 nowMilliseconds() const { return qint64(now() * 1000); }

    qint64 enqueue(const APMPBMeasurementBundle& bundle, bool realtime = false)
    {
        APMError error;
        EXPECT_TRUE(database_->insertBundle(bundle, realtime, &error)) << error.description().toStdString();
        return sqlValue(QStringLiteral("SELECT MAX(rowid) FROM queue;")).toLongLong();
    }

    QList<qint64> storedRowIDs()
    {
        QList<qint64> ids;
        for (const QString& line : sql(QStringLiteral("SELECT rowid FROM queue ORDER BY rowid;")))
            ids << line.toLongLong();
        return ids;
    }

    static QList<qint64> rowIDs(const std::optional<std::vector<APMQueuedBundle>>& bundles)
    {
        QList<qint64> ids;
        if (bundles) {
            for (const APMQueuedBundle& queued : *bundles)
                ids << queued.rowID;
        }
        return ids;
    }

    static QList<qint32> indexes(const std::optional<std::vector<APMQueuedBundle>>& bundles)
    {
        QList<qint32> result;
        if (bundles) {
            for (const APMQueuedBundle& queued : *bundles)
                result << APMPBGetInt32Field(queued.bundle.get(), bundleSlot::bundleIndex);
        }
        return result;
    }
};

TEST(GzipTest, OutputIsGzipThatTheGzipToolReadsAndItsOutputInflates)
{
    for (const QByteArray& data :
        { QByteArray("x"), QByteArray(100000, 'a'), QByteArray::fromHex("00ff10") }) {
        QString reason;
        const QByteArray compressed = APMGzip::dataByGzippingData(data, &reason);
        ASSERT_FALSE(compressed.isEmpty()) << reason.toStdString();
        EXPECT_EQ(gunzipTool(compressed), data);
        EXPECT_EQ(APMGzip::dataByInflatingGzippedData(gzipTool(data), &reason), data) << reason.toStdString();
    }
}

TEST(GzipTest, DamagedStreamsFailWithAReason)
{
    const QByteArray good = APMGzip::dataByGzippingData(QByteArray(5000, 'q') + QByteArray("tail"), nullptr);
    QByteArray badChecksum = good;
    badChecksum[badChecksum.size() - 6] = char(badChecksum.at(badChecksum.size() - 6) ^ 0x55);
    const struct {
        const char* name;
        QByteArray data;
    } cases[] = {
        { "empty", QByteArray() },
        { "not gzip", QByteArray("plain text, not compressed") },
        { "truncated", good.left(good.size() / 2) },
        { "no trailer", good.left(good.size() - 8) },
        { "bad checksum", badChecksum },
        { "trailing bytes", good + QByteArray("xyz") },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QString reason;
        EXPECT_TRUE(APMGzip::dataByInflatingGzippedData(c.data, &reason).isEmpty());
        EXPECT_FALSE(reason.isEmpty());
    }
}

TEST(GzipTest, InflatingStopsAtTheSizeCap)
{
    const QByteArray huge(APMGzip::kMaxInflatedSize + 1, '\0');
    const QByteArray compressed = APMGzip::dataByGzippingData(huge, nullptr);
    ASSERT_FALSE(compressed.isEmpty());
    EXPECT_LT(compressed.size(), 1024 * 1024);
    QString reason;
    EXPECT_TRUE(APMGzip::dataByInflatingGzippedData(compressed, &reason).isEmpty());
    EXPECT_TRUE(reason.contains(QStringLiteral("exceeds")));
}

TEST_F(QueueTest, InsertedRowHoldsTheGzippedEncodingAndTheBundleFields)
{
    auto bundle = queueBundle(nowMilliseconds() - 1500, 7);
    APMPBSetInt32Field(bundle.get(), bundleSlot::retryCount, 3);
    const qint64 endMilliseconds = APMPBGetInt64Field(bundle.get(), bundleSlot::endTimestamp);
    ValidatorLogRecorder log;
    enqueue(*bundle, true);

    const QStringList row
        = sqlValue(QStringLiteral("SELECT printf('%.3f', bundle_end_timestamp), is_realtime, retry_count, "
                                  "typeof(bundle_end_timestamp), hex(data) FROM queue;"))
              .split(QLatin1Char('|'));
    ASSERT_EQ(row.size(), 5);
    EXPECT_EQ(row[0], QString::number(endMilliseconds / 1000.0, 'f', 3));
    EXPECT_EQ(row[1], QStringLiteral("1"));
    EXPECT_EQ(row[2], QStringLiteral("3"));
    EXPECT_EQ(row[3], QStringLiteral("real"));
    const QByteArray stored = QByteArray::fromHex(row[4].toLatin1());
    EXPECT_EQ(gunzipTool(stored), encoded(*bundle));
    EXPECT_TRUE(log.has(APMMonitor::kLevelDebug, 12018));
    EXPECT_FALSE(log.has(APMMonitor::kLevelWarningMonitored, 12016));
}

TEST_F(QueueTest, BundlesWithoutEncodingAppIDOrTimeAreRefused)
{
    const struct {
        const char* name;
        std::unique_ptr<APMPBMeasurementBundle> bundle;
        const char* message;
    } cases[] = {
        { "empty", APMPBMeasurementBundle::initWithMessageInfo(), "Failed to insert nil bundle" },
        { "no app ID", queueBundle(nowMilliseconds(), 1, 0, QString()),
            "Failed to insert bundle without App ID" },
        { "empty app ID", queueBundle(nowMilliseconds(), 1, 0, QStringLiteral("")),
            "Failed to insert bundle without App ID" },
        { "no end time", queueBundle(0, 1), "Failed to insert bundle without valid timestamp" },
        { "negative end time", queueBundle(-5, 1), "Failed to insert bundle without valid timestamp" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        APMError error;
        EXPECT_FALSE(database_->insertBundle(*c.bundle, false, &error));
        EXPECT_EQ(error.code(), 1);
        EXPECT_EQ(error.localizedDescription(), QString::fromLatin1(c.message));
    }
    EXPECT_TRUE(storedRowIDs().isEmpty());
}

// The size limit applies to the uncompressed encodings, oldest first; the
// first bundle always goes, and the scan ends at the first that does not fit.
TEST_F(QueueTest, OldestBundlesAreTakenWithinTheCountAndSizeLimits)
{
    const auto a = queueBundle(nowMilliseconds(), 1, 380);
    const auto b = queueBundle(nowMilliseconds(), 2, 380);
    const auto c = queueBundle(nowMilliseconds(), 3, 380);
    const auto tiny = queueBundle(nowMilliseconds(), 4);
    const quint64 size = quint64(encoded(*a).size());
    ASSERT_EQ(quint64(encoded(*b).size()), size);
    for (const auto* bundle : { a.get(), b.get(), c.get(), tiny.get() })
        enqueue(*bundle);

    const struct {
        const char* name;
        qint64 count;
        quint64 sizeLimit;
        QList<qint32> expected;
    } cases[] = {
        { "three of four hundred in a thousand", 10, 1000 * size / 400, { 1, 2 } },
        { "exactly two", 10, 2 * size, { 1, 2 } },
        { "first alone above the limit", 10, size - 1, { 1 } },
        { "zero limit", 10, 0, { 1 } },
        { "count limit", 2, std::numeric_limits<quint64>::max(), { 1, 2 } },
        { "everything", 10, std::numeric_limits<quint64>::max(), { 1, 2, 3, 4 } },
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        APMError error;
        EXPECT_EQ(indexes(database_->queryBundlesWithCountLimit(k.count, k.sizeLimit, &error)), k.expected);
    }
}

TEST_F(QueueTest, EmptyQueueGivesAnEmptyListAndNoLatestTime)
{
    APMError error;
    const auto bundles = database_->queryBundlesWithCountLimit(10, 1000, &error);
    ASSERT_TRUE(bundles);
    EXPECT_TRUE(bundles->empty());
    EXPECT_FALSE(database_->queryLatestBundleTime(&error));
    EXPECT_EQ(database_->isQueuedBundleTableEmpty(&error), true);
    EXPECT_EQ(database_->containsRealtimeBundlesWithError(&error), false);
    EXPECT_EQ(error, APMError());

    const qint64 later = nowMilliseconds() - 1000;
    enqueue(*queueBundle(later, 1));
    enqueue(*queueBundle(later - 60000, 2), true);
    EXPECT_EQ(database_->queryLatestBundleTime(&error), later / 1000.0);
    EXPECT_EQ(database_->isQueuedBundleTableEmpty(&error), false);
    EXPECT_EQ(database_->containsRealtimeBundlesWithError(&error), true);
}

// Rows that cannot be inflated or decoded are logged and removed, and the
// bundles behind them still go out.
TEST_F(QueueTest, UnreadableRowsAreSkippedLoggedAndRemoved)
{
    const qint64 first = enqueue(*queueBundle(nowMilliseconds(), 1));
    const QByteArray notABundle = APMGzip::dataByGzippingData(QByteArray::fromHex("ffffffff"), nullptr);
    sql(QStringLiteral("INSERT INTO queue (data, bundle_end_timestamp, is_realtime, retry_count) VALUES "
                       "(x'00112233', 1.0, 0, 0), (x'%1', 1.0, 0, 0), (x'', 1.0, 0, 0);")
            .arg(QString::fromLatin1(notABundle.toHex())));
    const qint64 last = enqueue(*queueBundle(nowMilliseconds(), 2));

    ValidatorLogRecorder log;
    APMError error;
    const auto bundles = database_->queryBundlesWithCountLimit(10, 1'000'000, &error);
    EXPECT_EQ(rowIDs(bundles), (QList<qint64> { first, last }));
    EXPECT_EQ(storedRowIDs(), (QList<qint64> { first, last }));
    int removals = 0;
    for (const RecordedLine& line : log.lines())
        removals += line.code == 12019 ? 1 : 0;
    EXPECT_EQ(removals, 3);

    // The same by row id.
    sql(QStringLiteral(
        "INSERT INTO queue (rowid, data, bundle_end_timestamp, retry_count) VALUES (50, x'01', 1.0, 0);"));
    const auto byID = database_->queryBundlesWithRowIDs({ last, 50 }, &error);
    EXPECT_EQ(rowIDs(byID), QList<qint64> { last });
    EXPECT_EQ(storedRowIDs(), (QList<qint64> { first, last }));
}

TEST_F(QueueTest, RetryCountTravelsWithTheBundleAndStopsAtTheLimit)
{
    const auto original = queueBundle(nowMilliseconds(), 1);
    const qint64 fresh = enqueue(*original);
    const qint64 atFive = enqueue(*queueBundle(nowMilliseconds(), 2));
    const qint64 atLimit = enqueue(*queueBundle(nowMilliseconds(), 3));
    sql(QStringLiteral("UPDATE queue SET retry_count = 5 WHERE rowid = %1; UPDATE queue SET retry_count = %2 "
                       "WHERE rowid = %3;")
            .arg(atFive)
            .arg(kRetryLimit)
            .arg(atLimit));

    APMError error;
    auto bundles = database_->queryBundlesWithRowIDs({ fresh }, &error);
    ASSERT_EQ(rowIDs(bundles), QList<qint64> { fresh });
    EXPECT_EQ(encoded(*bundles->front().bundle), encoded(*original)); // returned exactly as stored

    {
        // Another row at the limit is not being raised: no warning.
        ValidatorLogRecorder log;
        ASSERT_TRUE(database_->incrementRetryCounterForBundlesWithIDs({ fresh, atFive }, &error));
        EXPECT_FALSE(log.has(APMMonitor::kLevelErrorMonitored, 12054));
    }
    bundles = database_->queryBundlesWithRowIDs({ fresh, atFive }, &error);
    ASSERT_EQ(rowIDs(bundles), (QList<qint64> { fresh, atFive }));
    EXPECT_EQ(APMPBGetInt32Field((*bundles)[0].bundle.get(), bundleSlot::retryCount), 1);
    EXPECT_EQ(APMPBGetInt32Field((*bundles)[1].bundle.get(), bundleSlot::retryCount), 6);

    ValidatorLogRecorder log;
    ASSERT_TRUE(database_->incrementRetryCounterForBundlesWithIDs({ atLimit }, &error));
    EXPECT_TRUE(log.has(APMMonitor::kLevelErrorMonitored, 12054));
    EXPECT_EQ(sqlValue(QStringLiteral("SELECT retry_count FROM queue WHERE rowid = %1;").arg(atLimit)),
        QString::number(kRetryLimit));
}

TEST_F(QueueTest, RowIDOperationsRefuseAnEmptyList)
{
    APMError error;
    EXPECT_FALSE(database_->incrementRetryCounterForBundlesWithIDs({}, &error));
    EXPECT_EQ(error.code(), 1);
    EXPECT_EQ(error.localizedDescription(), QStringLiteral("Failed to increment retry counter"));
    for (const auto& operation : std::vector<std::function<bool(APMError*)>> {
             [&](APMError* e) { return database_->deleteBundlesWithRowIDs({}, e); },
             [&](APMError* e) { return database_->queryBundlesWithRowIDs({}, e).has_value(); } }) {
        APMError e;
        EXPECT_FALSE(operation(&e));
        EXPECT_EQ(e.code(), 3);
        EXPECT_EQ(e.localizedDescription(), QStringLiteral("Received empty row IDs to process"));
    }
}

// More ids than one statement may bind are named in slices.
TEST_F(QueueTest, ManyRowIDsAreReadRaisedAndDeleted)
{
    enqueue(*queueBundle(nowMilliseconds(), 1));
    sql(QStringLiteral("WITH RECURSIVE n(x) AS (SELECT 2 UNION ALL SELECT x + 1 FROM n WHERE x < 1300) "
                       "INSERT INTO queue (rowid, data, bundle_end_timestamp, is_realtime, retry_count) "
                       "SELECT x, data, bundle_end_timestamp, is_realtime, retry_count FROM queue, n "
                       "WHERE queue.rowid = 1;"));
    QList<qint64> ids;
    for (qint64 id = 1; id <= 1300; ++id)
        ids << id;
    APMError error;
    EXPECT_EQ(rowIDs(database_->queryBundlesWithRowIDs(ids, &error)), ids);
    ASSERT_TRUE(database_->incrementRetryCounterForBundlesWithIDs(ids, &error));
    EXPECT_EQ(sqlValue(QStringLiteral("SELECT count(*) FROM queue WHERE retry_count = 1;")),
        QStringLiteral("1300"));
    ASSERT_TRUE(database_->deleteBundlesWithRowIDs(ids.mid(0, 1299), &error));
    EXPECT_EQ(storedRowIDs(), QList<qint64> { 1300 });
}

// A bundle far older than the queue time is still stored (with a warning)
// while the stale pass is not due.
TEST_F(QueueTest, OldBundleIsStoredWithAWarningWhenTheStalePassIsNotDue)
{
    ValidatorLogRecorder log;
    enqueue(*queueBundle(nowMilliseconds() - qint64(40) * 86400 * 1000, 1));
    EXPECT_EQ(storedRowIDs().size(), 1);
    EXPECT_TRUE(log.has(APMMonitor::kLevelWarningMonitored, 12016));
}

TEST_F(QueueTest, StalePassRunsOncePerIntervalOverRawEventsAndBundles)
{
    const double day = 86400;
    const qint64 dayMilliseconds = qint64(day) * 1000;
    // Inserted while the pass is not due.
    enqueue(*queueBundle(nowMilliseconds() - 40 * dayMilliseconds, 1));
    enqueue(*queueBundle(nowMilliseconds() + 40 * dayMilliseconds, 2));
    const qint64 recent = enqueue(*queueBundle(nowMilliseconds() - dayMilliseconds, 3));
    APMError error;
    const auto metadata = metadataBundle(QStringLiteral("blue"));
    ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(*metadata, &error));
    const qint64 fingerprint
        = sqlValue(QStringLiteral("SELECT metadata_fingerprint FROM raw_events_metadata;")).toLongLong();
    ASSERT_TRUE(database_->insertRawEvent(
        event(QStringLiteral("old"), now() - 40 * day), fingerprint, false, &error));

    EXPECT_EQ(database_->maybeDeleteStaleData(&error), false);
    EXPECT_EQ(storedRowIDs().size(), 3);

    // Due: the last pass lies more than the interval (default one day) back.
    persisted_->setLastDeleteStaleBundlesTimestamp(now() - 2 * day);
    const double before = now();
    EXPECT_EQ(database_->maybeDeleteStaleData(&error), true);
    EXPECT_EQ(storedRowIDs(), QList<qint64> { recent });
    EXPECT_EQ(sqlValue(QStringLiteral("SELECT count(*) FROM raw_events;")), QStringLiteral("0"));
    EXPECT_EQ(sqlValue(QStringLiteral("SELECT count(*) FROM raw_events_metadata;")), QStringLiteral("0"));
    EXPECT_GE(persisted_->lastDeleteStaleBundlesTimestamp(), before);
    EXPECT_EQ(database_->maybeDeleteStaleData(&error), false);
}

// The interval and the queue time come from the remote settings, in
// milliseconds.
TEST_F(QueueTest, StalePassFollowsTheRemoteSettings)
{
    useSettings(
        { { QStringLiteral("measurement.upload.stale_data_deletion_interval"), QStringLiteral("3600000") },
            { QStringLiteral("measurement.upload.max_queue_time"), QStringLiteral("604800000") } });
    const qint64 dayMilliseconds = qint64(86400) * 1000;
    enqueue(*queueBundle(nowMilliseconds() - 8 * dayMilliseconds, 1));
    const qint64 kept = enqueue(*queueBundle(nowMilliseconds() - 6 * dayMilliseconds, 2));
    persisted_->setLastDeleteStaleBundlesTimestamp(now() - 2 * 3600);
    // Inserting runs the pass in passing.
    const qint64 last = enqueue(*queueBundle(nowMilliseconds(), 3));
    EXPECT_EQ(storedRowIDs(), (QList<qint64> { kept, last }));
}

TEST_F(QueueTest, NegativeOrNaNMaxAgeIsRefused)
{
    enqueue(*queueBundle(1000, 1));
    for (double age : { -1.0, std::numeric_limits<double>::quiet_NaN() }) {
        APMError error;
        EXPECT_FALSE(database_->deleteStaleBundlesOlderThanMaxAge(age, &error));
        EXPECT_EQ(error.code(), 1);
        EXPECT_EQ(error.localizedDescription(),
            QStringLiteral("Cannot delete stale bundles after negative time period"));
    }
    EXPECT_EQ(storedRowIDs().size(), 1);
}

} // namespace
} // namespace rawqueue
