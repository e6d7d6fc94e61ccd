// Raw events and their metadata in the measurement database, checked
// against the rows the sqlite3 tool reads back.

#include "APMDatabaseRawQueueFixture.h"
#include "analytics/base/APMHelpers.h"
#include "analytics/model/APMRawEventData.h"
#include "analytics/wire/APMPBEvent.h"
#include "analytics/wire/APMPBEventParam.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace rawqueue {
namespace {

const APMRowFilter kAcceptAll = [](quint32, const APMRow&) { return true; };

class RawEventsTest : public DatabaseTest {
protected:
    // Stores the metadata and answers its fingerprint as the table holds it.
    qint64 storeMetadata(const QString& userPropertyValue)
    {
        APMError error;
        const auto bundle = metadataBundle(userPropertyValue);
        EXPECT_TRUE(database_->insertIfNotExistsRawEventMetadata(*bundle, &error))
            << error.description().toStdString();
        return sqlValue(
            QStringLiteral("SELECT metadata_fingerprint FROM raw_events_metadata WHERE metadata = x'%1';")
                .arg(QString::fromLatin1(encoded(*bundle).toHex())))
            .toLongLong();
    }

    qint64 insert(const QString& name, qint64 fingerprint, double timestamp = 1'700'000'000.5,
        bool realtime = false, const QVariantMap& parameters = {})
    {
        APMError error;
        EXPECT_TRUE(
            database_->insertRawEvent(event(name, timestamp, parameters), fingerprint, realtime, &error))
            << error.description().toStdString();
        return sqlValue(QStringLiteral("SELECT MAX(rowid) FROM raw_events;")).toLongLong();
    }

    QList<qint64> rowIDs(const std::optional<QList<APMRawEventData>>& events)
    {
        QList<qint64> ids;
        if (events) {
            for (const APMRawEventData& event : *events)
                ids << event.rowID();
        }
        return ids;
    }

    QList<qint64> storedRowIDs()
    {
        QList<qint64> ids;
        for (const QString& line : sql(QStringLiteral("SELECT rowid FROM raw_events ORDER BY rowid;")))
            ids << line.toLongLong();
        return ids;
    }
};

// The fingerprint is the last eight bytes of the MD5 of the encoded
// metadata, big-endian and signed; md5sum gives the digest.
TEST_F(RawEventsTest, FingerprintIsLow64BitsOfMD5OfEncodingBigEndian)
{
    bool sawNegative = false;
    for (const char* value : { "blue", "green", "red", "amber", "teal", "violet", "black", "white" }) {
        const QByteArray bytes = encoded(*metadataBundle(QString::fromLatin1(value)));
        const QByteArray digest = runTool(QStringLiteral("md5sum"), {}, bytes).left(32);
        const qint64 expected = qint64(digest.right(16).toULongLong(nullptr, 16));
        EXPECT_EQ(storeMetadata(QString::fromLatin1(value)), expected) << value;
        sawNegative = sawNegative || expected < 0;
    }
    EXPECT_TRUE(sawNegative); // the sign is tested too
}

TEST_F(RawEventsTest, IdenticalMetadataSharesOneRowAndAChangedPropertyMakesANewOne)
{
    const qint64 first = storeMetadata(QStringLiteral("blue"));
    EXPECT_EQ(storeMetadata(QStringLiteral("blue")), first);
    const qint64 second = storeMetadata(QStringLiteral("green"));
    EXPECT_NE(second, first);
    EXPECT_EQ(sqlValue(QStringLiteral("SELECT count(*) FROM raw_events_metadata;")), QStringLiteral("2"));

    APMError error;
    const auto read = database_->queryRawEventsMetadataWithFingerprint(second, &error);
    ASSERT_TRUE(read);
    EXPECT_EQ(encoded(*read), encoded(*metadataBundle(QStringLiteral("green"))));
    EXPECT_FALSE(database_->queryRawEventsMetadataWithFingerprint(12345, &error));
}

TEST_F(RawEventsTest, EmptyMetadataIsRefused)
{
    APMError error;
    EXPECT_FALSE(
        database_->insertIfNotExistsRawEventMetadata(*APMPBMeasurementBundle::initWithMessageInfo(), &error));
    EXPECT_EQ(error.code(), 3);
    EXPECT_EQ(error.localizedDescription(),
        QStringLiteral("Received empty measurement bundle metadata for getting dictionary representation"));
}

// A damaged metadata row cannot be read back; storing the metadata again
// under its fingerprint repairs it.
TEST_F(RawEventsTest, DamagedMetadataRowFailsToReadAndIsReplacedByTheNextInsert)
{
    const qint64 fingerprint = storeMetadata(QStringLiteral("blue"));
    sql(QStringLiteral("UPDATE raw_events_metadata SET metadata = x'ffff' WHERE metadata_fingerprint = %1;")
            .arg(fingerprint));
    APMError error;
    EXPECT_FALSE(database_->queryRawEventsMetadataWithFingerprint(fingerprint, &error));
    EXPECT_EQ(
        error.localizedDescription(), QStringLiteral("Failed to initialize data types from dictionaries"));

    EXPECT_EQ(storeMetadata(QStringLiteral("blue")), fingerprint);
    const auto read = database_->queryRawEventsMetadataWithFingerprint(fingerprint, &error);
    ASSERT_TRUE(read);
    EXPECT_EQ(encoded(*read), encoded(*metadataBundle(QStringLiteral("blue"))));
}

TEST_F(RawEventsTest, FullMetadataTableRefusesNewFingerprintsButKeepsAcceptingKnownOnes)
{
    const qint64 known = storeMetadata(QStringLiteral("blue"));
    sql(QStringLiteral("WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 99999) "
                       "INSERT INTO raw_events_metadata SELECT x, x'08' FROM n;"));
    ASSERT_EQ(
        sqlValue(QStringLiteral("SELECT count(*) FROM raw_events_metadata;")), QStringLiteral("100000"));

    APMError error;
    EXPECT_FALSE(
        database_->insertIfNotExistsRawEventMetadata(*metadataBundle(QStringLiteral("green")), &error));
    EXPECT_EQ(error.localizedDescription(), QStringLiteral("Failed to insert data type. Table is full"));
    EXPECT_EQ(storeMetadata(QStringLiteral("blue")), known);
    EXPECT_EQ(
        sqlValue(QStringLiteral("SELECT count(*) FROM raw_events_metadata;")), QStringLiteral("100000"));
}

// The row keeps the name in its own column and the wire form without it;
// protoc reads the blob independently.
TEST_F(RawEventsTest, InsertedRowHoldsTheEventWithoutItsNameInTheBlob)
{
    const qint64 fingerprint = storeMetadata(QStringLiteral("blue"));
    insert(
        QStringLiteral("purchase"), fingerprint, 1'700'000'123.25, true, { { QStringLiteral("value"), 7 } });
    const QStringList row = sqlValue(
        QStringLiteral("SELECT name, timestamp, metadata_fingerprint, is_realtime, typeof(timestamp), "
                       "hex(data) FROM raw_events;"))
                                .split(QLatin1Char('|'));
    ASSERT_EQ(row.size(), 6);
    EXPECT_EQ(row[0], QStringLiteral("purchase"));
    EXPECT_EQ(row[1], QStringLiteral("1700000123.25"));
    EXPECT_EQ(row[2].toLongLong(), fingerprint);
    EXPECT_EQ(row[3], QStringLiteral("1"));
    EXPECT_EQ(row[4], QStringLiteral("real"));

    const QString decoded = QString::fromUtf8(runTool(QStringLiteral("protoc"),
        { QStringLiteral("--decode_raw") }, QByteArray::fromHex(row[5].toLatin1())));
    EXPECT_FALSE(decoded.contains(QStringLiteral("purchase")));
    EXPECT_FALSE(
        decoded.contains(QRegularExpression(QStringLiteral("^2: "), QRegularExpression::MultilineOption)));
    EXPECT_TRUE(decoded.contains(QStringLiteral("3: 1700000123250")));
    EXPECT_TRUE(decoded.contains(QStringLiteral("\"_o\"")));
    EXPECT_TRUE(decoded.contains(QStringLiteral("\"value\"")));
}

TEST_F(RawEventsTest, EventsReadBackWithOriginNameTimesAndParameters)
{
    const qint64 fingerprint = storeMetadata(QStringLiteral("blue"));
    const QVariantList items { QVariantMap { { QStringLiteral("item_id"), QStringLiteral("sku-1") } },
        QVariantMap {
            { QStringLiteral("item_id"), QStringLiteral("sku-2") }, { QStringLiteral("quantity"), 2 } } };
    const QVariantMap parameters { { QStringLiteral("text"), QStringLiteral("hello") },
        { QStringLiteral("count"), 42 }, { QStringLiteral("ratio"), 0.5 },
        { QStringLiteral("items"), items } };
    const APMEvent original = event(QStringLiteral("purchase"), 1'700'000'100.5, parameters)
                                  .copyWithPreviousTimestamp(1'700'000'000.25);
    APMError error;
    ASSERT_TRUE(database_->insertRawEvent(original, fingerprint, false, &error));

    const auto events = database_->rawEventsWithMetadataFingerprint(fingerprint, &error, kAcceptAll);
    ASSERT_TRUE(events);
    ASSERT_EQ(events->size(), 1);
    const APMRawEventData& read = events->first();
    EXPECT_EQ(read.metadataFingerprint(), fingerprint);
    EXPECT_EQ(read.rowID(), 1);
    EXPECT_EQ(read.rawEvent().origin(), QStringLiteral("app"));
    EXPECT_EQ(read.rawEvent().name(), QStringLiteral("purchase"));
    EXPECT_EQ(read.rawEvent().timestamp(), 1'700'000'100.5);
    EXPECT_EQ(read.rawEvent().previousTimestamp(), 1'700'000'000.25);
    EXPECT_EQ(read.rawEvent().parameters(), original.parameters());
    // The items go on the wire again when the event is bundled.
    EXPECT_EQ(encoded(*read.rawEvent().protoEvent()), encoded(*original.protoEvent()));
}

TEST_F(RawEventsTest, ReadStopsAtTheFirstRefusedRowAndNeverHandsOutMoreThanAThousand)
{
    const qint64 fingerprint = storeMetadata(QStringLiteral("blue"));
    for (int i = 0; i < 3; ++i)
        insert(QStringLiteral("tap"), fingerprint);
    APMError error;
    const auto firstTwo = database_->rawEventsWithMetadataFingerprint(
        fingerprint, &error, [](quint32 index, const APMRow&) { return index < 2; });
    EXPECT_EQ(rowIDs(firstTwo), (QList<qint64> { 1, 2 }));

    // Refusing the first row is an empty run, not a failure.
    const auto none = database_->rawEventsWithMetadataFingerprint(
        fingerprint, &error, [](quint32, const APMRow&) { return false; });
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->isEmpty());

    EXPECT_FALSE(database_->rawEventsWithMetadataFingerprint(fingerprint, &error, APMRowFilter()));
    EXPECT_EQ(error.localizedDescription(), QStringLiteral("Received empty filter for selecting records"));

    sql(QStringLiteral("WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 1000) "
                       "INSERT INTO raw_events (name, timestamp, metadata_fingerprint, data, is_realtime) "
                       "SELECT name, timestamp, metadata_fingerprint, data, is_realtime FROM raw_events, n "
                       "WHERE raw_events.rowid = 1;"));
    const auto capped = database_->rawEventsWithMetadataFingerprint(fingerprint, &error, kAcceptAll);
    ASSERT_TRUE(capped);
    EXPECT_EQ(capped->size(), 1000);
    EXPECT_EQ(capped->last().rowID(), 1000);
}

// Events of two metadata logged alternately: bundling the first fingerprint
// deletes only its own events; the other's wait for their own bundle.
TEST_F(RawEventsTest, InterleavedFingerprintsKeepTheOtherMetadatasEvents)
{
    const qint64 blue = storeMetadata(QStringLiteral("blue"));
    const qint64 green = storeMetadata(QStringLiteral("green"));
    insert(QStringLiteral("a"), blue);
    insert(QStringLiteral("b"), green);
    insert(QStringLiteral("c"), blue);
    insert(QStringLiteral("d"), green);

    APMError error;
    ASSERT_EQ(database_->nextMetadataFingerprintToProcess(&error), blue);
    const auto bundled = database_->rawEventsWithMetadataFingerprint(blue, &error, kAcceptAll);
    ASSERT_EQ(rowIDs(bundled), (QList<qint64> { 1, 3 }));
    ASSERT_TRUE(database_->deleteRawEventsWithMaxRowID(bundled->last().rowID(), blue, &error));
    EXPECT_EQ(storedRowIDs(), (QList<qint64> { 2, 4 }));
    EXPECT_EQ(database_->containsRawEventWithMetadataFingerprint(blue, &error), false);
    EXPECT_EQ(database_->containsRawEventWithMetadataFingerprint(green, &error), true);
    ASSERT_TRUE(database_->deleteRawEventMetadataWithMetadataFingerprint(blue, &error));
    EXPECT_EQ(sql(QStringLiteral("SELECT metadata_fingerprint FROM raw_events_metadata;")),
        QStringList { QString::number(green) });

    EXPECT_EQ(database_->nextMetadataFingerprintToProcess(&error), green);
    const auto next = database_->rawEventsWithMetadataFingerprint(green, &error, kAcceptAll);
    EXPECT_EQ(rowIDs(next), (QList<qint64> { 2, 4 }));
}

TEST_F(RawEventsTest, ProbesOnEmptyAndFilledTables)
{
    APMError error;
    EXPECT_EQ(database_->isRawEventsTableEmpty(&error), true);
    EXPECT_EQ(database_->containsRealtimeRawEventsWithError(&error), false);
    EXPECT_FALSE(database_->nextMetadataFingerprintToProcess(&error));
    EXPECT_FALSE(database_->queryLatestRawEventTime(&error));
    EXPECT_EQ(error, APMError()); // nothing stored is not a failure

    const qint64 fingerprint = storeMetadata(QStringLiteral("blue"));
    insert(QStringLiteral("a"), fingerprint, 1'700'000'300.0);
    insert(QStringLiteral("b"), fingerprint, 1'700'000'100.0);
    EXPECT_EQ(database_->isRawEventsTableEmpty(&error), false);
    EXPECT_EQ(database_->containsRealtimeRawEventsWithError(&error), false);
    EXPECT_EQ(database_->queryLatestRawEventTime(&error), 1'700'000'300.0);
    insert(QStringLiteral("c"), fingerprint, 1'700'000'200.0, true);
    EXPECT_EQ(database_->containsRealtimeRawEventsWithError(&error), true);
    EXPECT_EQ(database_->containsRawEventWithMetadataFingerprint(fingerprint + 1, &error), false);
}

// The latest time and the real-time flag are kept between reads; after
// every change, by this connection or another, they must still be what the
// table holds, as the sqlite3 tool reads it.
TEST_F(RawEventsTest, KeptLatestTimeAndRealtimeFlagFollowEveryChangeToTheTable)
{
    const qint64 fingerprint = storeMetadata(QStringLiteral("blue"));
    const auto insertNow = [&](double timestamp, bool realtime) {
        APMError error;
        return database_->insertRawEvent(
            event(QStringLiteral("e"), timestamp), fingerprint, realtime, &error);
    };
    struct Step {
        const char* name;
        std::function<void()> change;
    };
    const std::vector<Step> steps = {
        { "older first", [&] { EXPECT_TRUE(insertNow(1'700'000'300.25, false)); } },
        { "an older one does not lower the latest", [&] { EXPECT_TRUE(insertNow(1'700'000'100.0, false)); } },
        { "a real-time one", [&] { EXPECT_TRUE(insertNow(1'700'000'200.0, true)); } },
        { "a newer one in a rolled-back transaction",
            [&] {
                EXPECT_FALSE(database_->performTransaction([&] {
                    EXPECT_TRUE(insertNow(1'700'000'900.0, true));
                    return false;
                }));
            } },
        { "a newer one committed",
            [&] {
                EXPECT_TRUE(database_->performTransaction([&] { return insertNow(1'700'000'400.0, false); }));
            } },
        { "the newest deleted here",
            [&] {
                APMSqliteStore* store = database_->openStore(nullptr);
                ASSERT_TRUE(store);
                EXPECT_EQ(store->deleteRecordsFromTableWithName(APMDatabase::kRawEventsTable,
                              QStringLiteral("timestamp > ?"), { 1'700'000'300.0 }, nullptr),
                    2);
            } },
        { "the oldest deleted by row id",
            [&] { EXPECT_TRUE(database_->deleteRawEventsWithMaxRowID(2, fingerprint, nullptr)); } },
        { "the real-time one deleted here",
            [&] {
                APMSqliteStore* store = database_->openStore(nullptr);
                ASSERT_TRUE(store);
                EXPECT_TRUE(store->deleteRecordsFromTableWithName(
                    APMDatabase::kRawEventsTable, QStringLiteral("is_realtime = ?"), { 1 }, nullptr));
            } },
        { "a newer real-time one by another connection",
            [&] {
                sql(QStringLiteral(
                    "INSERT INTO raw_events (name, timestamp, metadata_fingerprint, data, is_realtime) "
                    "VALUES ('x', 1700000700.5, %1, x'00', 1);")
                        .arg(fingerprint));
            } },
        { "everything deleted by another connection",
            [&] { sql(QStringLiteral("DELETE FROM raw_events;")); } },
        { "one into the empty table", [&] { EXPECT_TRUE(insertNow(1'700'000'050.0, false)); } },
        { "emptied here",
            [&] {
                EXPECT_TRUE(database_->openStore(nullptr)->deleteAllRecordsFromTableWithName(
                    APMDatabase::kRawEventsTable, nullptr));
            } },
    };
    const auto expectTableAnswers = [&](const char* after) {
        APMError error;
        const QString latest = sqlValue(QStringLiteral("SELECT quote(MAX(timestamp)) FROM raw_events;"));
        const std::optional<double> answer = database_->queryLatestRawEventTime(&error);
        if (latest == QStringLiteral("NULL"))
            EXPECT_FALSE(answer) << after;
        else
            EXPECT_EQ(answer, latest.toDouble()) << after;
        const bool realtime
            = sqlValue(QStringLiteral("SELECT EXISTS (SELECT 1 FROM raw_events WHERE is_realtime = 1);"))
            == "1";
        EXPECT_EQ(database_->containsRealtimeRawEventsWithError(&error), realtime) << after;
        EXPECT_EQ(error, APMError()) << after;
    };
    expectTableAnswers("nothing yet");
    for (const Step& step : steps) {
        step.change();
        expectTableAnswers(step.name);
        expectTableAnswers(step.name); // the kept answers too
    }
}

// Consecutive calls with equal metadata reuse its encoding and the knowledge
// that its row is stored; neither may outlive a change: other metadata, the
// same object changed, or the row gone or damaged by this connection,
// another one or a rollback.
TEST_F(RawEventsTest, RepeatedMetadataGivesItsFingerprintAndKeepsItsRowStored)
{
    const auto bundle = metadataBundle(QStringLiteral("blue"));
    const auto fingerprintOf = [](const NANOMessageBase& message) { return apm_64LSBMD5(encoded(message)); };
    const qint64 blue = fingerprintOf(*bundle);
    const auto store = [&](const APMPBMeasurementBundle& metadata) {
        APMError error;
        qint64 fingerprint = 0;
        EXPECT_TRUE(database_->insertIfNotExistsRawEventMetadata(metadata, &error, &fingerprint))
            << error.description().toStdString();
        return fingerprint;
    };
    const auto storedBytes = [&](qint64 fingerprint) {
        return sqlValue(
            QStringLiteral("SELECT hex(metadata) FROM raw_events_metadata WHERE metadata_fingerprint = %1;")
                .arg(fingerprint));
    };
    const QString blueBytes = QString::fromLatin1(encoded(*bundle).toHex().toUpper());
    struct Step {
        const char* name;
        std::function<void()> change;
    };
    const std::vector<Step> steps = {
        { "nothing changed", [] {} },
        { "deleted here",
            [&] { EXPECT_TRUE(database_->deleteRawEventMetadataWithMetadataFingerprint(blue, nullptr)); } },
        { "deleted as unused", [&] { EXPECT_TRUE(database_->deleteUnusedRawEventsMetadata(nullptr)); } },
        { "deleted by another connection", [&] { sql(QStringLiteral("DELETE FROM raw_events_metadata;")); } },
        { "damaged by another connection",
            [&] { sql(QStringLiteral("UPDATE raw_events_metadata SET metadata = x'ffff';")); } },
        { "written in a rolled-back transaction",
            [&] {
                EXPECT_TRUE(database_->deleteRawEventMetadataWithMetadataFingerprint(blue, nullptr));
                EXPECT_FALSE(database_->performTransaction([&] {
                    store(*bundle);
                    return false;
                }));
            } },
        { "other metadata in between",
            [&] { EXPECT_NE(store(*metadataBundle(QStringLiteral("green"))), blue); } },
    };
    for (const Step& step : steps) {
        step.change();
        EXPECT_EQ(store(*bundle), blue) << step.name;
        EXPECT_EQ(storedBytes(blue), blueBytes) << step.name;
    }

    // The object itself changed since the last call: its new content counts.
    APMPBSetStringField(bundle.get(), bundleSlot::platform, QStringLiteral("other"));
    const qint64 changed = store(*bundle);
    EXPECT_EQ(changed, fingerprintOf(*bundle));
    EXPECT_NE(changed, blue);
    EXPECT_EQ(storedBytes(changed), QString::fromLatin1(encoded(*bundle).toHex().toUpper()));
}

struct LimitCase {
    const char* name;
    const char* maxEventsStored;
    QList<qint64> rowIDsBefore;
    qint64 deleted;
    QList<qint64> rowIDsAfter;
};

// The newest limit - 1 events stay. Row ids with gaps (events of other
// fingerprints bundled earlier) are counted as rows, not as id ranges.
TEST_F(RawEventsTest, AbsoluteLimitKeepsTheNewestLimitMinusOne)
{
    const LimitCase cases[] = {
        { "four of three", "3", { 1, 2, 3, 4 }, 2, { 3, 4 } },
        { "two of three", "3", { 1, 2 }, 0, { 1, 2 } },
        { "gaps, over", "3", { 1, 50, 100, 200 }, 2, { 100, 200 } },
        { "gaps, under", "3", { 1, 500 }, 0, { 1, 500 } },
        { "limit one", "1", { 7, 8 }, 2, {} },
        { "limit zero", "0", { 1, 2, 3 }, 3, {} },
        { "empty", "3", {}, 0, {} },
        { "default limit", "", { 1, 2, 3, 4 }, 0, { 1, 2, 3, 4 } },
    };
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(c.name);
        useSettings({ { QStringLiteral("measurement.store.max_stored_events_per_app"),
            QString::fromLatin1(c.maxEventsStored) } });
        sql(QStringLiteral("DELETE FROM raw_events;"));
        for (qint64 id : c.rowIDsBefore)
            sql(QStringLiteral("INSERT INTO raw_events (rowid, name, timestamp, metadata_fingerprint, data) "
                               "VALUES (%1, 'e', 1.0, 5, x'08');")
                    .arg(id));
        APMError error;
        EXPECT_EQ(database_->deleteRawEventsOverAbsoluteLimit(&error), c.deleted);
        EXPECT_EQ(storedRowIDs(), c.rowIDsAfter);
    }
}

TEST_F(RawEventsTest, AbsoluteLimitLeavesRoomForTheNextEvent)
{
    useSettings({ { QStringLiteral("measurement.store.max_stored_events_per_app"), QStringLiteral("3") } });
    const qint64 fingerprint = storeMetadata(QStringLiteral("blue"));
    for (int i = 0; i < 4; ++i)
        insert(QStringLiteral("tap"), fingerprint);
    APMError error;
    EXPECT_EQ(database_->deleteRawEventsOverAbsoluteLimit(&error), 2);
    insert(QStringLiteral("tap"), fingerprint);
    EXPECT_EQ(storedRowIDs(), (QList<qint64> { 3, 4, 5 }));
}

// The limit looks at the row IDs it keeps from one insert to the next;
// after any change by this connection, a rollback or another connection it
// deletes what the table says is over, no more and no less.
TEST_F(RawEventsTest, KeptRowIDsFollowEveryChangeBeforeTheLimitLooks)
{
    useSettings({ { QStringLiteral("measurement.store.max_stored_events_per_app"), QStringLiteral("4") } });
    const qint64 fingerprint = storeMetadata(QStringLiteral("blue"));
    const auto insertNow = [&] {
        APMError error;
        return database_->insertRawEvent(
            event(QStringLiteral("e"), 1'700'000'000.0), fingerprint, false, &error);
    };
    const auto insertElsewhere = [&](qint64 rowID) {
        sql(QStringLiteral("INSERT INTO raw_events (rowid, name, timestamp, metadata_fingerprint, data) "
                           "VALUES (%1, 'x', 1.0, %2, x'08');")
                .arg(rowID)
                .arg(fingerprint));
    };
    struct Step {
        const char* name;
        std::function<void()> change;
        qint64 deleted; // three events stay: the limit less one
    };
    const std::vector<Step> steps = {
        { "nothing yet", [] {}, 0 },
        { "three here",
            [&] {
                for (int i = 0; i < 3; ++i)
                    EXPECT_TRUE(insertNow());
            },
            0 },
        { "one more here", [&] { EXPECT_TRUE(insertNow()); }, 1 },
        { "one in a rolled-back transaction",
            [&] {
                EXPECT_FALSE(database_->performTransaction([&] {
                    EXPECT_TRUE(insertNow());
                    return false;
                }));
            },
            0 },
        { "one far ahead by another connection", [&] { insertElsewhere(100); }, 1 },
        { "emptied by another connection", [&] { sql(QStringLiteral("DELETE FROM raw_events;")); }, 0 },
        { "one into the empty table, then one far behind elsewhere",
            [&] {
                EXPECT_TRUE(insertNow());
                insertElsewhere(-50);
            },
            0 },
        { "two more here",
            [&] {
                for (int i = 0; i < 2; ++i)
                    EXPECT_TRUE(insertNow());
            },
            1 },
        { "emptied here",
            [&] {
                EXPECT_TRUE(database_->openStore(nullptr)->deleteAllRecordsFromTableWithName(
                    APMDatabase::kRawEventsTable, nullptr));
            },
            0 },
        { "four here",
            [&] {
                for (int i = 0; i < 4; ++i)
                    EXPECT_TRUE(insertNow());
            },
            1 },
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.change();
        const QList<qint64> before = storedRowIDs();
        APMError error;
        EXPECT_EQ(database_->deleteRawEventsOverAbsoluteLimit(&error), step.deleted);
        EXPECT_EQ(error, APMError());
        EXPECT_EQ(storedRowIDs(), before.mid(step.deleted));
        EXPECT_EQ(database_->deleteRawEventsOverAbsoluteLimit(&error), 0); // the kept answer too
    }
}

// Age counts both ways: an event dated in the future beyond the age goes
// too. Metadata no event refers to any more goes with them.
TEST_F(RawEventsTest, StaleDeletionRemovesOldAndFutureEventsAndTheirUnusedMetadata)
{
    const qint64 blue = storeMetadata(QStringLiteral("blue"));
    const qint64 green = storeMetadata(QStringLiteral("green"));
    storeMetadata(QStringLiteral("red")); // used by no event
    const double day = 86400;
    insert(QStringLiteral("old"), blue, now() - 2 * day);
    const qint64 current = insert(QStringLiteral("now"), green, now());
    insert(QStringLiteral("future"), blue, now() + 2 * day);

    APMError error;
    ASSERT_TRUE(database_->deleteStaleRawEventsDataOlderThanMaxAge(day, &error));
    EXPECT_EQ(storedRowIDs(), QList<qint64> { current });
    EXPECT_EQ(sql(QStringLiteral("SELECT metadata_fingerprint FROM raw_events_metadata;")),
        QStringList { QString::number(green) });
}

TEST_F(RawEventsTest, NegativeOrNaNAgeFailsBeforeTouchingAnyRow)
{
    const qint64 fingerprint = storeMetadata(QStringLiteral("blue"));
    insert(QStringLiteral("old"), fingerprint, 1.0);
    for (double age : { -1.0, std::numeric_limits<double>::quiet_NaN() }) {
        APMError error;
        EXPECT_FALSE(database_->deleteStaleRawEventsDataOlderThanMaxAge(age, &error));
        EXPECT_EQ(error.code(), 1);
        EXPECT_EQ(error.localizedDescription(),
            QStringLiteral("Cannot delete stale raw events given negative time period"));
    }
    EXPECT_EQ(storedRowIDs(), QList<qint64> { 1 });
}

TEST_F(RawEventsTest, UnusedMetadataIsDeletedOnRequest)
{
    const qint64 used = storeMetadata(QStringLiteral("blue"));
    storeMetadata(QStringLiteral("green"));
    insert(QStringLiteral("tap"), used);
    APMError error;
    ASSERT_TRUE(database_->deleteUnusedRawEventsMetadata(&error));
    EXPECT_EQ(sql(QStringLiteral("SELECT metadata_fingerprint FROM raw_events_metadata;")),
        QStringList { QString::number(used) });
    // Deleting what is not there succeeds as well.
    EXPECT_TRUE(database_->deleteRawEventMetadataWithMetadataFingerprint(used + 1, &error));
}

// An event wire form for a hand-made row: parameters as (name, string) pairs,
// a null string leaving the value unset.
QByteArray eventBlob(const std::vector<std::pair<QString, QVariant>>& parameters)
{
    auto proto = APMPBEvent::initWithMessageInfo();
    std::vector<std::unique_ptr<APMPBEventParam>> params;
    for (const auto& [name, value] : parameters) {
        params.push_back(APMPBEventParam::initWithMessageInfo());
        if (!name.isNull())
            APMPBSetStringField(params.back().get(), 0, name);
        if (value.metaType().id() == QMetaType::QString)
            APMPBSetStringField(params.back().get(), 1, value.toString());
        else if (value.isValid())
            APMPBSetInt64Field(params.back().get(), 2, value.toLongLong());
    }
    APMPBSetArrayField(proto.get(), 0, params);
    APMPBSetInt64Field(proto.get(), 2, 1'700'000'000'000);
    return encoded(*proto);
}

struct RowCase {
    const char* name;
    APMRow row;
    qint64 code;
    const char* message;
};

TEST_F(RawEventsTest, RowsThatDoNotMakeAnEventFailWithTheirReason)
{
    const QString origin = QStringLiteral("_o");
    const QByteArray good = eventBlob({ { origin, QStringLiteral("app") } });
    const auto row = [&](const QVariant& rowID, const QVariant& data, const QVariant& fingerprint) {
        APMRow r { { QStringLiteral("name"), QStringLiteral("tap") }, { QStringLiteral("timestamp"), 1.0 } };
        if (rowID.isValid())
            r.insert(QStringLiteral("rowid"), rowID);
        if (data.isValid())
            r.insert(QStringLiteral("data"), data);
        if (fingerprint.isValid())
            r.insert(QStringLiteral("metadata_fingerprint"), fingerprint);
        return r;
    };
    const RowCase cases[] = {
        { "empty", {}, 1, "Received empty dictionary for getting raw event data" },
        { "no row id", row({}, good, 5LL), 1, "Unable to find row ID in the database dictionary" },
        { "null row id", row(APMSqlNull(), good, 5LL), 1,
            "Unable to find row ID in the database dictionary" },
        { "no data", row(1LL, {}, 5LL), 1, "Unable to find event data in the database dictionary" },
        { "no fingerprint", row(1LL, good, {}), 1,
            "Unable to find event metadata in the database dictionary" },
        { "not an event", row(1LL, QByteArray("\xff\xff", 2), 5LL), 3, "Failed to parse event from data" },
        { "no origin", row(1LL, eventBlob({ { QStringLiteral("x"), 1 } }), 5LL), 2,
            "Cannot create an event from database. Missing origin parameter" },
        { "origin not text", row(1LL, eventBlob({ { origin, 1 } }), 5LL), 2,
            "Cannot create an event from database. Origin parameter is not a string" },
        { "parameter without name",
            row(1LL, eventBlob({ { origin, QStringLiteral("app") }, { QString(), 1 } }), 5LL), 2,
            "Failed to parse event params from data" },
    };
    for (const RowCase& c : cases) {
        SCOPED_TRACE(c.name);
        APMError error;
        EXPECT_FALSE(database_->rawEventDataFromDictionary(c.row, &error));
        EXPECT_EQ(error.code(), c.code);
        EXPECT_EQ(error.localizedDescription(), QString::fromLatin1(c.message));
    }
    APMError error;
    const auto made = database_->rawEventDataFromDictionary(row(9LL, good, -5LL), &error);
    ASSERT_TRUE(made);
    EXPECT_EQ(made->rowID(), 9);
    EXPECT_EQ(made->metadataFingerprint(), -5);
    EXPECT_EQ(made->rawEvent().origin(), QStringLiteral("app"));
}

// A run whose rows all fail to convert is a failure; one with some good
// rows hands out the good ones.
TEST_F(RawEventsTest, UnreadableRowsAreLeftOutAndAllUnreadableFails)
{
    const qint64 fingerprint = storeMetadata(QStringLiteral("blue"));
    insert(QStringLiteral("a"), fingerprint);
    insert(QStringLiteral("b"), fingerprint);
    sql(QStringLiteral("UPDATE raw_events SET data = x'ffff' WHERE rowid = 1;"));
    APMError error;
    EXPECT_EQ(rowIDs(database_->rawEventsWithMetadataFingerprint(fingerprint, &error, kAcceptAll)),
        QList<qint64> { 2 });
    sql(QStringLiteral("UPDATE raw_events SET data = x'ffff';"));
    EXPECT_FALSE(database_->rawEventsWithMetadataFingerprint(fingerprint, &error, kAcceptAll));
    EXPECT_EQ(error.localizedDescription(), QStringLiteral("Failed to parse event from data"));
}

} // namespace
} // namespace rawqueue
