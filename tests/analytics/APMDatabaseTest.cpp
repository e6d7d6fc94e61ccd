#include "analytics/store/APMDatabase.h"

#include "ValidatorLogRecorder.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMFileLocations.h"
#include "analytics/model/APMAppMetadata.h"
#include "analytics/wire/APMPBEventParam.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/base/APMValue.h"
#include "fakes/TempHome.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdexcept>

namespace {

// The sqlite3 command-line tool: builds fixtures of older schemas and reads
// what the database wrote, independently of the store.
QString databaseSqliteCLI(const QString& path, const QString& sql)
{
    QProcess process;
    process.start(QStringLiteral("sqlite3"), { path, sql });
    process.waitForFinished(30000);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

class DatabaseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ValidatorLogRecorder::useTestHome();
        path_ = dir_.filePath(QStringLiteral("measurement.sql"));
    }

    std::unique_ptr<APMDatabase> open(APMError* error = nullptr)
    {
        return APMDatabase::initWithDatabasePath(path_, nullptr, error);
    }

    QString tableSQL(const QString& table)
    {
        return databaseSqliteCLI(path_, QStringLiteral("SELECT sql FROM sqlite_master WHERE name='%1'").arg(table));
    }

    QTemporaryDir dir_;
    QString path_;
};

TEST_F(DatabaseTest, ANewDatabaseHasEveryTableAndTheMetadataRow)
{
    APMError error;
    auto database = open(&error);
    ASSERT_TRUE(database) << error.description().toStdString();
    EXPECT_EQ(databaseSqliteCLI(path_,
                  "SELECT group_concat(name, ' ') FROM (SELECT name FROM sqlite_master "
                  "WHERE type='table' ORDER BY name)"),
        "app_metadata audience_filter_values conditional_properties event_filters events main_event_params "
        "property_filters purchase_transactions queue raw_events raw_events_metadata subscriptions "
        "user_attributes");
    EXPECT_EQ(databaseSqliteCLI(path_,
                  "SELECT rowid, last_bundle_index, last_bundle_start_timestamp, last_bundle_end_timestamp, "
                  "quote(day), quote(daily_events_count) FROM app_metadata"),
        "1|0|0.0|0.0|NULL|NULL");
    EXPECT_EQ(
        database->sqliteStore()->columnInfoForTableWithName("raw_events", &error).value("timestamp"), "REAL");
    EXPECT_EQ(tableSQL("event_filters").toStdString(),
        "CREATE TABLE event_filters ( audience_id INTEGER NOT NULL, filter_id INTEGER NOT NULL, event_name "
        "TEXT "
        "NOT NULL, data BLOB NOT NULL, session_scoped INTEGER, PRIMARY KEY (audience_id, filter_id))");
    EXPECT_EQ(database->sqliteStore()->columnsForTableWithName("app_metadata", &error).size(), 12);
}

TEST_F(DatabaseTest, AnOlderSchemaIsBroughtUpToDateKeepingItsRows)
{
    databaseSqliteCLI(path_,
        "CREATE TABLE app_metadata (last_bundle_index INTEGER NOT NULL, last_bundle_end_timestamp REAL NOT "
        "NULL);"
        "INSERT INTO app_metadata VALUES (7, 123.5);"
        "CREATE TABLE raw_events (name TEXT NOT NULL, timestamp INTEGER NOT NULL, "
        "metadata_fingerprint INTEGER NOT NULL, data BLOB NOT NULL);"
        "INSERT INTO raw_events VALUES ('open', 1700000000, -5, x'0a01'), ('tap', 1700000001, 9, x'');"
        "CREATE TABLE queue (data BLOB NOT NULL, bundle_end_timestamp REAL NOT NULL, someday_column TEXT);"
        "INSERT INTO queue VALUES (x'01', 2.5, 'kept');");
    for (int start = 0; start < 2; ++start) {
        APMError error;
        auto database = open(&error);
        ASSERT_TRUE(database) << error.description().toStdString();
        const auto metadata = database->queryAppMetadata(&error);
        ASSERT_TRUE(metadata);
        EXPECT_EQ(metadata->lastBundleIndex(), 7);
        EXPECT_EQ(metadata->lastBundleStartTimestamp(), 0.0);
        EXPECT_EQ(metadata->lastBundleEndTimestamp(), 123.5);
        EXPECT_EQ(databaseSqliteCLI(path_,
                      "SELECT rowid, name, typeof(timestamp), timestamp, metadata_fingerprint, hex(data), "
                      "quote(is_realtime) FROM raw_events ORDER BY rowid"),
            "1|open|real|1700000000.0|-5|0A01|NULL\n2|tap|real|1700000001.0|9||NULL");
        EXPECT_EQ(databaseSqliteCLI(path_, "SELECT data_kept FROM (SELECT someday_column AS data_kept FROM queue)"),
            "kept");
        EXPECT_EQ(databaseSqliteCLI(path_, "SELECT count(*) FROM sqlite_master WHERE name LIKE '%old'"), "0");
        EXPECT_TRUE(
            database->sqliteStore()->columnsForTableWithName("queue", &error).contains("retry_count"));
    }
}

TEST_F(DatabaseTest, AnUnusableSchemaDeletesTheFileAndTheNextAttemptStartsEmpty)
{
    databaseSqliteCLI(path_,
        "CREATE TABLE raw_events (name TEXT NOT NULL, timestamp REAL NOT NULL, metadata_fingerprint INTEGER "
        "NOT "
        "NULL, data BLOB NOT NULL, unknown_required TEXT NOT NULL);"
        "CREATE TABLE marker (x);");
    ValidatorLogRecorder log;
    APMError error;
    EXPECT_FALSE(open(&error));
    EXPECT_EQ(error.code(), APMError::InvalidState);
    EXPECT_TRUE(log.has(APMMonitor::kLevelErrorMonitored, 12047));
    EXPECT_TRUE(log.has(APMMonitor::kLevelErrorMonitored, 12002));
    EXPECT_FALSE(QFile::exists(path_));

    auto database = open(&error);
    ASSERT_TRUE(database) << error.description().toStdString();
    EXPECT_EQ(database->sqliteStore()->tableExists("marker", &error), false);
}

TEST_F(DatabaseTest, ALockedDatabaseIsKeptAndTheOpenFails)
{
    // An exclusive lock stops the integrity check; a reserved lock lets it
    // pass but stops the schema update (the missing add-on columns).
    for (const char* lock : { "BEGIN EXCLUSIVE TRANSACTION", "BEGIN IMMEDIATE TRANSACTION" }) {
        QFile::remove(path_);
        databaseSqliteCLI(path_,
            "CREATE TABLE app_metadata (last_bundle_index INTEGER NOT NULL, last_bundle_end_timestamp REAL "
            "NOT "
            "NULL); INSERT INTO app_metadata VALUES (3, 1.0);");
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(path_).constData(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, lock, nullptr, nullptr, nullptr), SQLITE_OK);
        APMError error;
        EXPECT_FALSE(open(&error)) << lock;
        EXPECT_EQ(error.code(), APMError::StorageFailure) << lock;
        EXPECT_TRUE(error.localizedDescription().contains("sqlite code 5"))
            << error.description().toStdString();
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        EXPECT_EQ(databaseSqliteCLI(path_, "SELECT last_bundle_index FROM app_metadata"), "3") << lock;
        auto database = open(&error);
        ASSERT_TRUE(database) << lock;
        EXPECT_EQ(database->queryAppMetadata(&error)->lastBundleIndex(), 3) << lock;
    }
}

TEST_F(DatabaseTest, AFileThatIsNoDatabaseIsReplaced)
{
    QFile file(path_);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("this is plain text, not a database file at all");
    file.close();
    APMError error;
    auto database = open(&error);
    ASSERT_TRUE(database) << error.description().toStdString();
    EXPECT_TRUE(database->queryAppMetadata(&error));
}

TEST_F(DatabaseTest, UpsertWithATableLimitRefusesNewKeysOnceFull)
{
    auto database = open();
    ASSERT_TRUE(database);
    const QString table = APMDatabase::kPurchaseTransactionsTable;
    const auto upsert = [&](const QString& key, APMError* error) {
        return database->upsertDataType({ { "fingerprint", key } }, table, "fingerprint", key, 2, error);
    };
    APMError error;
    EXPECT_TRUE(upsert("a", &error));
    EXPECT_TRUE(upsert("b", &error));
    EXPECT_FALSE(upsert("c", &error));
    EXPECT_EQ(error.code(), APMError::InvalidState);
    EXPECT_EQ(error.localizedDescription(), "Failed to insert data type. Table is full");
    EXPECT_TRUE(upsert("a", &error)); // an existing key is replaced even in a full table
    EXPECT_EQ(databaseSqliteCLI(path_, "SELECT group_concat(fingerprint) FROM purchase_transactions"), "b,a");

    EXPECT_FALSE(database->upsertDataType({}, table, "fingerprint", "x", 2, &error));
    EXPECT_EQ(error.localizedDescription(), "Received empty data type to upsert");
    EXPECT_TRUE(database->insertDataType({ { "fingerprint", "z" } }, table, &error));
}

TEST_F(DatabaseTest, UpdateNeedsAnExistingKey)
{
    auto database = open();
    ASSERT_TRUE(database);
    APMError error;
    EXPECT_FALSE(database->updateDataType(
        { { "subscription_id", "s2" } }, APMDatabase::kSubscriptionsTable, "subscription_id", "s1", &error));
    EXPECT_EQ(error.localizedDescription(), "Failed to update record. Item doesn't exist");
    ASSERT_TRUE(
        database->insertDataType({ { "subscription_id", "s1" } }, APMDatabase::kSubscriptionsTable, &error));
    EXPECT_TRUE(database->updateDataType(
        { { "subscription_id", "s2" } }, APMDatabase::kSubscriptionsTable, "subscription_id", "s1", &error));
    EXPECT_EQ(databaseSqliteCLI(path_, "SELECT subscription_id FROM subscriptions"), "s2");
}

TEST_F(DatabaseTest, GenericReadersConvertRowsInRowidOrder)
{
    auto database = open();
    ASSERT_TRUE(database);
    for (const char* id : { "c", "a", "b" })
        ASSERT_TRUE(database->insertDataType(
            { { "subscription_id", id } }, APMDatabase::kSubscriptionsTable, nullptr));
    const APMDatabase::CreateDataTypeBlock<QString> create
        = [](const APMRow& row, APMError*) -> std::optional<QString> {
        const QString id = row.value("subscription_id").toString();
        if (id == "a")
            return std::nullopt; // refused rows are skipped
        return QString::number(row.value("rowid").toLongLong()) + id;
    };
    APMError error;
    EXPECT_EQ(database->allDataTypesFromTableWithName(APMDatabase::kSubscriptionsTable, 10, &error, create),
        QStringList({ "1c", "3b" }));
    EXPECT_EQ(database->allDataTypesFromTableWithName(APMDatabase::kSubscriptionsTable, 1, &error, create),
        QStringList({ "1c" }));
    EXPECT_EQ(database->dataTypesFromTableWithName(
                  APMDatabase::kSubscriptionsTable, "subscription_id", "b", &error, create),
        QStringList({ "3b" }));
    EXPECT_EQ(database->dataTypesFromTableWithName(
                  APMDatabase::kSubscriptionsTable, "subscription_id", "zz", &error, create),
        QStringList());
    EXPECT_FALSE(database->dataTypesFromTableWithName(
        APMDatabase::kSubscriptionsTable, "subscription_id", "a", &error, create));
    EXPECT_EQ(error.localizedDescription(), "Failed to initialize data types from dictionaries");
    EXPECT_FALSE(database->allDataTypesFromTableWithName(
        "no_such_table", 10, &error, APMDatabase::CreateDataTypeBlock<QString>(create)));
    EXPECT_EQ(error.code(), APMError::StorageFailure);
}

TEST_F(DatabaseTest, TransactionsRollBackWhenTheBlockFailsOrThrows)
{
    auto database = open();
    ASSERT_TRUE(database);
    const auto insert = [&] {
        return database->insertDataType(
            { { "fingerprint", "f" } }, APMDatabase::kPurchaseTransactionsTable, nullptr);
    };
    const auto count = [&] { return databaseSqliteCLI(path_, "SELECT count(*) FROM purchase_transactions"); };
    ValidatorLogRecorder log;
    EXPECT_FALSE(database->performTransaction([&] { return insert() && false; }));
    EXPECT_EQ(count(), "0");
    EXPECT_TRUE(log.hasOnly(APMMonitor::kLevelErrorMonitored, 12056));
    EXPECT_TRUE(log.lines().front().message.contains("Transaction failed. Transaction failed"));
    EXPECT_THROW(database->performTransaction([&]() -> bool {
        insert();
        throw std::runtime_error("block failed");
    }),
        std::runtime_error);
    EXPECT_EQ(count(), "0");
    EXPECT_TRUE(database->performTransaction(insert));
    EXPECT_EQ(count(), "1");
}

TEST_F(DatabaseTest, ResetLeavesEmptyTablesAndAFreshMetadataRow)
{
    auto database = open();
    ASSERT_TRUE(database);
    ASSERT_TRUE(database->insertDataType(
        { { "fingerprint", "f" } }, APMDatabase::kPurchaseTransactionsTable, nullptr));
    auto metadata = database->queryAppMetadata(nullptr);
    ASSERT_TRUE(metadata);
    metadata->incrementLastBundleIndex();
    ASSERT_TRUE(database->updateAppMetadata(*metadata, nullptr));

    APMError error;
    ASSERT_TRUE(database->reset(&error)) << error.description().toStdString();
    EXPECT_EQ(databaseSqliteCLI(path_, "SELECT count(*) FROM purchase_transactions"), "0");
    EXPECT_EQ(database->queryAppMetadata(&error)->lastBundleIndex(), 0);
}

TEST_F(DatabaseTest, TheNamedDatabaseLivesInTheLibraryFolder)
{
    fakes::TempHome home;
    APMError error;
    EXPECT_FALSE(APMDatabase::initWithDatabaseName(QString(), nullptr, &error));
    EXPECT_EQ(error.localizedDescription(), "Received empty database name in init");
    auto database = APMDatabase::initWithDatabaseName(APMDatabase::kDatabaseName, nullptr, &error);
    ASSERT_TRUE(database) << error.description().toStdString();
    EXPECT_EQ(database->sqliteStore()->databasePath(), APMApplicationSupportPath("vireo-app-metrics.sql"));
    EXPECT_TRUE(database->sqliteStore()->databasePath().startsWith(home.path()));
    EXPECT_TRUE(QFile::exists(database->sqliteStore()->databasePath()));
}

// --- Value conversions ---

std::unique_ptr<APMPBEventParam> param(const QString& name)
{
    auto message = APMPBEventParam::initWithMessageInfo();
    if (!name.isNull())
        APMPBSetStringField(message.get(), 0, name);
    return message;
}

TEST(EventParamsFromBlob, DecodesScalarsAndItemLists)
{
    ValidatorLogRecorder::useTestHome();
    APMError error;
    auto both = param("p");
    APMPBSetStringField(both.get(), 1, "text");
    APMPBSetInt64Field(both.get(), 2, 5);
    EXPECT_EQ(eventParamsFromBlob(both.get(), false, &error), QVariantMap({ { "p", "text" } }));

    auto integer = param("i");
    APMPBSetInt64Field(integer.get(), 2, -7);
    EXPECT_EQ(eventParamsFromBlob(integer.get(), false, &error), QVariantMap({ { "i", qint64(-7) } }));

    auto real = param("d");
    APMPBSetDoubleField(real.get(), 4, 2.5);
    APMPBSetFloatField(real.get(), 3, 9.0f);
    EXPECT_EQ(eventParamsFromBlob(real.get(), false, &error), QVariantMap({ { "d", 2.5 } }));

    // A float value alone is never read: the parameter is an empty item list.
    auto onlyFloat = param("f");
    APMPBSetFloatField(onlyFloat.get(), 3, 1.5f);
    const auto emptyList = eventParamsFromBlob(onlyFloat.get(), false, &error);
    ASSERT_TRUE(emptyList);
    const APMValue emptyValue = emptyList->value("f").value<APMValue>();
    EXPECT_TRUE(emptyValue.isArray());
    EXPECT_TRUE(emptyValue.arrayValue().isEmpty());

    // Two items: {a: 1} and {b: "x"}; an unnamed entry inside an item is left out.
    auto a = param("a");
    APMPBSetInt64Field(a.get(), 2, 1);
    auto unnamed = param(QString());
    APMPBSetInt64Field(unnamed.get(), 2, 3);
    auto first = param(QString());
    std::vector<std::unique_ptr<APMPBEventParam>> firstEntries;
    firstEntries.push_back(std::move(a));
    firstEntries.push_back(std::move(unnamed));
    APMPBSetArrayField(first.get(), 5, firstEntries);
    auto b = param("b");
    APMPBSetStringField(b.get(), 1, "x");
    auto second = param(QString());
    std::vector<std::unique_ptr<APMPBEventParam>> secondEntries;
    secondEntries.push_back(std::move(b));
    APMPBSetArrayField(second.get(), 5, secondEntries);
    auto list = param("items");
    std::vector<std::unique_ptr<APMPBEventParam>> items;
    items.push_back(std::move(first));
    items.push_back(std::move(second));
    APMPBSetArrayField(list.get(), 5, items);
    // Through the wire encoding, as the parameters come out of a stored event.
    auto decoded = APMPBEventParam::initWithBuffer(*list->protoBuffer());
    ASSERT_TRUE(decoded);
    const auto result = eventParamsFromBlob(decoded.get(), false, &error);
    ASSERT_TRUE(result);
    ASSERT_EQ(result->keys(), QStringList({ "items" }));
    const APMValue value = result->value("items").value<APMValue>();
    ASSERT_TRUE(value.isArray());
    EXPECT_EQ(value.arrayValue(),
        QVariantList({ QVariantMap({ { "a", qint64(1) } }), QVariantMap({ { "b", "x" } }) }));
}

TEST(EventParamsFromBlob, RefusesMissingParametersAndNames)
{
    ValidatorLogRecorder::useTestHome();
    APMError error;
    EXPECT_FALSE(eventParamsFromBlob(nullptr, false, &error));
    EXPECT_EQ(error.localizedDescription(), "Failed to parse empty event params data");
    auto unnamed = param(QString());
    APMPBSetInt64Field(unnamed.get(), 2, 1);
    EXPECT_FALSE(eventParamsFromBlob(unnamed.get(), false, &error));
    EXPECT_EQ(error.code(), APMError::InvalidArgument);
    EXPECT_EQ(error.localizedDescription(), "Event parameter name is empty");
}

TEST(ColumnObjectFromValue, StoresStringsDoublesAndIntegers)
{
    EXPECT_EQ(APMColumnObjectFromValue(*APMValue::initWithString(QStringLiteral("s"))), QVariant("s"));
    EXPECT_EQ(
        APMColumnObjectFromValue(APMValue::initWithDouble(1.0)).metaType(), QMetaType::fromType<double>());
    EXPECT_EQ(APMColumnObjectFromValue(APMValue::initWithInt64(-3)), QVariant::fromValue<qint64>(-3));
    EXPECT_EQ(APMColumnObjectFromValue(*APMValue::initWithArray(QVariantList { 1, 2 })),
        QVariant::fromValue<qint64>(0));
}

} // namespace
