#include "analytics/base/APMError.h"
#include "analytics/model/APMEventAggregates.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/base/APMValue.h"
#include "fakes/TempHome.h"

#include <QProcess>
#include <QStringList>

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace {

class DatabaseAggregatesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = home_.path() + QStringLiteral("/aggregates.sql");
        APMError error;
        database_ = APMDatabase::initWithDatabasePath(path_, nullptr, &error);
        ASSERT_TRUE(database_) << error.description().toStdString();
    }

    // Runs SQL with the sqlite3 command-line tool on the same file and
    // answers what it prints.
    std::string sqlite(const QString& sql)
    {
        QProcess process;
        process.start(QStringLiteral("sqlite3"), { path_, sql });
        EXPECT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        return process.readAllStandardOutput().trimmed().toStdString();
    }

    APMEventAggregates aggregates(const QString& name, qint32 lifetime, qint32 bundle = 0, qint32 session = 0)
    {
        auto made = APMEventAggregates::initWithName(name, lifetime, bundle, session, 1000.5);
        EXPECT_TRUE(made) << name.toStdString();
        return *made;
    }

    APMUserAttribute attribute(const QString& name, const APMValue& value, double setTime = 100,
        const QString& origin = QStringLiteral("app"))
    {
        auto made = APMUserAttribute::initWithOrigin(origin, name, value, setTime);
        EXPECT_TRUE(made) << name.toStdString();
        return *made;
    }

    // "name=lifetime count" of every row in rowid order, joined by ",".
    std::string eventNames()
    {
        APMError error;
        const auto all = database_->allEventAggregates(&error);
        EXPECT_TRUE(all) << error.description().toStdString();
        QStringList names;
        for (const auto& row : all.value_or(QList<APMEventAggregates>()))
            names << QStringLiteral("%1=%2").arg(row.name()).arg(row.lifetimeCount());
        return names.join(QLatin1Char(',')).toStdString();
    }

    fakes::TempHome home_;
    QString path_;
    std::unique_ptr<APMDatabase> database_;
};

TEST_F(DatabaseAggregatesTest, AggregatesRoundTripEveryColumn)
{
    APMEventAggregates written = aggregates(QStringLiteral("level_up"), 5, 2, 1);
    written.setLastBundledTimestamp(1500.25);
    written.setLastSampledComplexEventID(77);
    written.setLastSamplingRate(10);
    written.setLastExemptFromSampling(true);
    written.setLastBundledDay(19000);
    APMError error;
    ASSERT_TRUE(database_->updateEventAggregates(written, &error)) << error.description().toStdString();

    const auto read = database_->eventAggregatesWithName(QStringLiteral("level_up"), &error);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->lifetimeCount(), 5);
    EXPECT_EQ(read->currentBundleCount(), 2);
    EXPECT_EQ(read->currentSessionCount(), 1);
    EXPECT_DOUBLE_EQ(read->lastFireTimestamp(), 1000.5);
    EXPECT_DOUBLE_EQ(read->lastBundledTimestamp(), 1500.25);
    EXPECT_EQ(read->lastSampledComplexEventID(), 77);
    EXPECT_EQ(read->lastSamplingRate(), 10);
    EXPECT_TRUE(read->lastExemptFromSampling());
    EXPECT_EQ(read->lastBundledDay(), 19000);
    EXPECT_EQ(
        sqlite(QStringLiteral("SELECT typeof(last_fire_timestamp), typeof(lifetime_count) FROM events")),
        "real|integer");

    // The upsert replaces the whole row: an event id no longer carried is gone.
    written.setLastSampledComplexEventID(std::nullopt);
    ASSERT_TRUE(database_->updateEventAggregates(written, &error));
    EXPECT_EQ(sqlite(QStringLiteral("SELECT last_sampled_complex_event_id IS NULL FROM events")), "1");

    EXPECT_FALSE(database_->eventAggregatesWithName(QStringLiteral("missing"), &error));
}

TEST_F(DatabaseAggregatesTest, NullAddOnColumnsReadAsDefaults)
{
    sqlite(
        QStringLiteral("INSERT INTO events (name, lifetime_count, current_bundle_count, last_fire_timestamp) "
                       "VALUES ('old', 3, 1, 12.5)"));
    APMError error;
    const auto read = database_->eventAggregatesWithName(QStringLiteral("old"), &error);
    ASSERT_TRUE(read) << error.description().toStdString();
    EXPECT_EQ(read->lifetimeCount(), 3);
    EXPECT_EQ(read->currentSessionCount(), 0);
    EXPECT_EQ(read->lastSamplingRate(), 1);
    EXPECT_DOUBLE_EQ(read->lastBundledTimestamp(), 0);
    EXPECT_FALSE(read->lastExemptFromSampling());
    EXPECT_EQ(read->lastBundledDay(), 0);
    EXPECT_FALSE(read->lastSampledComplexEventID());
}

TEST_F(DatabaseAggregatesTest, StoredCountsOutsideThirtyTwoBitsNeverWrap)
{
    sqlite(QStringLiteral(
        "INSERT INTO events (name, lifetime_count, current_bundle_count, last_fire_timestamp, "
        "current_session_count, last_sampling_rate) VALUES ('huge', 5000000000, 4294967297, 1, "
        "99999999999, 1e300)"));
    APMError error;
    const auto read = database_->eventAggregatesWithName(QStringLiteral("huge"), &error);
    ASSERT_TRUE(read) << error.description().toStdString();
    EXPECT_EQ(read->lifetimeCount(), 2147483647);
    EXPECT_EQ(read->currentBundleCount(), 2147483647);
    EXPECT_EQ(read->currentSessionCount(), 2147483647);
    EXPECT_EQ(read->lastSamplingRate(), 2147483647);

    // A negative count is refused by the model; the row is left out.
    sqlite(
        QStringLiteral("INSERT INTO events (name, lifetime_count, current_bundle_count, last_fire_timestamp) "
                       "VALUES ('negative', -1, 0, 1)"));
    EXPECT_FALSE(database_->eventAggregatesWithName(QStringLiteral("negative"), &error));
    EXPECT_EQ(error.code(), APMError::InvalidState);
    EXPECT_EQ(error.localizedDescription().toStdString(),
        std::string("Failed to initialize data types from dictionaries"));
    EXPECT_EQ(eventNames(), "huge=2147483647");
}

TEST_F(DatabaseAggregatesTest, TableOfAThousandNamesTakesUpdatesButNoNewName)
{
    sqlite(
        QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 999) "
                       "INSERT INTO events (name, lifetime_count, current_bundle_count, last_fire_timestamp) "
                       "SELECT 'e' || i, 1, 0, 1 FROM n"));
    APMError error;
    EXPECT_TRUE(database_->updateEventAggregates(aggregates(QStringLiteral("e500"), 9), &error));
    EXPECT_FALSE(database_->updateEventAggregates(aggregates(QStringLiteral("e1000"), 1), &error));
    EXPECT_EQ(error.code(), APMError::InvalidState);
    EXPECT_EQ(
        error.localizedDescription().toStdString(), std::string("Failed to insert data type. Table is full"));
    EXPECT_EQ(sqlite(QStringLiteral("SELECT count(*), sum(name = 'e1000') FROM events")), "1000|0");

    const auto all = database_->allEventAggregates(&error);
    ASSERT_TRUE(all);
    ASSERT_EQ(all->size(), 1000);
    EXPECT_EQ(all->first().name(), QStringLiteral("e0"));
    EXPECT_EQ(all->last().name(), QStringLiteral("e500")); // replaced rows move to the end of rowid order
    EXPECT_EQ(all->last().lifetimeCount(), 9);
}

TEST_F(DatabaseAggregatesTest, PublicCountsLeaveOutNamesStartingWithUnderscore)
{
    sqlite(QStringLiteral(
        "INSERT INTO events (name, lifetime_count, current_bundle_count, last_fire_timestamp) "
        "VALUES ('_f', 1, 0, 1), ('_ab', 1, 0, 1), ('a_b', 1, 0, 1), ('%x', 1, 0, 1), ('ab', 1, 0, 1);"
        "INSERT INTO user_attributes (name, set_timestamp, value, origin) "
        "VALUES ('_fot', 1, 1, 'auto'), ('x_', 1, 1, 'app'), ('_', 1, 1, 'app')"));
    APMError error;
    EXPECT_EQ(database_->publicEventCount(&error), 3);
    EXPECT_EQ(database_->publicUserAttributeCount(&error), 1);
}

TEST_F(DatabaseAggregatesTest, SessionCountsClearAndTablesEmpty)
{
    APMError error;
    ASSERT_TRUE(database_->updateEventAggregates(aggregates(QStringLiteral("a"), 1, 1, 4), &error));
    ASSERT_TRUE(database_->updateEventAggregates(aggregates(QStringLiteral("b"), 1, 1, 6), &error));
    ASSERT_TRUE(database_->clearCurrentSessionCounts(&error));
    EXPECT_EQ(sqlite(QStringLiteral("SELECT group_concat(current_session_count) FROM events")), "0,0");
    ASSERT_TRUE(database_->deleteAllEventAggregates(&error));
    EXPECT_EQ(sqlite(QStringLiteral("SELECT count(*) FROM events")), "0");
}

TEST_F(DatabaseAggregatesTest, SnapshotRestoresRowsAndEmptiesItself)
{
    APMError error;
    // Nothing to restore from: no table yet, then an empty one.
    EXPECT_FALSE(database_->eventAggregatesSnapshotWithName(QStringLiteral("a"), &error));
    EXPECT_EQ(error.code(), 0);
    ASSERT_TRUE(database_->updateEventAggregates(aggregates(QStringLiteral("a"), 1), &error));
    EXPECT_TRUE(database_->restoreFromEventsSnapshotTable(&error));
    ASSERT_TRUE(database_->deleteAllEventAggregates(&error));
    ASSERT_TRUE(database_->createEventsSnapshotTable(&error)); // a snapshot of nothing
    ASSERT_TRUE(database_->updateEventAggregates(aggregates(QStringLiteral("a"), 1), &error));
    EXPECT_TRUE(database_->restoreFromEventsSnapshotTable(&error));
    EXPECT_EQ(eventNames(), "a=1");

    // Taken twice, the snapshot holds the rows once.
    ASSERT_TRUE(database_->updateEventAggregates(aggregates(QStringLiteral("b"), 2), &error));
    ASSERT_TRUE(database_->createEventsSnapshotTable(&error));
    ASSERT_TRUE(database_->createEventsSnapshotTable(&error)) << error.description().toStdString();
    EXPECT_EQ(sqlite(QStringLiteral("SELECT count(*) FROM events_snapshot")), "2");
    EXPECT_EQ(database_->eventAggregatesSnapshotWithName(QStringLiteral("b"), &error)->lifetimeCount(), 2);

    ASSERT_TRUE(database_->updateEventAggregates(aggregates(QStringLiteral("a"), 5), &error));
    ASSERT_TRUE(database_->updateEventAggregates(aggregates(QStringLiteral("c"), 1), &error));
    ASSERT_TRUE(database_->restoreFromEventsSnapshotTable(&error)) << error.description().toStdString();
    EXPECT_EQ(eventNames(), "a=1,b=2");
    EXPECT_EQ(sqlite(QStringLiteral("SELECT count(*) FROM events_snapshot")), "0");
}

TEST_F(DatabaseAggregatesTest, RestoreKeepsAFirstOpenCountedAfterTheSnapshot)
{
    struct Case {
        const char* label;
        std::optional<qint32> snapshotFirstOpen; // nothing: no "_f" row in the snapshot
        std::optional<qint32> currentFirstOpen;
        std::optional<qint32> expected;
    };
    const Case cases[] = {
        { "snapshot count 0, current 1", 0, 1, 1 },
        { "no snapshot row, current 1", std::nullopt, 1, 1 },
        { "snapshot count 3 wins", 3, 4, 3 },
        { "snapshot count 0, no current row", 0, std::nullopt, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        APMError error;
        ASSERT_TRUE(database_->deleteAllEventAggregates(&error));
        ASSERT_TRUE(database_->updateEventAggregates(aggregates(QStringLiteral("other"), 1), &error));
        if (c.snapshotFirstOpen) {
            ASSERT_TRUE(database_->updateEventAggregates(
                aggregates(QStringLiteral("_f"), *c.snapshotFirstOpen), &error));
        }
        ASSERT_TRUE(database_->createEventsSnapshotTable(&error));
        ASSERT_TRUE(database_->deleteAllEventAggregates(&error));
        if (c.currentFirstOpen) {
            ASSERT_TRUE(database_->updateEventAggregates(
                aggregates(QStringLiteral("_f"), *c.currentFirstOpen), &error));
        }

        ASSERT_TRUE(database_->restoreFromEventsSnapshotTable(&error)) << error.description().toStdString();
        const auto firstOpen = database_->eventAggregatesWithName(QStringLiteral("_f"), &error);
        EXPECT_EQ(firstOpen ? std::optional<qint32>(firstOpen->lifetimeCount()) : std::nullopt, c.expected);
        EXPECT_TRUE(database_->eventAggregatesWithName(QStringLiteral("other"), &error));
    }
}

TEST_F(DatabaseAggregatesTest, UserAttributesKeepTheirValueKinds)
{
    APMError error;
    ASSERT_TRUE(database_->updateUserAttribute(
        attribute(QStringLiteral("s"), *APMValue::initWithString(QStringLiteral("blue"))), &error));
    ASSERT_TRUE(
        database_->updateUserAttribute(attribute(QStringLiteral("i"), APMValue::initWithInt64(0)), &error));
    ASSERT_TRUE(database_->updateUserAttribute(
        attribute(QStringLiteral("d"), APMValue::initWithDouble(2.5)), &error));
    EXPECT_EQ(
        sqlite(QStringLiteral("SELECT group_concat(name || ':' || typeof(value), ' ') FROM user_attributes")),
        "s:text i:integer d:real");

    const auto s = database_->userAttributeWithName(QStringLiteral("s"), &error);
    const auto i = database_->userAttributeWithName(QStringLiteral("i"), &error);
    const auto d = database_->userAttributeWithName(QStringLiteral("d"), &error);
    ASSERT_TRUE(s && i && d);
    EXPECT_EQ(s->value(), *APMValue::initWithString(QStringLiteral("blue")));
    EXPECT_EQ(i->value(), APMValue::initWithInt64(0));
    EXPECT_EQ(d->value(), APMValue::initWithDouble(2.5));
    EXPECT_EQ(d->origin(), QStringLiteral("app"));
    EXPECT_DOUBLE_EQ(d->lastSetTimestamp(), 100);

    EXPECT_EQ(database_->containsUserAttributeWithName(QStringLiteral("s"), &error), true);
    ASSERT_TRUE(database_->deleteUserAttributeWithName(QStringLiteral("s"), &error));
    EXPECT_EQ(database_->containsUserAttributeWithName(QStringLiteral("s"), &error), false);
    EXPECT_FALSE(database_->userAttributeWithName(QStringLiteral("s"), &error));
}

TEST_F(DatabaseAggregatesTest, UserAttributeRefusalsWriteNothing)
{
    // The record checks name and value; the origin is the database's to check.
    APMError error;
    EXPECT_FALSE(database_->updateUserAttribute(
        attribute(QStringLiteral("a"), APMValue::initWithInt64(1), 1, QString()), &error));
    EXPECT_EQ(error.code(), APMError::StorageFailure);
    EXPECT_EQ(error.localizedDescription().toStdString(),
        std::string("Received user property with empty origin for getting dictionary representation"));
    EXPECT_EQ(sqlite(QStringLiteral("SELECT count(*) FROM user_attributes")), "0");

    EXPECT_FALSE(database_->containsUserAttributeWithName(QString(), &error));
    EXPECT_EQ(error.code(), APMError::InvalidArgument);
    EXPECT_EQ(error.localizedDescription().toStdString(),
        std::string("Received empty user property name for exists query"));
    EXPECT_FALSE(database_->userAttributeCountForOrigin(QString(), &error));
    EXPECT_EQ(error.code(), APMError::InvalidArgument);
    EXPECT_EQ(error.localizedDescription().toStdString(),
        std::string("Received empty user property origin for count query"));
}

TEST_F(DatabaseAggregatesTest, UserAttributesWithoutInternalOnes)
{
    const QStringList internal { QStringLiteral("_fot"), QStringLiteral("first_open_time"),
        QStringLiteral("user_id"), QStringLiteral("va_x"), QStringLiteral("vireo_y"),
        QStringLiteral("basalt_z") };
    const QStringList publicNames { QStringLiteral("plan"), QStringLiteral("vax"),
        QStringLiteral("user_idx") };
    APMError error;
    for (const QString& name : internal + publicNames)
        ASSERT_TRUE(database_->updateUserAttribute(attribute(name, APMValue::initWithInt64(1)), &error))
            << name.toStdString();

    auto names = [&](bool includeInternal) {
        QStringList result;
        const auto attributes = database_->userAttributesIncludingInternal(includeInternal, &error);
        for (const auto& a : attributes.value_or(QList<APMUserAttribute>()))
            result << a.name();
        return result;
    };
    EXPECT_EQ(names(false).join(QLatin1Char(',')).toStdString(), "plan,vax,user_idx");
    EXPECT_EQ(names(true), internal + publicNames);

    ASSERT_TRUE(database_->updateUserAttribute(
        attribute(QStringLiteral("other"), APMValue::initWithInt64(1), 1, QStringLiteral("auto")), &error));
    EXPECT_EQ(database_->userAttributeCountForOrigin(QStringLiteral("app"), &error), 9);
    EXPECT_EQ(database_->userAttributeCountForOrigin(QStringLiteral("auto"), &error), 1);
}

TEST_F(DatabaseAggregatesTest, LifetimeValuePropertiesMatchTheirPrefixExactly)
{
    APMError error;
    const struct {
        const char* name;
        double setTime;
    } rows[] = {
        { "_ltv_USD", 100 },
        { "_ltv_EUR", 200 },
        { "xltvzGBP", 300 }, // the underscores of a LIKE pattern would match these two
        { "_LTV_JPY", 400 },
        { "ltv_USD", 500 },
    };
    for (const auto& row : rows)
        ASSERT_TRUE(database_->updateUserAttribute(
            attribute(QString::fromLatin1(row.name), APMValue::initWithDouble(9.5), row.setTime), &error));

    const auto lifetime = database_->allLifetimeValueUserAttributes(&error);
    ASSERT_TRUE(lifetime) << error.description().toStdString();
    QStringList names;
    for (const auto& a : *lifetime)
        names << a.name();
    EXPECT_EQ(names.join(QLatin1Char(',')).toStdString(), "_ltv_EUR,_ltv_USD");
}

TEST_F(DatabaseAggregatesTest, UserAttributeTableTakesAThousandNames)
{
    sqlite(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 999) "
                          "INSERT INTO user_attributes (name, set_timestamp, value, origin) "
                          "SELECT 'p' || i, 1, i, 'app' FROM n"));
    APMError error;
    EXPECT_TRUE(
        database_->updateUserAttribute(attribute(QStringLiteral("p7"), APMValue::initWithInt64(70)), &error));
    EXPECT_FALSE(database_->updateUserAttribute(
        attribute(QStringLiteral("p1000"), APMValue::initWithInt64(1)), &error));
    EXPECT_EQ(
        error.localizedDescription().toStdString(), std::string("Failed to insert data type. Table is full"));
    EXPECT_EQ(database_->userAttributesIncludingInternal(true, &error)->size(), 1000);
    EXPECT_EQ(
        database_->userAttributeWithName(QStringLiteral("p7"), &error)->value(), APMValue::initWithInt64(70));
}

// The properties are kept between reads; whatever changes a row, empties
// the table or undoes a change must show in the next read.
TEST_F(DatabaseAggregatesTest, KeptUserPropertiesFollowTheTable)
{
    struct Case {
        const char* name;
        std::function<void(APMDatabase&)> change;
        std::string expected; // "name=value" in rowid order
    };
    const QList<Case> cases = {
        { "a set property",
            [&](APMDatabase& db) {
                db.updateUserAttribute(attribute(QStringLiteral("b"), APMValue::initWithInt64(2)), nullptr);
            },
            "a=1,b=2" },
        { "a removed property",
            [](APMDatabase& db) { db.deleteUserAttributeWithName(QStringLiteral("a"), nullptr); }, "" },
        { "a set rolled back",
            [&](APMDatabase& db) {
                db.performTransaction([&] {
                    db.updateUserAttribute(attribute(QStringLiteral("b"), APMValue::initWithInt64(2)), nullptr);
                    return false;
                });
            },
            "a=1" },
        { "another connection's write", [&](APMDatabase&) { sqlite("DELETE FROM user_attributes"); }, "" },
        { "the table emptied on this connection",
            [](APMDatabase& db) {
                db.sqliteStore()->deleteAllRecordsFromTableWithName(APMDatabase::kUserAttributesTable, nullptr);
            },
            "" },
        { "a statement of this connection",
            [](APMDatabase& db) {
                db.sqliteStore()->executeSQL(QStringLiteral("UPDATE user_attributes SET value = 5"), nullptr);
            },
            "a=5" },
        { "a reset", [](APMDatabase& db) { db.reset(nullptr); }, "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        APMError error;
        ASSERT_TRUE(database_->reset(&error));
        ASSERT_TRUE(database_->updateUserAttribute(attribute(QStringLiteral("a"), APMValue::initWithInt64(1)), &error));
        ASSERT_EQ(database_->userAttributesIncludingInternal(true, &error)->size(), 1); // now kept
        c.change(*database_);
        QStringList rows;
        for (const auto& a : database_->userAttributesIncludingInternal(true, &error).value_or(QList<APMUserAttribute>()))
            rows << QStringLiteral("%1=%2").arg(a.name()).arg(a.value().int64Value());
        EXPECT_EQ(rows.join(QLatin1Char(',')).toStdString(), c.expected);
        // A single property read answers from the kept list: the same rows.
        for (const QString& name : { QStringLiteral("a"), QStringLiteral("b") }) {
            const auto one = database_->userAttributeWithName(name, &error);
            const std::string expectedOne = [&] {
                for (const QString& row : rows) {
                    if (row.startsWith(name + QLatin1Char('=')))
                        return row.toStdString();
                }
                return std::string();
            }();
            EXPECT_EQ(one ? QStringLiteral("%1=%2").arg(one->name()).arg(one->value().int64Value()).toStdString()
                          : std::string(),
                expectedOne)
                << name.toStdString();
        }
    }
}

// The names whose aggregates exist are kept between questions; whatever
// removes a row, empties the table or undoes an insert must show in the next
// answer, and a row that does not read stays an error.
TEST_F(DatabaseAggregatesTest, KeptAggregateNamesFollowTheTable)
{
    struct Case {
        const char* name;
        std::function<void(APMDatabase&)> change;
        bool aExists;
        bool bExists;
    };
    const QList<Case> cases = {
        { "a new name", [&](APMDatabase& db) { db.updateEventAggregates(aggregates(QStringLiteral("b"), 1), nullptr); },
            true, true },
        { "all removed", [](APMDatabase& db) { db.deleteAllEventAggregates(nullptr); }, false, false },
        { "a new name rolled back",
            [&](APMDatabase& db) {
                db.performTransaction([&] {
                    EXPECT_TRUE(db.updateEventAggregates(aggregates(QStringLiteral("b"), 1), nullptr));
                    EXPECT_TRUE(*db.hasEventAggregatesWithName(QStringLiteral("b"), nullptr));
                    return false;
                });
            },
            true, false },
        { "another connection's delete", [&](APMDatabase&) { sqlite("DELETE FROM events WHERE name = 'a'"); },
            false, false },
        { "a statement of this connection",
            [](APMDatabase& db) {
                db.sqliteStore()->executeSQL(QStringLiteral("DELETE FROM events WHERE name = 'a'"), nullptr);
            },
            false, false },
        { "a snapshot restored",
            [&](APMDatabase& db) {
                db.deleteAllEventAggregates(nullptr);
                db.updateEventAggregates(aggregates(QStringLiteral("b"), 1), nullptr);
                db.createEventsSnapshotTable(nullptr);
                db.deleteAllEventAggregates(nullptr);
                db.updateEventAggregates(aggregates(QStringLiteral("a"), 1), nullptr);
                EXPECT_TRUE(*db.hasEventAggregatesWithName(QStringLiteral("a"), nullptr));
                db.restoreFromEventsSnapshotTable(nullptr);
            },
            false, true },
        { "a reset", [](APMDatabase& db) { db.reset(nullptr); }, false, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        APMError error;
        ASSERT_TRUE(database_->reset(&error));
        ASSERT_TRUE(database_->updateEventAggregates(aggregates(QStringLiteral("a"), 1), &error));
        ASSERT_EQ(database_->hasEventAggregatesWithName(QStringLiteral("a"), &error), std::optional<bool>(true));
        c.change(*database_);
        EXPECT_EQ(database_->hasEventAggregatesWithName(QStringLiteral("a"), &error), std::optional<bool>(c.aExists));
        EXPECT_EQ(database_->hasEventAggregatesWithName(QStringLiteral("b"), &error), std::optional<bool>(c.bExists));
    }

    // A row whose counts do not read is an error, every time it is asked.
    APMError error;
    ASSERT_TRUE(database_->reset(&error));
    sqlite("INSERT INTO events (name, lifetime_count, current_bundle_count, last_fire_timestamp) "
           "VALUES ('bad', 'x', 0, 0)");
    for (int attempt = 0; attempt < 2; ++attempt) {
        APMError readError;
        EXPECT_FALSE(database_->hasEventAggregatesWithName(QStringLiteral("bad"), &readError)) << attempt;
        EXPECT_NE(readError.code(), 0) << attempt;
    }
}

} // namespace
