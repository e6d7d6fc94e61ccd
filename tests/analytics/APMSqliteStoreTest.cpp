#include "analytics/store/APMSqliteStore.h"

#include "ValidatorLogRecorder.h"
#include "analytics/base/APMError.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <sqlite3.h>
#include <stdexcept>

namespace {

// Runs SQL through the sqlite3 command-line tool: an oracle independent of
// the store, and the clearest way to build fixtures of older schemas.
QString storeSqliteCLI(const QString& path, const QString& sql)
{
    QProcess process;
    process.start(QStringLiteral("sqlite3"), { path, sql });
    process.waitForFinished(30000);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

class SqliteStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ValidatorLogRecorder::useTestHome();
        path_ = dir_.filePath(QStringLiteral("sub/store.sql"));
        store_ = APMSqliteStore::initWithDatabasePath(path_, &error_);
        ASSERT_TRUE(store_) << error_.description().toStdString();
        ASSERT_TRUE(store_->executeSQL(
            QStringLiteral("CREATE TABLE t (id INTEGER PRIMARY KEY, name TEXT, value, data BLOB)"), nullptr));
    }

    void insertRows(int count)
    {
        for (int i = 1; i <= count; ++i) {
            ASSERT_TRUE(store_->upsertRecord(
                { { "id", i }, { "name", QStringLiteral("n%1").arg(i) }, { "value", i * 10 } }, "t",
                nullptr));
        }
    }

    QTemporaryDir dir_;
    QString path_;
    APMError error_;
    std::unique_ptr<APMSqliteStore> store_;
};

TEST_F(SqliteStoreTest, OpenCreatesTheFolderAndRefusesAnEmptyPath)
{
    EXPECT_TRUE(QFile::exists(path_));
    APMError error;
    EXPECT_FALSE(APMSqliteStore::initWithDatabasePath(QString(), &error));
    EXPECT_EQ(error.code(), APMError::InvalidArgument);
    EXPECT_EQ(error.localizedDescription(), "Received empty database path on init");
}

TEST_F(SqliteStoreTest, ValuesBindAndReadBackByKind)
{
    struct Case {
        const char* name;
        QVariant value;
        const char* storedType;
        QVariant readBack;
    };
    const QByteArray blob("\x00\x01\xff", 3);
    const QList<Case> cases = {
        { "integer", 1, "integer", QVariant::fromValue<qint64>(1) },
        { "bool", true, "integer", QVariant::fromValue<qint64>(1) },
        { "unsigned at int64 max", QVariant::fromValue<quint64>(std::numeric_limits<qint64>::max()),
            "integer", QVariant::fromValue<qint64>(std::numeric_limits<qint64>::max()) },
        { "real one", 1.0, "real", 1.0 },
        { "float", QVariant::fromValue(2.5f), "real", 2.5 },
        { "text", QStringLiteral("grüß"), "text", QStringLiteral("grüß") },
        { "text starting with U+FEFF", QChar(0xFEFF) + QStringLiteral("x"), "text",
            QChar(0xFEFF) + QStringLiteral("x") },
        { "blob", blob, "blob", blob },
        { "null", APMSqlNull(), "null", APMSqlNull() },
    };
    int id = 0;
    for (const Case& c : cases) {
        ++id;
        ASSERT_TRUE(store_->upsertRecord({ { "id", id }, { "value", c.value } }, "t", &error_)) << c.name;
        EXPECT_EQ(
            storeSqliteCLI(path_, QStringLiteral("SELECT typeof(value) FROM t WHERE id=%1").arg(id)), c.storedType)
            << c.name;
        const auto rows = store_->recordsForQuery("SELECT value FROM t WHERE id=?", { id }, &error_);
        ASSERT_TRUE(rows && rows->size() == 1) << c.name;
        const QVariant read = rows->first().value("value");
        EXPECT_EQ(read.metaType(), c.readBack.metaType()) << c.name;
        if (!APMIsSqlNull(c.readBack)) {
            EXPECT_EQ(read, c.readBack) << c.name;
        }
    }
}

TEST_F(SqliteStoreTest, ValuesWithoutAFaithfulColumnValueAreRefused)
{
    ValidatorLogRecorder log;
    const QList<QPair<const char*, QVariant>> cases = {
        { "date", QDateTime::currentDateTime() },
        { "NaN", std::nan("") },
        { "unsigned past int64", QVariant::fromValue<quint64>(std::numeric_limits<quint64>::max()) },
        { "invalid", QVariant() },
    };
    for (const auto& [name, value] : cases) {
        log.clear();
        APMError error;
        EXPECT_FALSE(store_->upsertRecord({ { "id", 1 }, { "value", value } }, "t", &error)) << name;
        EXPECT_EQ(error.code(), APMError::InvalidArgument) << name;
        EXPECT_TRUE(log.has(APMMonitor::kLevelWarningMonitored, 34020)) << name;
        EXPECT_FALSE(store_->updateRecord({ { "value", value } }, "t", "id", 1, &error)) << name;
        EXPECT_EQ(
            error.localizedDescription(), "Failed to bind parameter of unexpected type to update statement");
        EXPECT_TRUE(log.has(APMMonitor::kLevelWarningMonitored, 34021)) << name;
        // A bound parameter of that kind fails the same way.
        EXPECT_FALSE(store_->recordsForQuery("SELECT * FROM t WHERE value=?", { value }, &error)) << name;
        EXPECT_EQ(error.code(), APMError::StorageFailure) << name;
    }
    EXPECT_EQ(storeSqliteCLI(path_, "SELECT count(*) FROM t"), "0");
}

TEST_F(SqliteStoreTest, AZeroLengthBlobReadsBackAsNoValue)
{
    ValidatorLogRecorder log;
    ASSERT_TRUE(store_->upsertRecord({ { "id", 1 }, { "data", QByteArray("") } }, "t", &error_));
    const auto rows = store_->recordsForQuery("SELECT id, data FROM t", {}, &error_);
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 1);
    EXPECT_FALSE(rows->first().contains("data"));
    EXPECT_EQ(rows->first().value("id"), QVariant::fromValue<qint64>(1));
    EXPECT_TRUE(log.has(APMMonitor::kLevelWarningMonitored, 34004));
}

TEST_F(SqliteStoreTest, StatementsWithPlaceholdersOrWithoutConditionAreCached)
{
    insertRows(3);
    const int before = store_->cachedStatementCount();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(store_->recordsForQuery("SELECT name FROM t WHERE id=?", { 2 }, &error_));
    EXPECT_EQ(store_->cachedStatementCount(), before + 1);
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(store_->rowCountForTableWithName("t", &error_));
    EXPECT_EQ(store_->cachedStatementCount(), before + 2);

    // Literal conditions are prepared for one use.
    EXPECT_EQ(store_->deleteRecordsFromTableWithName("t", "id IN (1,2)", {}, &error_), 2);
    EXPECT_EQ(store_->deleteRecordsFromTableWithName("t", "id IN (1,2)", {}, &error_), 0);
    ASSERT_TRUE(store_->recordsForQuery("SELECT name FROM t where id = 3", {}, &error_));
    EXPECT_EQ(store_->cachedStatementCount(), before + 2);

    // A cached statement comes back reset with its bindings cleared.
    const auto rows = store_->recordsForQuery("SELECT name FROM t WHERE id=?", { 3 }, &error_);
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 1);
    EXPECT_EQ(rows->first().value("name"), "n3");
}

TEST_F(SqliteStoreTest, MalformedQueriesFailBeforeReachingSQLite)
{
    struct Case {
        const char* query;
        QVariantList parameters;
        const char* message;
    };
    const QList<Case> cases = {
        { "SELECT * FROM t WHERE id=?", {}, "Received empty parameters" },
        { "SELECT 1; SELECT 2", {}, "Query contained more than one SQL statement." },
        { "PRAGMA table_info(t)", {}, "Received invalid select query" },
        { " SELECT 1", {}, "Received invalid select query" },
        { "", {}, "Received empty query for records for query" },
    };
    const int before = store_->cachedStatementCount();
    for (const Case& c : cases) {
        APMError error;
        EXPECT_FALSE(store_->recordsForQuery(c.query, c.parameters, &error)) << c.query;
        EXPECT_EQ(error.code(), APMError::InvalidArgument) << c.query;
        EXPECT_EQ(error.localizedDescription(), c.message) << c.query;
    }
    EXPECT_EQ(store_->cachedStatementCount(), before);
    APMError error;
    EXPECT_FALSE(store_->executeSQL("SELECT 1; SELECT 2", &error));
    EXPECT_EQ(error.localizedDescription(), "Query contained more than one SQL statement.");
    EXPECT_TRUE(store_->executeSQL("CREATE TABLE u (a);  \n", &error));
}

TEST_F(SqliteStoreTest, FiltersStopTheQueryAtTheFirstRefusedRow)
{
    insertRows(5);
    ValidatorLogRecorder log;
    const auto rejectThird = [](quint32 index, const APMRow&) { return index != 2; };
    auto rows = store_->recordsForQueryWithFilter("SELECT id FROM t ORDER BY id", {}, &error_, rejectThird);
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 2);
    EXPECT_EQ(rows->at(1).value("id"), QVariant::fromValue<qint64>(2));
    EXPECT_TRUE(log.lines().empty());

    rows = store_->recordsForQueryWithFilter(
        "SELECT id FROM t ORDER BY id", {}, &error_, [](quint32, const APMRow&) { return false; });
    ASSERT_TRUE(rows);
    EXPECT_TRUE(rows->isEmpty());
    EXPECT_TRUE(log.hasOnly(APMMonitor::kLevelWarningMonitored, 34005));

    log.clear();
    rows = store_->recordsForQuery("SELECT id FROM t WHERE id > ?", { 10 }, &error_);
    ASSERT_TRUE(rows);
    EXPECT_TRUE(rows->isEmpty());
    EXPECT_TRUE(log.lines().empty());

    APMError error;
    EXPECT_FALSE(store_->recordsForQueryWithFilter("SELECT id FROM t", {}, &error, nullptr));
    EXPECT_EQ(error.localizedDescription(), "Received empty filter for selecting records");
}

TEST_F(SqliteStoreTest, AStepThatFailsPartWayIsAFailureNotAShortResult)
{
    insertRows(5);
    // abs() of the smallest integer raises an overflow error at run time, on the third row.
    const QString query = "SELECT CASE WHEN id = 3 THEN abs(-9223372036854775807 - 1) ELSE id END AS v "
                          "FROM t WHERE id > ? ORDER BY id";
    APMError error;
    EXPECT_FALSE(store_->recordsForQuery(query, { 0 }, &error));
    EXPECT_EQ(error.code(), APMError::StorageFailure);
    EXPECT_TRUE(error.localizedDescription().startsWith(
        "Database operation \"query records\" failed with sqlite code"))
        << error.localizedDescription().toStdString();
    // The statement is usable again afterwards.
    const auto rows = store_->recordsForQuery(query, { 3 }, &error);
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->size(), 2);
}

TEST_F(SqliteStoreTest, NumericQueriesTellNullFromFailure)
{
    insertRows(2);
    bool failed = true;
    APMError error;
    EXPECT_EQ(store_->numberForQuery("SELECT max(value) FROM t", {}, &error, &failed),
        QVariant::fromValue<qint64>(20));
    EXPECT_FALSE(failed);
    EXPECT_EQ(store_->numberForQuery("SELECT avg(value) FROM t", {}, &error, &failed), QVariant(15.0));

    EXPECT_FALSE(
        store_->numberForQuery("SELECT max(value) FROM t WHERE id > ?", { 5 }, &error, &failed).isValid());
    EXPECT_FALSE(failed);
    EXPECT_EQ(error.code(), 0);

    EXPECT_FALSE(store_->numberForQuery("SELECT name FROM t WHERE id = ?", { 1 }, &error, &failed).isValid());
    EXPECT_TRUE(failed);
    EXPECT_EQ(error.localizedDescription(), "Found result that was not numeric");

    EXPECT_FALSE(
        store_->numberForQuery("SELECT value FROM t WHERE id = ?", { 9 }, &error, &failed).isValid());
    EXPECT_TRUE(failed);
    EXPECT_EQ(error.code(), APMError::StorageFailure);
    EXPECT_TRUE(error.localizedDescription().contains("\"query numeric result\""));
    EXPECT_TRUE(error.monitorContext().startsWith("query numeric result,"))
        << error.monitorContext().toStdString();
    EXPECT_TRUE(error.monitorContext().endsWith(",A"));

    EXPECT_EQ(store_->rowCountForTableWithNameColumn("t", "name", "n2", &error), 1);
    EXPECT_EQ(store_->rowCountForTableWithName("t", &error), 2);
}

TEST_F(SqliteStoreTest, UpdatesDeletesAndIncreases)
{
    insertRows(3);
    ASSERT_TRUE(store_->updateRecord({ { "name", "x" }, { "value", 7 } }, "t", "id", 2, &error_));
    EXPECT_EQ(storeSqliteCLI(path_, "SELECT name, value FROM t WHERE id=2"), "x|7");
    ASSERT_TRUE(store_->updateAllRecordsInTableWithName("t", "data", QByteArray("d"), &error_));
    EXPECT_EQ(storeSqliteCLI(path_, "SELECT count(*) FROM t WHERE data = x'64'"), "3");

    ASSERT_TRUE(store_->executeSQL("CREATE TABLE c (k TEXT, n INTEGER NOT NULL, r REAL)", &error_));
    ASSERT_TRUE(store_->upsertRecord({ { "k", "a" }, { "n", 1 }, { "r", 0.5 } }, "c", &error_));
    ASSERT_TRUE(store_->increaseColumn("n", 4, "c", "k = ?", { "a" }, &error_));
    EXPECT_EQ(storeSqliteCLI(path_, "SELECT n FROM c"), "5");
    ASSERT_TRUE(store_->increaseColumn("n", -2, "c", "k = 'a'", {}, &error_));
    EXPECT_EQ(storeSqliteCLI(path_, "SELECT n FROM c"), "3");
    // A sum past the 64-bit range stays an integer at the end of the range.
    ASSERT_TRUE(
        store_->increaseColumn("n", std::numeric_limits<qint64>::max(), "c", "k = ?", { "a" }, &error_));
    EXPECT_EQ(storeSqliteCLI(path_, "SELECT typeof(n), n FROM c"), "integer|9223372036854775807");
    ASSERT_TRUE(
        store_->increaseColumn("n", std::numeric_limits<qint64>::min(), "c", "k = ?", { "a" }, &error_));
    ASSERT_TRUE(
        store_->increaseColumn("n", std::numeric_limits<qint64>::min(), "c", "k = ?", { "a" }, &error_));
    EXPECT_EQ(storeSqliteCLI(path_, "SELECT typeof(n), n FROM c"), "integer|-9223372036854775808");

    APMError error;
    EXPECT_FALSE(store_->increaseColumn("r", 1, "c", "k = ?", { "a" }, &error));
    EXPECT_EQ(error.localizedDescription(), "Column type is not integer.");
    EXPECT_FALSE(store_->increaseColumn("zz", 1, "c", "k = ?", { "a" }, &error));
    EXPECT_EQ(error.localizedDescription(), "Invalid column or table name");

    ASSERT_TRUE(store_->deleteRecordFromTableWithName("t", "id", 1, &error_));
    EXPECT_EQ(store_->deleteRecordsFromTableWithName("t", "id > ?", { 0 }, &error_), 2);
    ASSERT_TRUE(store_->deleteAllRecordsFromTableWithName("c", &error_));
    EXPECT_EQ(storeSqliteCLI(path_, "SELECT (SELECT count(*) FROM t) + (SELECT count(*) FROM c)"), "0");
}

TEST_F(SqliteStoreTest, KeyedDeletesReuseOneStatement)
{
    insertRows(3);
    const int before = store_->cachedStatementCount();
    ASSERT_TRUE(store_->deleteRecordFromTableWithName("t", "id", 2, &error_));
    EXPECT_EQ(store_->cachedStatementCount(), before + 1);
    // The reused statement is bound afresh: no row of that key deletes nothing.
    ASSERT_TRUE(store_->deleteRecordFromTableWithName("t", "id", 9, &error_));
    EXPECT_EQ(storeSqliteCLI(path_, "SELECT group_concat(id) FROM t"), "1,3");
    ASSERT_TRUE(store_->deleteRecordFromTableWithName("t", "id", 3, &error_));
    EXPECT_EQ(store_->cachedStatementCount(), before + 1);
    EXPECT_EQ(storeSqliteCLI(path_, "SELECT group_concat(id) FROM t"), "1");

    APMError error;
    EXPECT_FALSE(store_->deleteRecordFromTableWithName("t", "zz", 1, &error));
    EXPECT_EQ(error.code(), APMError::StorageFailure);
    EXPECT_EQ(store_->cachedStatementCount(), before + 1);
}

TEST_F(SqliteStoreTest, TransactionsRollBackWhenTheBlockFailsOrThrows)
{
    const auto countRows = [this] { return store_->rowCountForTableWithName("t", nullptr).value_or(-1); };
    APMError error;
    EXPECT_FALSE(store_->performTransactionWithError(&error, [this] {
        store_->upsertRecord({ { "id", 1 } }, "t", nullptr);
        return false;
    }));
    EXPECT_EQ(error.code(), APMError::StorageFailure);
    EXPECT_EQ(error.localizedDescription(), "Transaction failed");
    EXPECT_EQ(countRows(), 0);

    EXPECT_THROW(store_->performTransactionWithError(&error,
                     [this]() -> bool {
                         store_->upsertRecord({ { "id", 1 } }, "t", nullptr);
                         throw std::runtime_error("block failed");
                     }),
        std::runtime_error);
    EXPECT_EQ(countRows(), 0);

    // Transactions do not nest.
    APMError inner;
    EXPECT_FALSE(store_->performTransactionWithError(
        &error, [&] { return store_->performTransactionWithError(&inner, [] { return true; }); }));
    EXPECT_EQ(inner.localizedDescription(), "Failed to begin transaction");

    EXPECT_TRUE(store_->performTransactionWithError(&error, [this] {
        return store_->upsertRecord({ { "id", 1 } }, "t", nullptr)
            && store_->upsertRecord({ { "id", 2 } }, "t", nullptr);
    }));
    EXPECT_EQ(countRows(), 2);
    EXPECT_FALSE(store_->performTransactionWithError(&error, nullptr));
    EXPECT_EQ(error.localizedDescription(), "Received nil transaction block");
}

TEST_F(SqliteStoreTest, AFailedCommitDoesNotLeaveTheTransactionOpen)
{
    ASSERT_TRUE(store_->executeSQL("CREATE TABLE p (id INTEGER PRIMARY KEY)", &error_));
    ASSERT_TRUE(store_->executeSQL(
        "CREATE TABLE ch (pid INTEGER REFERENCES p(id) DEFERRABLE INITIALLY DEFERRED)", &error_));
    ASSERT_TRUE(store_->executeSQL("PRAGMA foreign_keys = ON", &error_));
    APMError error;
    // The deferred foreign key is checked at commit, which fails.
    EXPECT_FALSE(store_->performTransactionWithError(&error, [this] {
        return store_->upsertRecord({ { "pid", 42 } }, "ch", nullptr);
    }));
    EXPECT_EQ(error.localizedDescription(), "Failed to end transaction");
    EXPECT_EQ(sqlite3_get_autocommit(store_->sqliteHandle()), 1);
    EXPECT_TRUE(store_->performTransactionWithError(&error, [] { return true; }));
    EXPECT_EQ(storeSqliteCLI(path_, "SELECT count(*) FROM ch"), "0");
}

TEST_F(SqliteStoreTest, AClosedStoreFailsEveryOperationWithItsOwnError)
{
    insertRows(1);
    QFile journal(path_ + "-journal");
    ASSERT_TRUE(journal.open(QIODevice::WriteOnly));
    journal.close();
    ASSERT_TRUE(store_->closeAndDeleteDatabase());
    EXPECT_FALSE(QFile::exists(path_));
    EXPECT_FALSE(QFile::exists(path_ + "-journal"));
    EXPECT_EQ(store_->cachedStatementCount(), 0);
    EXPECT_EQ(store_->sqliteHandle(), nullptr);

    APMSqliteStore& s = *store_;
    const QList<QPair<QString, std::function<bool(APMError*)>>> cases = {
        { "Upsert record failed. Database not open.",
            [&](APMError* e) {
                return s.upsertRecord({ { "id", 1 } }, "t", e);
            } },
        { "Update record failed. Database not open.",
            [&](APMError* e) {
                return s.updateRecord({ { "id", 1 } }, "t", "id", 1, e);
            } },
        { "Update record failed. Database not open.",
            [&](APMError* e) { return s.updateAllRecordsInTableWithName("t", "id", 1, e); } },
        { "Increase column failed. Database not open.",
            [&](APMError* e) { return s.increaseColumn("id", 1, "t", "id=1", {}, e); } },
        { "Delete record failed. Database not open.",
            [&](APMError* e) { return s.deleteRecordFromTableWithName("t", "id", 1, e); } },
        { "Delete records with condition failed. Database not open.",
            [&](APMError* e) { return s.deleteRecordsFromTableWithName("t", "id=1", {}, e).has_value(); } },
        { "Delete all records failed. Database not open.",
            [&](APMError* e) { return s.deleteAllRecordsFromTableWithName("t", e); } },
        { "Row count failed. Database not open.",
            [&](APMError* e) { return s.rowCountForTableWithName("t", e).has_value(); } },
        { "Query numeric result failed. Database not open.",
            [&](APMError* e) { return s.numberForQuery("SELECT 1", {}, e).isValid(); } },
        { "Query records failed. Database not open.",
            [&](APMError* e) { return s.recordsForQuery("SELECT 1", {}, e).has_value(); } },
        { "Table exists failed. Database not open.",
            [&](APMError* e) { return s.tableExists("t", e).has_value(); } },
        { "Get table columns failed. Database not open.",
            [&](APMError* e) { return !s.columnsForTableWithName("t", e).isEmpty(); } },
        { "Execute SQL failed. Database not open.",
            [&](APMError* e) { return s.executeSQL("SELECT 1", e); } },
        { "Database not open",
            [&](APMError* e) { return s.performTransactionWithError(e, [] { return true; }); } },
        { "Ensure table failed. Database not open.",
            [&](APMError* e) {
                return s.ensureTableWithName("t", { { "id", "INTEGER" } }, {}, e);
            } },
    };
    for (const auto& [message, operation] : cases) {
        APMError error;
        EXPECT_FALSE(operation(&error)) << message.toStdString();
        EXPECT_EQ(error.code(), APMError::InvalidState) << message.toStdString();
        EXPECT_EQ(error.localizedDescription(), message);
    }
}

// --- Opening damaged and busy files ---

class SqliteStoreOpenTest : public ::testing::Test {
protected:
    void SetUp() override { ValidatorLogRecorder::useTestHome(); }

    QString makeDatabase(int rows)
    {
        const QString path = dir_.filePath("db.sql");
        QString sql = "CREATE TABLE t (id INTEGER PRIMARY KEY, pad TEXT);";
        sql += QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < %1) "
                              "INSERT INTO t SELECT i, printf('%.200c', 'x') FROM n;")
                   .arg(rows);
        storeSqliteCLI(path, sql);
        return path;
    }

    QTemporaryDir dir_;
};

TEST_F(SqliteStoreOpenTest, DamagedFilesAreReplacedWithAnEmptyDatabase)
{
    struct Case {
        const char* name;
        std::function<void(const QString& path)> damage;
    };
    const QList<Case> cases = {
        { "not a database",
            [](const QString& path) {
                QFile file(path);
                ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
                file.write(QByteArray(4096, 'z'));
            } },
        { "damaged pages",
            [](const QString& path) {
                // Overwrite the middle of the file: table pages, leaving the header.
                QFile file(path);
                ASSERT_TRUE(file.open(QIODevice::ReadWrite));
                ASSERT_GT(file.size(), 8 * 4096);
                file.seek(2 * 4096);
                file.write(QByteArray(4 * 4096, '\x5a'));
            } },
    };
    for (const Case& c : cases) {
        const QString path = makeDatabase(200);
        c.damage(path);
        for (const char* suffix : { "-wal", "-shm" }) {
            QFile sidecar(path + suffix);
            ASSERT_TRUE(sidecar.open(QIODevice::WriteOnly));
            sidecar.write("junk");
        }
        APMError error;
        auto store = APMSqliteStore::initWithDatabasePath(path, &error);
        ASSERT_TRUE(store) << c.name << ": " << error.description().toStdString();
        EXPECT_EQ(store->tableExists("t", &error), false) << c.name;
        EXPECT_FALSE(QFile::exists(path + "-wal")) << c.name;
        store.reset();
        QFile::remove(path);
    }
}

TEST_F(SqliteStoreOpenTest, ABusyDatabaseIsNotDeleted)
{
    const QString path = makeDatabase(3);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE TRANSACTION", nullptr, nullptr, nullptr), SQLITE_OK);

    APMError error;
    EXPECT_FALSE(APMSqliteStore::initWithDatabasePath(path, &error));
    EXPECT_EQ(error.code(), APMError::StorageFailure);
    EXPECT_TRUE(error.localizedDescription().contains("sqlite code 5")) << error.description().toStdString();

    ASSERT_EQ(sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    EXPECT_EQ(storeSqliteCLI(path, "SELECT count(*) FROM t"), "3");
    auto store = APMSqliteStore::initWithDatabasePath(path, &error);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->rowCountForTableWithName("t", &error), 3);
}

// --- Tables ---

class SqliteStoreTableTest : public SqliteStoreTest {
protected:
    const APMColumnInfo elementary_ = { { "k", "TEXT NOT NULL PRIMARY KEY" }, { "n", "INTEGER NOT NULL" } };
    const APMColumnInfo addOn_ = { { "extra", "REAL" } };
};

TEST_F(SqliteStoreTableTest, EnsureCreatesAndValidates)
{
    struct Case {
        const char* name;
        const char* existing; // the table as an older or foreign version left it
        bool ok;
        const char* message;
        const char* columnsAfter;
    };
    const QList<Case> cases = {
        { "new", nullptr, true, "", "k,n,extra" },
        { "add-on added", "CREATE TABLE e (k TEXT NOT NULL PRIMARY KEY, n INTEGER NOT NULL)", true, "",
            "k,n,extra" },
        { "extra nullable kept",
            "CREATE TABLE e (k TEXT NOT NULL PRIMARY KEY, n INTEGER NOT NULL, later BLOB)", true, "",
            "k,n,later,extra" },
        { "extra not null",
            "CREATE TABLE e (k TEXT NOT NULL PRIMARY KEY, n INTEGER NOT NULL, later BLOB NOT NULL)", false,
            "Table contains unknown non-optional columns", "k,n,later,extra" },
        { "elementary missing", "CREATE TABLE e (k TEXT NOT NULL PRIMARY KEY)", false,
            "Table is missing required columns", "k" },
    };
    for (const Case& c : cases) {
        store_->executeSQL("DROP TABLE IF EXISTS e", nullptr);
        if (c.existing) {
            ASSERT_TRUE(store_->executeSQL(c.existing, &error_));
        }
        APMError error;
        EXPECT_EQ(store_->ensureTableWithNameModify("e", elementary_, addOn_, {}, &error), c.ok) << c.name;
        if (!c.ok) {
            EXPECT_EQ(error.code(), APMError::InvalidState) << c.name;
            EXPECT_EQ(error.localizedDescription(), c.message) << c.name;
        }
        EXPECT_EQ(store_->columnsForTableWithName("e", &error).join(','), c.columnsAfter) << c.name;
    }
    EXPECT_EQ(store_->columnInfoForTableWithName("e", &error_).value("k"), "TEXT");
}

TEST_F(SqliteStoreTableTest, ATableConstraintBecomesPartOfTheCreateText)
{
    const APMColumnInfo columns
        = { { "a", "INTEGER NOT NULL" }, { "b", "INTEGER NOT NULL" }, { "PRIMARY KEY", "(a, b)" } };
    ASSERT_TRUE(store_->ensureTableWithName("pk", columns, {}, &error_))
        << error_.description().toStdString();
    EXPECT_EQ(storeSqliteCLI(path_, "SELECT sql FROM sqlite_master WHERE name='pk'"),
        "CREATE TABLE pk ( a INTEGER NOT NULL, b INTEGER NOT NULL, PRIMARY KEY (a, b))");
}

TEST_F(SqliteStoreTableTest, AChangedDeclarationRebuildsTheTableKeepingItsRows)
{
    storeSqliteCLI(path_,
        "CREATE TABLE e (k TEXT NOT NULL PRIMARY KEY, n INTEGER NOT NULL, extra REAL);"
        "INSERT INTO e VALUES ('a', 1, 0.5), ('b', 2, NULL);");
    const APMModifyColumnInfo modify = { { "n", "REAL NOT NULL" } };
    ASSERT_TRUE(store_->ensureTableWithNameModify("e", elementary_, addOn_, modify, &error_))
        << error_.description().toStdString();
    EXPECT_EQ(store_->columnInfoForTableWithName("e", &error_).value("n"), "REAL");
    EXPECT_EQ(
        storeSqliteCLI(path_, "SELECT k, typeof(n), n, extra FROM e ORDER BY k"), "a|real|1.0|0.5\nb|real|2.0|");
    EXPECT_EQ(store_->tableExists("e_old", &error_), false);
    const QString sqlAfter = storeSqliteCLI(path_, "SELECT sql FROM sqlite_master WHERE name='e'");
    // A second pass finds the schema as wanted and leaves it alone.
    ASSERT_TRUE(store_->ensureTableWithNameModify("e", elementary_, addOn_, modify, &error_));
    EXPECT_EQ(storeSqliteCLI(path_, "SELECT sql FROM sqlite_master WHERE name='e'"), sqlAfter);
}

TEST_F(SqliteStoreTableTest, ARebuildCopiesByColumnName)
{
    // The add-on column sits before an elementary one, and an unknown
    // nullable column is present: a positional copy would misplace or fail.
    storeSqliteCLI(path_,
        "CREATE TABLE e (extra REAL, k TEXT NOT NULL PRIMARY KEY, later TEXT, n INTEGER NOT NULL);"
        "INSERT INTO e VALUES (0.25, 'a', 'x', 3);");
    ASSERT_TRUE(
        store_->ensureTableWithNameModify("e", elementary_, addOn_, { { "n", "REAL NOT NULL" } }, &error_))
        << error_.description().toStdString();
    EXPECT_EQ(storeSqliteCLI(path_, "SELECT k, n, extra FROM e"), "a|3.0|0.25");
}

TEST_F(SqliteStoreTableTest, AFailedRebuildLeavesTheTableAsItWas)
{
    storeSqliteCLI(path_,
        "CREATE TABLE e (k TEXT NOT NULL PRIMARY KEY, n INTEGER NOT NULL, extra REAL);"
        "INSERT INTO e VALUES ('a', 1, NULL), ('b', 1, NULL);");
    APMError error;
    // The new declaration cannot hold the rows (n is no longer unique).
    EXPECT_FALSE(store_->ensureTableWithNameModify(
        "e", elementary_, addOn_, { { "n", "REAL NOT NULL UNIQUE" } }, &error));
    EXPECT_EQ(error.code(), APMError::StorageFailure);
    EXPECT_EQ(error.localizedDescription(), "Transaction failed");
    EXPECT_EQ(store_->columnInfoForTableWithName("e", &error_).value("n"), "INTEGER");
    EXPECT_EQ(storeSqliteCLI(path_, "SELECT count(*) FROM e"), "2");
    EXPECT_EQ(store_->tableExists("e_old", &error_), false);
}

TEST_F(SqliteStoreTableTest, TableOperations)
{
    insertRows(2);
    ASSERT_TRUE(store_->createEmptyTable("t2", "t", &error_));
    EXPECT_EQ(store_->rowCountForTableWithName("t2", &error_), 0);
    ASSERT_TRUE(store_->copyContentsFromTable("t", "t2", &error_));
    EXPECT_EQ(store_->rowCountForTableWithName("t2", &error_), 2);
    ASSERT_TRUE(store_->renameTable("t2", "t3", &error_));
    EXPECT_EQ(store_->tableExists("t3", &error_), true);
    ASSERT_TRUE(store_->dropTableWithName("t3", &error_));
    EXPECT_EQ(store_->tableExists("t3", &error_), false);
    EXPECT_TRUE(store_->columnsForTableWithName("missing", &error_).isEmpty());

    APMError error;
    EXPECT_FALSE(store_->renameTable("t", "t", &error));
    EXPECT_EQ(error.localizedDescription(), "Received duplicate name for rename table");
    EXPECT_FALSE(store_->copyContentsFromTable("t", "", &error));
    EXPECT_EQ(error.localizedDescription(), "Received empty destination name for copy table");
    EXPECT_FALSE(store_->createEmptyTable("t", "t", &error));
    EXPECT_EQ(error.localizedDescription(), "Received duplicate name for create empty copy");
}

} // namespace
