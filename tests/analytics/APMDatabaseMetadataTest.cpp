#include "ValidatorLogRecorder.h"
#include "analytics/base/APMError.h"
#include "analytics/model/APMAppMetadata.h"
#include "analytics/model/APMDailyCounts.h"
#include "analytics/store/APMDatabase.h"
#include "fakes/VirtualTime.h"
#include "platform/Clock.h"

#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <stdexcept>

namespace {

constexpr qint32 kInt32Max = std::numeric_limits<qint32>::max();

QString sqliteCLI(const QString& path, const QString& sql)
{
    QProcess process;
    process.start(QStringLiteral("sqlite3"), { path, sql });
    process.waitForFinished(30000);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// --- Models ---

TEST(AppMetadata, RefusesANegativeIndexAndWrapsAtTheEndOfTheRange)
{
    ValidatorLogRecorder::useTestHome();
    EXPECT_FALSE(APMAppMetadata::initWithLastBundleIndex(-1, 0, 0));
    auto metadata = APMAppMetadata::initWithLastBundleIndex(0, 1.5, 2.5);
    ASSERT_TRUE(metadata);
    metadata->incrementLastBundleIndex();
    EXPECT_EQ(metadata->lastBundleIndex(), 1);
    metadata = APMAppMetadata::initWithLastBundleIndex(kInt32Max, 0, 0);
    metadata->incrementLastBundleIndex();
    EXPECT_EQ(metadata->lastBundleIndex(), 0);
}

TEST(DailyCounts, IncrementsRollOverToANewDay)
{
    using Step = std::function<void(APMDailyCounts&)>;
    struct Case {
        const char* name;
        APMDailyCounts start;
        Step step;
        APMDailyCounts expected;
    };
    const APMDailyCounts busy(19000, 4, 10, 8, 2, 1, 1);
    const QList<Case> cases = {
        { "conversion of count 3 on a new day", busy,
            [](APMDailyCounts& c) {
                c.incrementCountsForCurrentDayByEffectiveEventCount(19001, true, true, 3);
            },
            APMDailyCounts(19001, 1, 3, 3, 0, 0, 0) },
        { "private event on the same day", busy,
            [](APMDailyCounts& c) { c.incrementCountsForCurrentDay(19000, false, false); },
            APMDailyCounts(19000, 4, 11, 8, 2, 1, 1) },
        { "error event counts among all events", busy,
            [](APMDailyCounts& c) { c.incrementErrorEventsCountForCurrentDay(19000); },
            APMDailyCounts(19000, 4, 11, 8, 3, 1, 1) },
        { "real-time on a new day", busy,
            [](APMDailyCounts& c) { c.incrementRealtimeCountsForCurrentDay(18999); },
            APMDailyCounts(18999, 0, 0, 0, 0, 1, 0) },
        { "DCU real-time", busy, [](APMDailyCounts& c) { c.incrementDCURealtimeCountsForCurrentDay(19000); },
            APMDailyCounts(19000, 4, 10, 8, 2, 1, 2) },
        { "decrement at 0", APMDailyCounts(1, 0, 0, 0, 0, 0, 0),
            [](APMDailyCounts& c) { c.decrementAllEventsCount(); }, APMDailyCounts(1, 0, 0, 0, 0, 0, 0) },
        { "decrement at 1", APMDailyCounts(1, 0, 1, 0, 0, 0, 0),
            [](APMDailyCounts& c) { c.decrementAllEventsCount(); }, APMDailyCounts(1, 0, 0, 0, 0, 0, 0) },
        { "decrement at 5 ignores the day", APMDailyCounts(1, 0, 5, 0, 0, 0, 0),
            [](APMDailyCounts& c) { c.decrementAllEventsCount(); }, APMDailyCounts(1, 0, 4, 0, 0, 0, 0) },
        { "counters stop at the end of the range",
            APMDailyCounts(1, kInt32Max, kInt32Max - 1, kInt32Max, kInt32Max, kInt32Max, kInt32Max),
            [](APMDailyCounts& c) {
                c.incrementCountsForCurrentDayByEffectiveEventCount(1, true, true, 5);
                c.incrementErrorEventsCountForCurrentDay(1);
                c.incrementRealtimeCountsForCurrentDay(1);
                c.incrementDCURealtimeCountsForCurrentDay(1);
            },
            APMDailyCounts(1, kInt32Max, kInt32Max, kInt32Max, kInt32Max, kInt32Max, kInt32Max) },
    };
    for (const Case& c : cases) {
        APMDailyCounts counts = c.start;
        c.step(counts);
        EXPECT_EQ(counts, c.expected) << c.name;
    }
}

TEST(DailyCounts, DayNumbersFollowTheMidnightOffset)
{
    const double day19000 = 86400.0 * 19000;
    EXPECT_EQ(APMDailyCounts::dayNumberForTime(day19000 + 1800, 3600), 18999);
    EXPECT_EQ(APMDailyCounts::dayNumberForTime(day19000 + 3600, 3600), 19000);
    EXPECT_EQ(APMDailyCounts::dayNumberForTime(day19000, 0), 19000);
    EXPECT_EQ(APMDailyCounts::dayNumberForTime(-1, 0), -1);
    EXPECT_EQ(APMDailyCounts::dayNumberForTime(std::nan(""), 0), 0);
    EXPECT_EQ(APMDailyCounts::dayNumberForTime(1e300, 0), kInt32Max);
    EXPECT_EQ(APMDailyCounts::dayNumberForTime(-1e300, 0), std::numeric_limits<qint32>::min());
}

// --- The row in the database ---

class DatabaseMetadataTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ValidatorLogRecorder::useTestHome();
        path_ = dir_.filePath(QStringLiteral("measurement.sql"));
        database_ = APMDatabase::initWithDatabasePath(path_, nullptr, &error_);
        ASSERT_TRUE(database_) << error_.description().toStdString();
    }

    QTemporaryDir dir_;
    QString path_;
    APMError error_;
    std::unique_ptr<APMDatabase> database_;
};

TEST_F(DatabaseMetadataTest, AFreshRowReadsAsTodayWithZeroCounts)
{
    const qint32 before = APMDailyCounts::dayNumberForTime(platform::Clock::system().now(), 0);
    const auto counts = database_->dailyCounts(&error_);
    const qint32 after = APMDailyCounts::dayNumberForTime(platform::Clock::system().now(), 0);
    ASSERT_TRUE(counts) << error_.description().toStdString();
    EXPECT_TRUE(counts->day() == before || counts->day() == after);
    EXPECT_EQ(*counts, APMDailyCounts(counts->day(), 0, 0, 0, 0, 0, 0));
}

TEST_F(DatabaseMetadataTest, CountsAndBundleColumnsRoundTrip)
{
    APMDailyCounts counts(19000, 1, 2, 3, 4, 5, 6);
    ASSERT_TRUE(database_->updateDailyCounts(counts, &error_)) << error_.description().toStdString();
    EXPECT_EQ(database_->dailyCounts(&error_), counts); // the stored day comes back as stored

    auto metadata = database_->queryAppMetadata(&error_);
    ASSERT_TRUE(metadata);
    metadata->incrementLastBundleIndex();
    metadata->setLastBundleStartTimestamp(100.25);
    metadata->setLastBundleEndTimestamp(200.5);
    ASSERT_TRUE(database_->updateAppMetadata(*metadata, &error_));
    EXPECT_EQ(
        sqliteCLI(path_,
            "SELECT rowid, last_bundle_index, last_bundle_start_timestamp, last_bundle_end_timestamp, day, "
            "daily_conversions_count, daily_real_time_dcu_events_count FROM app_metadata"),
        "1|1|100.25|200.5|19000|1|6");
    EXPECT_EQ(sqliteCLI(path_, "SELECT count(*) FROM app_metadata"), "1");
}

TEST_F(DatabaseMetadataTest, AnExistingRowSurvivesTheNextStart)
{
    auto metadata = database_->queryAppMetadata(&error_);
    ASSERT_TRUE(metadata);
    for (int i = 0; i < 5; ++i)
        metadata->incrementLastBundleIndex();
    ASSERT_TRUE(database_->updateAppMetadata(*metadata, &error_));
    database_.reset();
    database_ = APMDatabase::initWithDatabasePath(path_, nullptr, &error_);
    ASSERT_TRUE(database_);
    EXPECT_EQ(database_->queryAppMetadata(&error_)->lastBundleIndex(), 5);
}

TEST_F(DatabaseMetadataTest, AMissingRowIsAnError)
{
    ASSERT_TRUE(
        database_->sqliteStore()->deleteAllRecordsFromTableWithName(APMDatabase::kAppMetadataTable, &error_));
    APMError error;
    EXPECT_FALSE(database_->updateDailyCounts(APMDailyCounts(1, 0, 0, 0, 0, 0, 0), &error));
    EXPECT_EQ(error.localizedDescription(), "Failed to update record. Item doesn't exist");
    EXPECT_FALSE(database_->updateAppMetadata(*APMAppMetadata::initWithLastBundleIndex(1, 0, 0), &error));
    EXPECT_EQ(error.localizedDescription(), "Failed to update record. Item doesn't exist");
    EXPECT_FALSE(database_->dailyCounts(&error));
    EXPECT_EQ(error.code(), APMError::InvalidState);
    EXPECT_FALSE(database_->queryAppMetadata(&error));
    EXPECT_EQ(error.code(), APMError::InvalidState);
}

// The counts are kept between reads; whatever changes or undoes a change
// of the row, or starts a new day, must show in the next read.
TEST_F(DatabaseMetadataTest, KeptCountsFollowTheRowThroughRollbacksOtherWritersResetsAndNewDays)
{
    fakes::VirtualTime time;
    const qint32 today = APMDailyCounts::dayNumberForTime(time.now(), 0);
    const APMDailyCounts stored(today, 1, 2, 3, 4, 5, 6);
    const APMDailyCounts written(today, 7, 8, 9, 10, 11, 12);
    const APMDailyCounts fresh(today, 0, 0, 0, 0, 0, 0);
    struct Case {
        const char* name;
        std::function<void(APMDatabase&, const QString& path)> change;
        APMDailyCounts expected;
    };
    const QList<Case> cases = {
        { "a committed write",
            [&](APMDatabase& db, const QString&) {
                db.performTransaction([&] { return db.updateDailyCounts(written, nullptr); });
            },
            written },
        { "a write rolled back by its transaction",
            [&](APMDatabase& db, const QString&) {
                db.performTransaction([&] { return !db.updateDailyCounts(written, nullptr); });
            },
            stored },
        { "a write undone by an exception",
            [&](APMDatabase& db, const QString&) {
                EXPECT_THROW(db.performTransaction([&]() -> bool {
                    db.updateDailyCounts(written, nullptr);
                    throw std::runtime_error("block failed");
                }),
                    std::runtime_error);
            },
            stored },
        { "counts below zero read as zero",
            [&](APMDatabase& db, const QString&) {
                db.updateDailyCounts(APMDailyCounts(today, -1, 8, 9, 10, 11, 12), nullptr);
            },
            APMDailyCounts(today, 0, 8, 9, 10, 11, 12) },
        { "another connection's write",
            [&](APMDatabase&, const QString& path) {
                sqliteCLI(path, "UPDATE app_metadata SET daily_events_count = 42");
            },
            APMDailyCounts(today, 1, 42, 3, 4, 5, 6) },
        { "this connection's write past the counts",
            [&](APMDatabase& db, const QString&) {
                db.sqliteStore()->executeSQL(QStringLiteral("UPDATE app_metadata SET daily_events_count = 43"), nullptr);
            },
            APMDailyCounts(today, 1, 43, 3, 4, 5, 6) },
        { "a reset", [&](APMDatabase& db, const QString&) { db.reset(nullptr); }, fresh },
        { "a new day for a row that holds none",
            [&](APMDatabase& db, const QString&) {
                db.sqliteStore()->executeSQL(QStringLiteral("UPDATE app_metadata SET day = NULL"), nullptr);
                EXPECT_EQ(db.dailyCounts(nullptr), APMDailyCounts(today, 1, 2, 3, 4, 5, 6));
                time.advance(APMDailyCounts::kSecondsPerDay);
            },
            APMDailyCounts(today + 1, 1, 2, 3, 4, 5, 6) },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("counts.sql"));
        auto database = APMDatabase::initWithDatabasePath(path, nullptr, &error_);
        ASSERT_TRUE(database);
        database->setClock(&time);
        ASSERT_TRUE(database->updateDailyCounts(stored, &error_));
        ASSERT_EQ(database->dailyCounts(&error_), stored); // now kept
        c.change(*database, path);
        EXPECT_EQ(database->dailyCounts(&error_), c.expected);
    }
}

TEST_F(DatabaseMetadataTest, StoredValuesOutsideTheModelAreRefusedOrNeutral)
{
    sqliteCLI(path_,
        "UPDATE app_metadata SET day = 'x', daily_events_count = 9999999999, daily_conversions_count = -4, "
        "daily_public_events_count = 7.9");
    const auto counts = database_->dailyCounts(&error_);
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->allEventsCount(), 0);
    EXPECT_EQ(counts->conversionsCount(), 0);
    EXPECT_EQ(counts->publicEventsCount(), 7);

    APMError error;
    sqliteCLI(path_, "UPDATE app_metadata SET last_bundle_index = -1");
    EXPECT_FALSE(database_->queryAppMetadata(&error));
    EXPECT_EQ(error.localizedDescription(), "Failed to initialize data types from dictionaries");
    sqliteCLI(path_, "UPDATE app_metadata SET last_bundle_index = 4294967296");
    EXPECT_FALSE(database_->queryAppMetadata(&error));
}

} // namespace
