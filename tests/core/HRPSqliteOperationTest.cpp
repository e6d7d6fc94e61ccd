#include "core/HRPSqliteOperation.h"

#include "fakes/TempHome.h"
#include "platform/AppPaths.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include <atomic>
#include <gtest/gtest.h>
#include <limits>
#include <set>
#include <thread>
#include <vector>

namespace {

const QString kTable = QStringLiteral("Commands");
const QStringList kFields { QStringLiteral("type"), QStringLiteral("word"), QStringLiteral("todo"),
    QStringLiteral("iconType"), QStringLiteral("name") };

// A row model whose field table is given at construction; fields without a
// value are nil.
class TestRow : public SqliteRowModel {
public:
    TestRow()
        : TestRow(kFields)
    {
    }
    explicit TestRow(QStringList fields, QHash<QString, QString> values = {})
        : fields_(std::move(fields))
        , values_(std::move(values))
    {
    }

    QStringList fieldNames() const override { return fields_; }
    QVariant fieldValue(const QString& field) const override
    {
        return values_.contains(field) ? QVariant(values_.value(field)) : QVariant();
    }
    void setFieldValue(const QString& field, const QVariant& value) override
    {
        const QString text = textValue(value);
        if (!fields_.contains(field))
            return;
        if (text.isNull())
            values_.remove(field);
        else
            values_.insert(field, text);
    }

    // Null when the field is nil.
    QString value(const QString& field) const { return values_.value(field); }

private:
    QStringList fields_;
    QHash<QString, QString> values_;
};

TestRow row(const QString& word, const QString& type = QStringLiteral("t"))
{
    return TestRow(kFields,
        { { QStringLiteral("type"), type }, { QStringLiteral("word"), word },
            { QStringLiteral("todo"), QStringLiteral("https://example.org/") + word },
            { QStringLiteral("iconType"), QStringLiteral("1") },
            { QStringLiteral("name"), word + QStringLiteral("!") } });
}

// A row with a field that the table built from TestRow lacks.
TestRow widerRow(const QString& word)
{
    return TestRow(kFields + QStringList { QStringLiteral("extra") },
        { { QStringLiteral("word"), word }, { QStringLiteral("extra"), QStringLiteral("x") } });
}

struct Completion {
    int calls = 0;
    bool success = false;
    QString error;
    HRPSqliteOperation::Completion handler()
    {
        return [this](bool ok, const QString& message) {
            ++calls;
            success = ok;
            error = message;
        };
    }
};

class HRPSqliteOperationTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(operation.createTableWithtableName(kTable, TestRow())); }

    // The sqlite3 command-line tool's view of the file, as JSON rows.
    QJsonArray cli(const QString& sql) const
    {
        if (QStandardPaths::findExecutable(QStringLiteral("sqlite3")).isEmpty()) {
            ADD_FAILURE() << "the sqlite3 command-line tool is needed";
            return {};
        }
        QProcess process;
        process.start(
            QStringLiteral("sqlite3"), { QStringLiteral("-json"), QStringLiteral("-readonly"), path, sql });
        EXPECT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        return QJsonDocument::fromJson(process.readAllStandardOutput()).array();
    }

    QStringList words(const QString& table = kTable)
    {
        QStringList result;
        for (const TestRow& r : operation.selectAllDataBaseWithtableName<TestRow>(table))
            result.append(r.value(QStringLiteral("word")));
        return result;
    }

    void insert(const SqliteRowModel& model)
    {
        Completion done;
        operation.insertDataBaseWithtableName(kTable, model, done.handler());
        ASSERT_EQ(done.calls, 1);
        ASSERT_TRUE(done.success) << done.error.toStdString();
        EXPECT_TRUE(done.error.isNull());
    }

    fakes::TempHome home;
    const QString path = platform::AppPaths::documents() + QStringLiteral("/test.sqlite");
    HRPSqliteOperation operation { path };
};

TEST(HRPSqliteOperationPath, IsTheDatabaseFileInTheDocumentsFolder)
{
    fakes::TempHome home;
    EXPECT_EQ(HRPSqliteOperation::defaultDatabasePath(),
        QDir(home.path()).filePath(QStringLiteral("Documents/MMmouseDataBase.sqlite")));
}

TEST_F(HRPSqliteOperationTest, TableHasExactlyTheModelsColumnsAndIsCreatedOnce)
{
    const QJsonArray expected = QJsonDocument::fromJson(R"([
        {"name":"type","type":"","pk":0,"notnull":0},
        {"name":"word","type":"","pk":0,"notnull":0},
        {"name":"todo","type":"","pk":0,"notnull":0},
        {"name":"iconType","type":"","pk":0,"notnull":0},
        {"name":"name","type":"","pk":0,"notnull":0}])")
                                    .array();
    const QString columns
        = QStringLiteral("SELECT name, type, pk, \"notnull\" FROM pragma_table_info('Commands')");
    EXPECT_EQ(cli(columns), expected);

    insert(row(QStringLiteral("keep")));
    // Again, even from a model that has gained a field: nothing changes.
    EXPECT_TRUE(operation.createTableWithtableName(kTable, TestRow()));
    EXPECT_TRUE(operation.createTableWithtableName(kTable, widerRow(QString())));
    EXPECT_EQ(cli(columns), expected);
    EXPECT_EQ(words(), QStringList { QStringLiteral("keep") });
    EXPECT_EQ(cli(QStringLiteral("SELECT count(*) AS n FROM sqlite_master")).at(0)[QStringLiteral("n")], 1);
}

TEST_F(HRPSqliteOperationTest, AwkwardNamesAreIdentifiersAndBadOnesAreRefused)
{
    const QString odd = QStringLiteral("my \"odd\" table; DROP TABLE Commands");
    const TestRow oddModel({ QStringLiteral("a b"), QStringLiteral("c\"d") });
    ASSERT_TRUE(operation.createTableWithtableName(odd, oddModel));
    EXPECT_EQ(
        cli(QStringLiteral("SELECT name FROM pragma_table_info('my \"odd\" table; DROP TABLE Commands')")),
        QJsonDocument::fromJson(R"([{"name":"a b"},{"name":"c\"d"}])").array());
    EXPECT_EQ(cli(QStringLiteral("SELECT count(*) AS n FROM sqlite_master")).at(0)[QStringLiteral("n")], 2);

    const QString nul = QStringLiteral("a") + QChar(0) + QStringLiteral("b");
    EXPECT_FALSE(operation.createTableWithtableName(QString(), TestRow()));
    EXPECT_FALSE(operation.createTableWithtableName(nul, TestRow()));
    EXPECT_FALSE(operation.createTableWithtableName(
        QStringLiteral("T2"), TestRow({ QStringLiteral("ok"), QString() })));
    EXPECT_FALSE(
        operation.createTableWithtableName(QStringLiteral("T3"), TestRow({ QStringLiteral("ok"), nul })));
    EXPECT_FALSE(operation.createTableWithtableName(QStringLiteral("T4"), TestRow(QStringList())));
    EXPECT_EQ(cli(QStringLiteral("SELECT count(*) AS n FROM sqlite_master")).at(0)[QStringLiteral("n")], 2);
}

TEST_F(HRPSqliteOperationTest, ValuesRoundTripUnchanged)
{
    const QStringList values {
        QStringLiteral("O'Brien"),
        QStringLiteral("don't"),
        QStringLiteral("'); DROP TABLE Commands; --"),
        QStringLiteral("x' OR '1'='1"),
        QStringLiteral("\"double\" quotes"),
        QStringLiteral("打开微信 🎤 Ünïcödé"),
        QStringLiteral("line\nbreak\ttab"),
        QStringLiteral("%@ %1 %s ?"),
        QStringLiteral("  "),
        QStringLiteral(""),
    };
    for (const QString& value : values)
        insert(row(value));

    const auto models = operation.selectAllDataBaseWithtableName<TestRow>(kTable);
    ASSERT_EQ(models.size(), values.size());
    for (qsizetype i = 0; i < values.size(); ++i) {
        const TestRow expected = row(values.at(i));
        for (const QString& field : kFields) {
            EXPECT_EQ(models.at(i).value(field), expected.value(field)) << field.toStdString();
            EXPECT_FALSE(models.at(i).value(field).isNull()) << field.toStdString();
        }
    }

    // The file holds the very texts, as text, in order (read by the sqlite3 tool).
    const QJsonArray stored
        = cli(QStringLiteral("SELECT word, typeof(word) AS kind FROM Commands ORDER BY rowid"));
    ASSERT_EQ(stored.size(), values.size());
    for (qsizetype i = 0; i < values.size(); ++i) {
        EXPECT_EQ(stored.at(i)[QStringLiteral("word")].toString(), values.at(i));
        EXPECT_EQ(stored.at(i)[QStringLiteral("kind")].toString(), QStringLiteral("text"));
    }

    const QList<QVariantMap> maps = operation.selectAllDataBaseWithtableName(kTable);
    ASSERT_EQ(maps.size(), values.size());
    EXPECT_EQ(maps.at(0),
        (QVariantMap { { QStringLiteral("type"), QStringLiteral("t") },
            { QStringLiteral("word"), QStringLiteral("O'Brien") },
            { QStringLiteral("todo"), QStringLiteral("https://example.org/O'Brien") },
            { QStringLiteral("iconType"), QStringLiteral("1") },
            { QStringLiteral("name"), QStringLiteral("O'Brien!") } }));
}

TEST_F(HRPSqliteOperationTest, NilFieldsAreLeftOutAndReadBackAsNil)
{
    TestRow partial(kFields, { { QStringLiteral("word"), QStringLiteral("w") } });
    insert(partial);

    EXPECT_EQ(
        cli(QStringLiteral("SELECT typeof(type) AS a, typeof(word) AS b, typeof(name) AS c FROM Commands")),
        QJsonDocument::fromJson(R"([{"a":"null","b":"text","c":"null"}])").array());
    const auto models = operation.selectAllDataBaseWithtableName<TestRow>(kTable);
    ASSERT_EQ(models.size(), 1);
    EXPECT_EQ(models.at(0).value(QStringLiteral("word")), QStringLiteral("w"));
    for (const QString& field : { QStringLiteral("type"), QStringLiteral("todo"), QStringLiteral("name") })
        EXPECT_TRUE(models.at(0).value(field).isNull()) << field.toStdString();
    const QVariantMap map = operation.selectAllDataBaseWithtableName(kTable).at(0);
    EXPECT_FALSE(map.value(QStringLiteral("name")).isValid());
    EXPECT_TRUE(map.contains(QStringLiteral("name")));

    // A model with no value at all makes no row.
    Completion done;
    operation.insertDataBaseWithtableName(kTable, TestRow(), done.handler());
    EXPECT_EQ(done.calls, 1);
    EXPECT_FALSE(done.success);
    EXPECT_FALSE(done.error.isEmpty());
    EXPECT_EQ(words().size(), 1);
}

TEST_F(HRPSqliteOperationTest, ColumnsTheModelDoesNotDeclareAreSkipped)
{
    Completion added;
    operation.addNewPropertyWithtableName(kTable, QStringLiteral("extra"), added.handler());
    ASSERT_TRUE(added.success) << added.error.toStdString();
    insert(widerRow(QStringLiteral("w")));
    const auto models = operation.selectAllDataBaseWithtableName<TestRow>(kTable);
    ASSERT_EQ(models.size(), 1);
    EXPECT_EQ(models.at(0).value(QStringLiteral("word")), QStringLiteral("w"));
    EXPECT_EQ(models.at(0).fieldNames(), kFields);
}

TEST_F(HRPSqliteOperationTest, AMissingTableReadsAsEmpty)
{
    EXPECT_TRUE(operation.selectAllDataBaseWithtableName<TestRow>(QStringLiteral("Nope")).isEmpty());
    EXPECT_TRUE(operation.selectAllDataBaseWithtableName(QStringLiteral("Nope")).isEmpty());
    EXPECT_TRUE(operation
                    .selectAllDataBaseWithtableNameByParameterSelectType(
                        QStringLiteral("Nope"), { { QStringLiteral("word"), QStringLiteral("x") } }, 0)
                    .isEmpty());
    EXPECT_TRUE(operation.selectAllDataBaseWithtableName<TestRow>(QString()).isEmpty());
}

TEST(HRPSqliteOperationOpen, AFailedOpenIsLoggedOnceAndFailsEveryStatement)
{
    fakes::TempHome home;
    static int warnings = 0;
    warnings = 0;
    const QtMessageHandler previous
        = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString&) {
              if (type == QtWarningMsg)
                  ++warnings;
          });

    HRPSqliteOperation operation(home.path() + QStringLiteral("/no/such/folder/db.sqlite"));
    EXPECT_FALSE(operation.isOpen());
    const QString reason = operation.openError();
    EXPECT_FALSE(reason.isEmpty());

    EXPECT_FALSE(operation.createTableWithtableName(kTable, TestRow()));
    EXPECT_FALSE(operation.cleanTableWithtableName(kTable));
    EXPECT_FALSE(operation.delectTableWithtableName(kTable));
    EXPECT_TRUE(operation.selectAllDataBaseWithtableName<TestRow>(kTable).isEmpty());
    EXPECT_TRUE(operation.selectAllDataBaseWithtableName(kTable).isEmpty());

    using Call = std::function<void(const HRPSqliteOperation::Completion&)>;
    const std::vector<Call> calls {
        [&](auto done) { operation.insertDataBaseWithtableName(kTable, row(QStringLiteral("w")), done); },
        [&](auto done) { operation.delectAllDataBaseWithtableName(kTable, done); },
        [&](auto done) {
            operation.delectDataBaseWithtableName(kTable, QStringLiteral("word"), QStringLiteral("w"), done);
        },
        [&](auto done) {
            operation.updataTableWithtableName(
                kTable, QStringLiteral("word"), row(QStringLiteral("w")), done);
        },
        [&](auto done) { operation.addNewPropertyWithtableName(kTable, QStringLiteral("n"), done); },
    };
    for (const Call& call : calls) {
        Completion done;
        call(done.handler());
        EXPECT_EQ(done.calls, 1);
        EXPECT_FALSE(done.success);
        EXPECT_EQ(done.error, reason);
    }

    QList<const SqliteRowModel*> failed;
    const TestRow one = row(QStringLiteral("w"));
    operation.insertsDataBaseWithtableName(
        kTable, { &one }, [&](const QList<const SqliteRowModel*>& models) { failed = models; });
    EXPECT_EQ(failed, QList<const SqliteRowModel*> { &one });

    qInstallMessageHandler(previous);
    EXPECT_EQ(warnings, 1);
}

TEST_F(HRPSqliteOperationTest, ConditionMapsSelectAndDelete)
{
    insert(row(QStringLiteral("a"), QStringLiteral("x")));
    insert(row(QStringLiteral("b"), QStringLiteral("x")));
    insert(row(QStringLiteral("c"), QStringLiteral("y")));
    insert(TestRow(kFields, { { QStringLiteral("word"), QStringLiteral("d") } }));

    struct Case {
        const char* what;
        QVariantMap condition;
        int type;
        QStringList expected;
    };
    const QString word = QStringLiteral("word");
    const QString type = QStringLiteral("type");
    const Case cases[] = {
        { "and", { { type, QStringLiteral("x") }, { word, QStringLiteral("b") } }, 0,
            { QStringLiteral("b") } },
        { "or", { { type, QStringLiteral("y") }, { word, QStringLiteral("a") } }, 1,
            { QStringLiteral("a"), QStringLiteral("c") } },
        { "and, no match", { { type, QStringLiteral("y") }, { word, QStringLiteral("a") } }, 0, {} },
        { "nil matches NULL", { { type, QVariant() } }, 0, { QStringLiteral("d") } },
        { "null text matches NULL", { { type, QString() } }, 0, { QStringLiteral("d") } },
        { "quote in value", { { word, QStringLiteral("a' OR '1'='1") } }, 0, {} },
        { "numbers compare as text", { { QStringLiteral("iconType"), 1 } }, 0,
            { QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c") } },
    };
    for (const Case& c : cases) {
        QStringList found;
        for (const QVariantMap& m :
            operation.selectAllDataBaseWithtableNameByParameterSelectType(kTable, c.condition, c.type))
            found.append(m.value(word).toString());
        EXPECT_EQ(found, c.expected) << c.what;
    }

    // Conditions that cannot be met safely select nothing and delete nothing.
    const Case refused[] = {
        { "unknown type", { { word, QStringLiteral("a") } }, 2, {} },
        { "empty condition", {}, 0, {} },
        { "missing column named like its value", { { QStringLiteral("nosuch"), QStringLiteral("nosuch") } },
            0, {} },
        { "column name with SQL", { { QStringLiteral("word\" OR 1=1 --"), QStringLiteral("x") } }, 0, {} },
        { "value without a text form", { { word, QVariantList { 1 } } }, 0, {} },
        { "empty column name", { { QString(), QStringLiteral("x") } }, 0, {} },
    };
    for (const Case& c : refused) {
        EXPECT_TRUE(operation.selectAllDataBaseWithtableNameByParameterSelectType(kTable, c.condition, c.type)
                        .isEmpty())
            << c.what;
        Completion done;
        operation.delectDataBaseWithtableNameByParameterSelectTypeCompleted(
            kTable, c.condition, c.type, done.handler());
        EXPECT_EQ(done.calls, 1) << c.what;
        EXPECT_FALSE(done.success) << c.what;
        EXPECT_FALSE(done.error.isEmpty()) << c.what;
        EXPECT_EQ(words().size(), 4) << c.what;
    }

    Completion done;
    operation.delectDataBaseWithtableNameByParameterSelectTypeCompleted(
        kTable, { { type, QStringLiteral("y") }, { word, QStringLiteral("a") } }, 1, done.handler());
    EXPECT_TRUE(done.success) << done.error.toStdString();
    EXPECT_EQ(words(), (QStringList { QStringLiteral("b"), QStringLiteral("d") }));

    operation.delectDataBaseWithtableName(kTable, word, QStringLiteral("b"), done.handler());
    EXPECT_TRUE(done.success);
    EXPECT_EQ(words(), QStringList { QStringLiteral("d") });
    operation.delectDataBaseWithtableName(
        kTable, QStringLiteral("nosuch"), QStringLiteral("nosuch"), done.handler());
    EXPECT_FALSE(done.success);
    EXPECT_EQ(words(), QStringList { QStringLiteral("d") });
}

TEST_F(HRPSqliteOperationTest, UpdateByKeyColumn)
{
    insert(row(QStringLiteral("hello")));
    insert(row(QStringLiteral("other")));

    TestRow change(kFields,
        { { QStringLiteral("word"), QStringLiteral("hello") },
            { QStringLiteral("todo"), QStringLiteral("it's new") } });
    Completion done;
    operation.updataTableWithtableName(kTable, QStringLiteral("word"), change, done.handler());
    ASSERT_TRUE(done.success) << done.error.toStdString();

    const auto models = operation.selectAllDataBaseWithtableName<TestRow>(kTable);
    ASSERT_EQ(models.size(), 2);
    EXPECT_EQ(models.at(0).value(QStringLiteral("todo")), QStringLiteral("it's new"));
    // Nil fields of the model leave the stored values alone.
    EXPECT_EQ(models.at(0).value(QStringLiteral("name")), QStringLiteral("hello!"));
    EXPECT_EQ(models.at(1).value(QStringLiteral("todo")), QStringLiteral("https://example.org/other"));

    struct Case {
        const char* what;
        QString key;
        TestRow model;
    };
    const Case refused[] = {
        { "key is not a field", QStringLiteral("nosuch"), change },
        { "key has no value", QStringLiteral("type"), change },
        { "key is empty", QString(), change },
        { "field missing from the table", QStringLiteral("word"), widerRow(QStringLiteral("hello")) },
    };
    for (const Case& c : refused) {
        Completion failed;
        operation.updataTableWithtableName(kTable, c.key, c.model, failed.handler());
        EXPECT_EQ(failed.calls, 1) << c.what;
        EXPECT_FALSE(failed.success) << c.what;
        EXPECT_FALSE(failed.error.isEmpty()) << c.what;
    }
    EXPECT_EQ(operation.selectAllDataBaseWithtableName(kTable).at(0).value(QStringLiteral("todo")),
        QStringLiteral("it's new"));
}

TEST_F(HRPSqliteOperationTest, BatchInsertStopsAtTheFirstFailureAndReportsWhatWasNotWritten)
{
    const TestRow first = row(QStringLiteral("1"));
    const TestRow bad = widerRow(QStringLiteral("2"));
    const TestRow third = row(QStringLiteral("3"));

    struct Case {
        const char* what;
        QList<const SqliteRowModel*> models;
        QList<const SqliteRowModel*> failed;
        QStringList stored;
    };
    const Case cases[] = {
        { "all written", { &first, &third }, {}, { QStringLiteral("1"), QStringLiteral("3") } },
        { "stops at the failure", { &first, &bad, &third }, { &bad, &third }, { QStringLiteral("1") } },
        { "failure first", { &bad, &first }, { &bad, &first }, {} },
        { "a missing model fails", { &first, nullptr, &third }, { nullptr, &third },
            { QStringLiteral("1") } },
        { "empty", {}, {}, {} },
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(operation.cleanTableWithtableName(kTable));
        int calls = 0;
        QList<const SqliteRowModel*> failed;
        operation.insertsDataBaseWithtableName(
            kTable, c.models, [&](const QList<const SqliteRowModel*>& models) {
                ++calls;
                failed = models;
            });
        EXPECT_EQ(calls, 1) << c.what;
        EXPECT_EQ(failed, c.failed) << c.what;
        EXPECT_EQ(words(), c.stored) << c.what;
    }
    // No completion is fine too.
    operation.insertsDataBaseWithtableName(kTable, { &first }, nullptr);
}

TEST_F(HRPSqliteOperationTest, BatchUpdateReportsTheFailedModelsWithTheError)
{
    insert(row(QStringLiteral("1")));
    insert(row(QStringLiteral("2")));
    const TestRow one(kFields,
        { { QStringLiteral("word"), QStringLiteral("1") },
            { QStringLiteral("name"), QStringLiteral("one") } });
    const TestRow bad = widerRow(QStringLiteral("2"));
    const TestRow two(kFields,
        { { QStringLiteral("word"), QStringLiteral("2") },
            { QStringLiteral("name"), QStringLiteral("two") } });

    int calls = 0;
    QList<const SqliteRowModel*> failed;
    QString error;
    const auto handler = [&](const QList<const SqliteRowModel*>& models, const QString& message) {
        ++calls;
        failed = models;
        error = message;
    };
    operation.updataTableWithtableNameFieldNameModelArrCompleted(
        kTable, QStringLiteral("word"), { &one, &bad, &two }, handler);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(failed, (QList<const SqliteRowModel*> { &bad, &two }));
    EXPECT_TRUE(error.contains(QStringLiteral("extra"))) << error.toStdString();
    auto names = [this] {
        QStringList result;
        for (const TestRow& r : operation.selectAllDataBaseWithtableName<TestRow>(kTable))
            result.append(r.value(QStringLiteral("name")));
        return result;
    };
    EXPECT_EQ(names(), (QStringList { QStringLiteral("one"), QStringLiteral("2!") }));

    operation.updataTableWithtableNameFieldNameModelArrCompleted(
        kTable, QStringLiteral("word"), { &two }, handler);
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(failed.isEmpty());
    EXPECT_TRUE(error.isNull());
    EXPECT_EQ(names(), (QStringList { QStringLiteral("one"), QStringLiteral("two") }));
}

TEST_F(HRPSqliteOperationTest, ClearingDroppingAndAddingColumns)
{
    insert(row(QStringLiteral("a")));
    EXPECT_TRUE(operation.cleanTableWithtableName(kTable));
    EXPECT_TRUE(words().isEmpty());

    insert(row(QStringLiteral("b")));
    Completion done;
    operation.delectAllDataBaseWithtableName(kTable, done.handler());
    EXPECT_TRUE(done.success);
    EXPECT_TRUE(words().isEmpty());

    operation.addNewPropertyWithtableName(kTable, QStringLiteral("count"), done.handler());
    EXPECT_TRUE(done.success) << done.error.toStdString();
    EXPECT_EQ(
        cli(QStringLiteral("SELECT name, type FROM pragma_table_info('Commands') WHERE name = 'count'")),
        QJsonDocument::fromJson(R"([{"name":"count","type":"INTEGER"}])").array());
    operation.addNewPropertyWithtableName(kTable, QStringLiteral("count"), done.handler());
    EXPECT_FALSE(done.success) << "duplicate column";
    EXPECT_TRUE(done.error.contains(QStringLiteral("duplicate"))) << done.error.toStdString();
    for (const QString& bad : { QString(), QStringLiteral("a") + QChar(0) }) {
        Completion refused;
        operation.addNewPropertyWithtableName(kTable, bad, refused.handler());
        EXPECT_EQ(refused.calls, 1);
        EXPECT_FALSE(refused.success);
    }

    EXPECT_TRUE(operation.delectTableWithtableName(kTable));
    EXPECT_TRUE(cli(QStringLiteral("SELECT name FROM sqlite_master")).isEmpty());
    EXPECT_FALSE(operation.delectTableWithtableName(kTable));
    EXPECT_FALSE(operation.cleanTableWithtableName(kTable));
}

TEST_F(HRPSqliteOperationTest, SingleRowCallsFromSeveralThreadsAllLand)
{
    constexpr int kThreads = 4;
    constexpr int kRows = 50;
    std::vector<std::thread> threads;
    std::atomic<int> failures { 0 };
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRows; ++i) {
                operation.insertDataBaseWithtableName(
                    kTable, row(QStringLiteral("%1-%2").arg(t).arg(i)), [&](bool ok, const QString&) {
                        if (!ok)
                            ++failures;
                    });
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(words().size(), kThreads * kRows);
}

TEST(HRPSqliteTool, FieldsAndValuesOfAModel)
{
    const TestRow model(
        kFields, { { QStringLiteral("name"), QStringLiteral("n") }, { QStringLiteral("word"), QString() } });
    EXPECT_EQ(HRPSqliteTool::allPropertyNamesFieldNameModel(model), kFields);
    EXPECT_EQ(HRPSqliteTool::propertiesApsFieldNameModel(model),
        (QVariantMap { { QStringLiteral("name"), QStringLiteral("n") } }));
    EXPECT_TRUE(HRPSqliteTool::propertiesApsFieldNameModel(TestRow()).isEmpty());
}

TEST(HRPSqliteTool, RandomNumbersStayWithinTheBounds)
{
    struct Case {
        int a;
        int b;
    };
    constexpr int kMin = std::numeric_limits<int>::min();
    constexpr int kMax = std::numeric_limits<int>::max();
    const Case cases[]
        = { { 3, 3 }, { 1, 6 }, { 6, 1 }, { -2, 2 }, { kMin, kMax }, { kMax, kMax }, { kMin, kMin + 1 } };
    for (const Case& c : cases) {
        const int low = std::min(c.a, c.b);
        const int high = std::max(c.a, c.b);
        std::set<int> seen;
        for (int i = 0; i < 400; ++i) {
            const int n = HRPSqliteTool::getRandomNumber(c.a, c.b);
            ASSERT_GE(n, low) << c.a << ".." << c.b;
            ASSERT_LE(n, high) << c.a << ".." << c.b;
            seen.insert(n);
        }
        if (static_cast<qint64>(high) - low < 10) {
            EXPECT_EQ(seen.size(), static_cast<size_t>(high - low + 1)) << c.a << ".." << c.b;
        }
    }
}

} // namespace
