#include "core/SqliteDatabase.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <limits>

namespace {

class SqliteDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QString error;
        ASSERT_TRUE(db.open(dir.filePath(QStringLiteral("test.sqlite")), &error)) << error.toStdString();
        ASSERT_TRUE(db.execute(QStringLiteral("CREATE TABLE t(v)")));
    }

    // The value stored by "INSERT INTO t(v) VALUES(?)", read back with its kind.
    QVariant roundTrip(const QVariant& value, QString* storedType = nullptr)
    {
        EXPECT_TRUE(db.execute(QStringLiteral("DELETE FROM t")));
        EXPECT_TRUE(db.execute(QStringLiteral("INSERT INTO t(v) VALUES(?)"), { value }));
        SqliteStatement select = db.prepare(QStringLiteral("SELECT v, typeof(v) FROM t"));
        EXPECT_EQ(select.step(), SqliteStatement::Step::Row);
        if (storedType)
            *storedType = select.columnText(1);
        return select.columnValue(0);
    }

    QTemporaryDir dir;
    SqliteDatabase db;
};

TEST(SqliteDatabaseOpen, ReportsWhyAFileCannotBeOpened)
{
    QTemporaryDir dir;
    SqliteDatabase db;
    QString error;
    EXPECT_FALSE(db.open(dir.filePath(QStringLiteral("missing/folder/db.sqlite")), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(db.isOpen());
    EXPECT_FALSE(db.prepare(QStringLiteral("SELECT 1")).isValid());
    EXPECT_FALSE(db.execute(QStringLiteral("SELECT 1"), {}, &error));
    EXPECT_EQ(error, QStringLiteral("database not open"));

    EXPECT_FALSE(db.open(QString(), &error));
    EXPECT_FALSE(db.open(QStringLiteral("a") + QChar(0) + QStringLiteral("b"), &error));
}

TEST(SqliteDatabaseIdentifiers, AreQuotedOrRefused)
{
    struct Case {
        QString name;
        std::optional<QString> quoted;
    };
    const Case cases[] = {
        { QStringLiteral("word"), QStringLiteral("\"word\"") },
        { QStringLiteral("my table"), QStringLiteral("\"my table\"") },
        { QStringLiteral("we\"ird"), QStringLiteral("\"we\"\"ird\"") },
        { QStringLiteral("x\" OR 1=1 --"), QStringLiteral("\"x\"\" OR 1=1 --\"") },
        { QStringLiteral("命令"), QStringLiteral("\"命令\"") },
        { QString(), std::nullopt },
        { QStringLiteral(""), std::nullopt },
        { QString(QStringLiteral("a")) + QChar(0) + QStringLiteral("b"), std::nullopt },
    };
    for (const Case& c : cases)
        EXPECT_EQ(SqliteDatabase::quoteIdentifier(c.name), c.quoted) << c.name.toStdString();
}

TEST_F(SqliteDatabaseTest, ValuesKeepTheirKindAndContent)
{
    struct Case {
        QVariant value;
        QVariant expected;
        const char* storedType;
    };
    const QByteArray blobWithZeros("\x00\x01'\x00\"", 5);
    const QString textWithNul = QStringLiteral("a") + QChar(0) + QStringLiteral("b");
    const QString textWithFeff = QChar(0xFEFF) + QStringLiteral("starts with U+FEFF");
    const Case cases[] = {
        { QStringLiteral("O'Brien"), QStringLiteral("O'Brien"), "text" },
        { QStringLiteral("'); DROP TABLE t; --"), QStringLiteral("'); DROP TABLE t; --"), "text" },
        { QStringLiteral("打开 🎤 \"x\""), QStringLiteral("打开 🎤 \"x\""), "text" },
        { textWithNul, textWithNul, "text" },
        { textWithFeff, textWithFeff, "text" },
        { QStringLiteral(""), QStringLiteral(""), "text" },
        { QString(), QVariant(), "null" },
        { QVariant(), QVariant(), "null" },
        { QVariant::fromValue(nullptr), QVariant(), "null" },
        { true, qint64(1), "integer" },
        { 42, qint64(42), "integer" },
        { std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::min(), "integer" },
        { std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::max(), "integer" },
        { quint64(std::numeric_limits<qint64>::max()), std::numeric_limits<qint64>::max(), "integer" },
        { 0.1, 0.1, "real" },
        { blobWithZeros, blobWithZeros, "blob" },
        { QByteArray(""), QByteArray(""), "blob" },
    };
    for (const Case& c : cases) {
        QString type;
        const QVariant back = roundTrip(c.value, &type);
        EXPECT_EQ(type.toStdString(), c.storedType) << c.value.toString().toStdString();
        EXPECT_EQ(back, c.expected) << c.value.toString().toStdString();
        EXPECT_EQ(back.typeId(), c.expected.typeId()) << c.value.toString().toStdString();
    }
}

TEST_F(SqliteDatabaseTest, NullAndEmptyTextStayApart)
{
    ASSERT_TRUE(
        db.execute(QStringLiteral("INSERT INTO t(v) VALUES(?), (?)"), { QStringLiteral(""), QVariant() }));
    SqliteStatement select = db.prepare(QStringLiteral("SELECT v FROM t ORDER BY rowid"));
    ASSERT_EQ(select.step(), SqliteStatement::Step::Row);
    EXPECT_FALSE(select.columnIsNull(0));
    EXPECT_FALSE(select.columnText(0).isNull());
    EXPECT_TRUE(select.columnText(0).isEmpty());
    ASSERT_EQ(select.step(), SqliteStatement::Step::Row);
    EXPECT_TRUE(select.columnIsNull(0));
    EXPECT_TRUE(select.columnText(0).isNull());
    EXPECT_TRUE(select.columnBlob(0).isNull());
    EXPECT_EQ(select.step(), SqliteStatement::Step::Done);
}

TEST_F(SqliteDatabaseTest, UnbindableValuesAreRefused)
{
    SqliteStatement insert = db.prepare(QStringLiteral("INSERT INTO t(v) VALUES(?)"));
    ASSERT_TRUE(insert.isValid());
    EXPECT_FALSE(insert.bindValue(1, quint64(std::numeric_limits<qint64>::max()) + 1));
    EXPECT_FALSE(insert.errorMessage().isEmpty());
    EXPECT_FALSE(insert.bindValue(1, QVariantList { 1, 2 }));
    EXPECT_FALSE(insert.bindValue(1, QVariantMap { { QStringLiteral("a"), 1 } }));
    EXPECT_FALSE(db.execute(
        QStringLiteral("INSERT INTO t(v) VALUES(?)"), QVariantList { QVariant(QVariantList { 1 }) }));
}

TEST_F(SqliteDatabaseTest, IndexesOutOfRangeFailInsteadOfReachingSqlite)
{
    SqliteStatement insert = db.prepare(QStringLiteral("INSERT INTO t(v) VALUES(?)"));
    EXPECT_EQ(insert.parameterCount(), 1);
    for (int index : { -1, 0, 2 }) {
        EXPECT_FALSE(insert.bindText(index, QStringLiteral("x"))) << index;
        EXPECT_FALSE(insert.bindInt64(index, 1)) << index;
        EXPECT_FALSE(insert.bindDouble(index, 1.0)) << index;
        EXPECT_FALSE(insert.bindBlob(index, "x")) << index;
        EXPECT_FALSE(insert.bindNull(index)) << index;
    }
    EXPECT_TRUE(insert.bindText(1, QStringLiteral("x")));
    EXPECT_EQ(insert.step(), SqliteStatement::Step::Done);

    SqliteStatement select = db.prepare(QStringLiteral("SELECT v FROM t"));
    // Before the first step there is no row to read.
    EXPECT_TRUE(select.columnText(0).isNull());
    EXPECT_FALSE(select.columnValue(0).isValid());
    ASSERT_EQ(select.step(), SqliteStatement::Step::Row);
    EXPECT_EQ(select.columnText(0), QStringLiteral("x"));
    for (int column : { -1, 1, 1000 }) {
        EXPECT_TRUE(select.columnIsNull(column)) << column;
        EXPECT_TRUE(select.columnText(column).isNull()) << column;
        EXPECT_EQ(select.columnInt64(column), 0) << column;
        EXPECT_EQ(select.columnDouble(column), 0.0) << column;
        EXPECT_TRUE(select.columnBlob(column).isNull()) << column;
        EXPECT_TRUE(select.columnName(column).isNull()) << column;
    }
    EXPECT_EQ(select.columnName(0), QStringLiteral("v"));
    EXPECT_EQ(select.step(), SqliteStatement::Step::Done);
    EXPECT_TRUE(select.columnText(0).isNull());

    SqliteStatement invalid;
    EXPECT_FALSE(invalid.isValid());
    EXPECT_FALSE(invalid.bindText(1, QStringLiteral("x")));
    EXPECT_EQ(invalid.step(), SqliteStatement::Step::Error);
    EXPECT_EQ(invalid.columnCount(), 0);
}

TEST_F(SqliteDatabaseTest, PrepareTakesExactlyOneStatement)
{
    ASSERT_TRUE(db.execute(QStringLiteral("INSERT INTO t(v) VALUES(1)")));
    QString error;
    EXPECT_FALSE(db.prepare(QStringLiteral("SELECT 1; DROP TABLE t"), &error).isValid());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(db.execute(QStringLiteral("DELETE FROM t; DROP TABLE t")));
    EXPECT_FALSE(db.prepare(QStringLiteral("  -- only a comment")).isValid());
    EXPECT_FALSE(db.prepare(QStringLiteral("SELEC 1"), &error).isValid());
    EXPECT_TRUE(error.contains(QStringLiteral("syntax error"))) << error.toStdString();

    // Trailing semicolons, blanks and comments are fine.
    EXPECT_TRUE(db.prepare(QStringLiteral("SELECT 1;  ;\n -- done\n")).isValid());

    SqliteStatement count = db.prepare(QStringLiteral("SELECT count(*) FROM t"));
    ASSERT_EQ(count.step(), SqliteStatement::Step::Row);
    EXPECT_EQ(count.columnInt64(0), 1);
}

TEST_F(SqliteDatabaseTest, QuotedNamesOfMissingColumnsAreErrorsNotText)
{
    ASSERT_TRUE(db.execute(QStringLiteral("INSERT INTO t(v) VALUES('nosuch')")));
    // With SQLite's legacy fallback, "nosuch" would be the text 'nosuch' and
    // the condition would match every row.
    QString error;
    EXPECT_FALSE(db.execute(
        QStringLiteral("DELETE FROM t WHERE \"nosuch\" = ?"), { QStringLiteral("nosuch") }, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("nosuch"))) << error.toStdString();
    EXPECT_FALSE(db.execute(QStringLiteral("CREATE INDEX i ON t(\"nosuch\")")));
    SqliteStatement count = db.prepare(QStringLiteral("SELECT count(*) FROM t"));
    ASSERT_EQ(count.step(), SqliteStatement::Step::Row);
    EXPECT_EQ(count.columnInt64(0), 1);
}

TEST_F(SqliteDatabaseTest, ExecuteChecksTheNumberOfValues)
{
    QString error;
    EXPECT_FALSE(db.execute(QStringLiteral("INSERT INTO t(v) VALUES(?)"), {}, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(db.execute(QStringLiteral("INSERT INTO t(v) VALUES(?)"), { 1, 2 }));
    EXPECT_TRUE(db.execute(QStringLiteral("INSERT INTO t(v) VALUES(?), (?)"), { 1, 2 }));
    EXPECT_EQ(db.changes(), 2);
    EXPECT_EQ(db.lastInsertRowId(), 2);
}

TEST_F(SqliteDatabaseTest, StepReportsConstraintFailures)
{
    ASSERT_TRUE(db.execute(QStringLiteral("CREATE TABLE u(k UNIQUE)")));
    ASSERT_TRUE(db.execute(QStringLiteral("INSERT INTO u(k) VALUES(?)"), { 1 }));
    SqliteStatement again = db.prepare(QStringLiteral("INSERT INTO u(k) VALUES(?)"));
    ASSERT_TRUE(again.bindInt64(1, 1));
    EXPECT_EQ(again.step(), SqliteStatement::Step::Error);
    EXPECT_TRUE(again.errorMessage().contains(QStringLiteral("UNIQUE")))
        << again.errorMessage().toStdString();
    // After a reset the statement runs again with its bindings kept.
    EXPECT_TRUE(again.reset());
    ASSERT_TRUE(again.bindInt64(1, 2));
    EXPECT_EQ(again.step(), SqliteStatement::Step::Done);
}

TEST_F(SqliteDatabaseTest, TransactionsCommitOrRollBack)
{
    auto rows = [this] {
        SqliteStatement count = db.prepare(QStringLiteral("SELECT count(*) FROM t"));
        return count.step() == SqliteStatement::Step::Row ? count.columnInt64(0) : -1;
    };
    ASSERT_TRUE(db.beginTransaction());
    ASSERT_TRUE(db.execute(QStringLiteral("INSERT INTO t(v) VALUES(1)")));
    ASSERT_TRUE(db.rollback());
    EXPECT_EQ(rows(), 0);

    ASSERT_TRUE(db.beginTransaction());
    ASSERT_TRUE(db.execute(QStringLiteral("INSERT INTO t(v) VALUES(1)")));
    QString error;
    EXPECT_FALSE(db.beginTransaction(&error)) << "nested";
    EXPECT_FALSE(error.isEmpty());
    ASSERT_TRUE(db.commit());
    EXPECT_EQ(rows(), 1);
    EXPECT_FALSE(db.commit()) << "nothing to commit";

    // The commit reached the file: a second connection sees the row.
    SqliteDatabase other;
    ASSERT_TRUE(other.open(dir.filePath(QStringLiteral("test.sqlite"))));
    SqliteStatement count = other.prepare(QStringLiteral("SELECT count(*) FROM t"));
    ASSERT_EQ(count.step(), SqliteStatement::Step::Row);
    EXPECT_EQ(count.columnInt64(0), 1);
}

TEST_F(SqliteDatabaseTest, MovedObjectsKeepOneOwner)
{
    SqliteStatement first = db.prepare(QStringLiteral("SELECT 7"));
    SqliteStatement second = std::move(first);
    EXPECT_FALSE(first.isValid());
    ASSERT_EQ(second.step(), SqliteStatement::Step::Row);
    EXPECT_EQ(second.columnInt64(0), 7);

    SqliteDatabase moved = std::move(db);
    EXPECT_FALSE(db.isOpen());
    EXPECT_TRUE(moved.isOpen());
    // A statement may outlive the close of its connection; the connection
    // goes when the statement does.
    SqliteStatement late = moved.prepare(QStringLiteral("SELECT 8"));
    moved.close();
    EXPECT_FALSE(moved.isOpen());
    EXPECT_TRUE(late.isValid());
}

} // namespace
