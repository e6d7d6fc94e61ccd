#include "voice/MMCustomCmdItem.h"

#include "core/HRPSqliteOperation.h"
#include "fakes/TempHome.h"
#include "platform/AppPaths.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

QVariantMap json(const char* text)
{
    return QJsonDocument::fromJson(text).object().toVariantMap();
}

TEST(MMCustomCmdItem, FieldsInColumnOrder)
{
    EXPECT_EQ(MMCustomCmdItem().fieldNames(),
        (QStringList { QStringLiteral("type"), QStringLiteral("word"), QStringLiteral("todo"),
            QStringLiteral("iconType"), QStringLiteral("name") }));
}

TEST(MMCustomCmdItem, FromThePagesJson)
{
    const MMCustomCmdItem item = MMCustomCmdItem::initWithDict(json(R"({
        "type": "folder", "word": "打开 O'Brien", "todo": "file:///home/a%20b/",
        "iconType": 2, "name": "", "unknown": "ignored"})"));
    EXPECT_EQ(item.type(), QStringLiteral("folder"));
    EXPECT_EQ(item.word(), QStringLiteral("打开 O'Brien"));
    EXPECT_EQ(item.todo(), QStringLiteral("file:///home/a%20b/"));
    EXPECT_EQ(item.iconType(), QStringLiteral("2"));
    EXPECT_FALSE(item.name().isNull());
    EXPECT_TRUE(item.name().isEmpty());

    // Missing keys, null and values without a text form leave the field nil.
    const MMCustomCmdItem sparse = MMCustomCmdItem::initWithDict(
        json(R"({"word": null, "todo": [1], "iconType": {"a": 1}, "type": true})"));
    EXPECT_TRUE(sparse.word().isNull());
    EXPECT_TRUE(sparse.todo().isNull());
    EXPECT_TRUE(sparse.iconType().isNull());
    EXPECT_TRUE(sparse.name().isNull());
    EXPECT_EQ(sparse.type(), QStringLiteral("1"));
}

TEST(MMCustomCmdItem, KeyValuesHoldTheFieldsThatHaveAValue)
{
    MMCustomCmdItem item;
    item.setWord(QStringLiteral("hi"));
    item.setName(QStringLiteral(""));
    EXPECT_EQ(item.keyValues(),
        (QVariantMap { { QStringLiteral("word"), QStringLiteral("hi") },
            { QStringLiteral("name"), QStringLiteral("") } }));

    const QVariantMap full
        = json(R"({"type":"","word":"w","todo":"https://x.org/?q='1'","iconType":"3","name":"n"})");
    EXPECT_EQ(MMCustomCmdItem::initWithDict(full).keyValues(), full);
}

TEST(MMCustomCmdItem, FieldAccessByName)
{
    MMCustomCmdItem item;
    item.setFieldValue(QStringLiteral("todo"), QStringLiteral("t"));
    item.setFieldValue(QStringLiteral("nosuch"), QStringLiteral("x"));
    EXPECT_EQ(item.todo(), QStringLiteral("t"));
    EXPECT_EQ(item.fieldValue(QStringLiteral("todo")), QVariant(QStringLiteral("t")));
    EXPECT_FALSE(item.fieldValue(QStringLiteral("nosuch")).isValid());
    item.setFieldValue(QStringLiteral("todo"), QVariant());
    EXPECT_TRUE(item.todo().isNull());
}

TEST(MMCustomCmdItem, StoresAsARowOfItsTable)
{
    fakes::TempHome home;
    const QString path = platform::AppPaths::documents() + QStringLiteral("/db.sqlite");
    HRPSqliteOperation operation(path);
    const QString table = QStringLiteral("DBCustomizeCmdList");
    ASSERT_TRUE(operation.createTableWithtableName(table, MMCustomCmdItem()));

    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"),
        { path,
            QStringLiteral("SELECT group_concat(name, ',') FROM pragma_table_info('DBCustomizeCmdList')") });
    ASSERT_TRUE(sqlite.waitForFinished(10000));
    EXPECT_EQ(sqlite.readAllStandardOutput().trimmed(), QByteArray("type,word,todo,iconType,name"));

    MMCustomCmdItem item = MMCustomCmdItem::initWithDict(
        json(R"({"type":"file","word":"it's","todo":"file:///a","iconType":"1"})"));
    bool ok = false;
    operation.insertDataBaseWithtableName(table, item, [&](bool success, const QString&) { ok = success; });
    ASSERT_TRUE(ok);
    const QList<MMCustomCmdItem> rows = operation.selectAllDataBaseWithtableName<MMCustomCmdItem>(table);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.at(0).keyValues(), item.keyValues());
    EXPECT_TRUE(rows.at(0).name().isNull());
}

} // namespace
