#include "core/AppDelegate.h"
#include "core/HRPSqliteOperation.h"
#include "core/KWLangManager.h"
#include "core/MMUserInfo.h"
#include "core/Notifications.h"
#include "fakes/FakeStatusBar.h"
#include "fakes/TempHome.h"
#include "platform/Preferences.h"
#include "ui/UWHomeViewController.h"

#include <QProcess>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

QStringList tableColumns(const QString& database, const QString& table)
{
    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"), {database, QStringLiteral("PRAGMA table_info(\"%1\");").arg(table)});
    if (!sqlite.waitForFinished(10000))
        return {};
    QStringList columns;
    for (const QString& line : QString::fromUtf8(sqlite.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
        columns << line.section('|', 1, 1);
    return columns;
}

TEST(UWHomeViewController, FirstViewReadRunsStartUpOnceAndCreatesTheCommandTables)
{
    fakes::TempHome home;
    const QString file = HRPSqliteOperation::defaultDatabasePath();
    ASSERT_TRUE(file.startsWith(home.path()));
    ASSERT_TRUE(file.endsWith(QStringLiteral("/Documents/MMmouseDataBase.sqlite")));
    HRPSqliteOperation database(file);
    QStringList started;
    UWHomeViewController::Environment environment;
    environment.webView = false;
    UWHomeViewController controller(database,
        { [&] { started << "press codes"; }, {}, [&] { started << "receiver"; }, [&] { started << "bluetooth"; }, {} },
        platform::NotificationCenter::defaultCenter(), environment);
    EXPECT_FALSE(controller.isViewLoaded());
    QWidget* view = controller.view();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(controller.view(), view);
    // With no session to check, every permission counts as granted.
    EXPECT_EQ(controller.startupLog(), (QStringList{"view", "tables", "receiver", "bluetooth", "permissions", "update check", "press codes", "observers"}));
    EXPECT_EQ(started, (QStringList{"receiver", "bluetooth", "press codes"}));

    EXPECT_EQ(tableColumns(file, QStringLiteral("DBMyAppsoooCmdListKey")),
              (QStringList{"name", "path", "icon", "cmdword"}));
    EXPECT_EQ(tableColumns(file, QStringLiteral("DBCustomizeCmdList")),
              (QStringList{"type", "word", "todo", "iconType", "name"}));
}

TEST(UWHomeViewController, LanguageChangeRebuildsTheStatusMenuInTheNewLanguage)
{
    fakes::TempHome home;
    platform::Preferences prefs(home.path() + QStringLiteral("/prefs.plist"));
    MMUserInfo userInfo(prefs);
    HRPSqliteOperation database(home.path() + QStringLiteral("/db.sqlite"));
    platform::NotificationCenter center;
    auto bar = std::make_unique<fakes::FakeStatusBar>();
    fakes::FakeStatusBar* statusBar = bar.get();
    AppDelegate delegate(
        std::move(bar), [&] { UWHomeViewController::Environment environment;
            environment.webView = false;
            return std::make_unique<UWHomeViewController>(database, UWHomeViewController::StartupHooks{}, center, environment); }, userInfo, prefs,
        center);

    delegate.setRedirectsLog(false);
    KWLangManager& languages = KWLangManager::sharedManager();
    const quint64 before = languages.indexOfUI();
    languages.setIndexOfUI(0);
    delegate.applicationDidFinishLaunching();
    ASSERT_EQ(statusBar->aliveCount(), 1);
    EXPECT_EQ(statusBar->items().back()->menu.at(0).title, QStringLiteral("打开主页"));

    languages.setIndexOfUI(1);
    center.post(notifications::kHadChangeUILanguage);
    EXPECT_EQ(statusBar->aliveCount(), 1);
    EXPECT_EQ(statusBar->items().size(), 2u);
    const QString english = statusBar->items().back()->menu.at(0).title;
    EXPECT_NE(english, QStringLiteral("打开主页"));
    EXPECT_FALSE(english.isEmpty());
    languages.setIndexOfUI(before);
}

} // namespace
