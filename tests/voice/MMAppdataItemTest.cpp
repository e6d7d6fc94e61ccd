#include "voice/MMAppdataItem.h"

#include "core/HRPSqliteOperation.h"
#include "fakes/TempHome.h"
#include "platform/AppPaths.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

TEST(MMAppdataItem, FieldsKeysAndValues)
{
    EXPECT_EQ(MMAppdataItem().fieldNames(),
        (QStringList { QStringLiteral("name"), QStringLiteral("path"), QStringLiteral("icon"),
            QStringLiteral("cmdword") }));

    const QVariantMap page = QJsonDocument::fromJson(
        R"({"name":"Text Editor","path":"file:///usr/share/applications/a b.desktop","icon":"iVBORw0K","cmdword":"打开Text Editor"})")
                                 .object()
                                 .toVariantMap();
    const MMAppdataItem item = MMAppdataItem::initWithDict(page);
    EXPECT_EQ(item.name(), QStringLiteral("Text Editor"));
    EXPECT_EQ(item.path(), QStringLiteral("file:///usr/share/applications/a b.desktop"));
    EXPECT_EQ(item.icon(), QStringLiteral("iVBORw0K"));
    EXPECT_EQ(item.cmdword(), QStringLiteral("打开Text Editor"));
    EXPECT_EQ(item.keyValues(), page);

    MMAppdataItem partial;
    partial.setName(QStringLiteral("n"));
    EXPECT_EQ(partial.keyValues(), (QVariantMap { { QStringLiteral("name"), QStringLiteral("n") } }));
    EXPECT_TRUE(MMAppdataItem::initWithDict({}).keyValues().isEmpty());
}

TEST(MMAppdataItem, StoresAsARowOfItsTable)
{
    fakes::TempHome home;
    const QString path = platform::AppPaths::documents() + QStringLiteral("/db.sqlite");
    HRPSqliteOperation operation(path);
    const QString table = QStringLiteral("DBMyAppsoooCmdListKey");
    ASSERT_TRUE(operation.createTableWithtableName(table, MMAppdataItem()));

    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"),
        { path,
            QStringLiteral(
                "SELECT group_concat(name, ',') FROM pragma_table_info('DBMyAppsoooCmdListKey')") });
    ASSERT_TRUE(sqlite.waitForFinished(10000));
    EXPECT_EQ(sqlite.readAllStandardOutput().trimmed(), QByteArray("name,path,icon,cmdword"));

    MMAppdataItem first;
    first.setName(QStringLiteral("Files"));
    first.setPath(QStringLiteral("file:///usr/bin/nautilus"));
    first.setCmdword(QStringLiteral("打开Files"));
    MMAppdataItem second;
    second.setName(QStringLiteral("Bob's \"Tool\""));
    QList<const SqliteRowModel*> failed { nullptr };
    operation.insertsDataBaseWithtableName(
        table, { &first, &second }, [&](const QList<const SqliteRowModel*>& models) { failed = models; });
    EXPECT_TRUE(failed.isEmpty());

    const QList<MMAppdataItem> rows = operation.selectAllDataBaseWithtableName<MMAppdataItem>(table);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows.at(0).keyValues(), first.keyValues());
    EXPECT_TRUE(rows.at(0).icon().isNull());
    EXPECT_EQ(rows.at(1).keyValues(), second.keyValues());
}

} // namespace
