#include "voice/UWHomeViewModel.h"

#include "core/HRPSqliteOperation.h"
#include "core/KWLangManager.h"
#include "core/LGNLocalizedString.h"
#include "core/Notifications.h"
#include "fakes/TempHome.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const QString kApps = UWHomeViewModel::kDBMyAppsoooCmdListKey;
const QString kCustom = UWHomeViewModel::kDBCustomizeCmdList;

// What the store posted: the name and object of each notification, and
// whether it arrived on the main thread.
struct Posted {
    QString name;
    QVariant object;
    bool onMainThread;
};

class Recorder {
public:
    Recorder()
    {
        for (const QString& name : { notifications::kGetMyApp, notifications::kReloadMyAppNumbersOneByOne })
            tokens_.push_back(platform::NotificationCenter::defaultCenter().addObserver(
                name, [this](const platform::Notification& n) {
                    std::lock_guard lock(mutex_);
                    posted_.push_back({ n.name, n.object, QThread::currentThread() == qApp->thread() });
                }));
    }
    std::vector<Posted> take()
    {
        std::lock_guard lock(mutex_);
        return std::exchange(posted_, {});
    }

private:
    std::mutex mutex_;
    std::vector<Posted> posted_;
    std::vector<platform::ObserverToken> tokens_;
};

QVariant idx(qulonglong i)
{
    return QVariantMap { { UWHomeViewModel::kIdxKey, QVariant::fromValue(i) } };
}

class UWHomeViewModelTest : public ::testing::Test {
protected:
    UWHomeViewModelTest()
    {
        // A data folder with a blank in its path, as the stored paths must keep it unencoded.
        EXPECT_TRUE(QDir().mkpath(dataFolder_ + QStringLiteral("/applications")));
    }

    void install(const QString& fileName, const QString& name, const QString& extra = {})
    {
        QFile file(dataFolder_ + QStringLiteral("/applications/") + fileName);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=true\n%2\n")
                       .arg(name, extra)
                       .toUtf8());
    }
    void uninstall(const QString& fileName)
    {
        ASSERT_TRUE(QFile::remove(dataFolder_ + QStringLiteral("/applications/") + fileName));
    }
    QString entryPath(const QString& fileName) const
    {
        return dataFolder_ + QStringLiteral("/applications/") + fileName;
    }

    void createTables()
    {
        ASSERT_TRUE(model_.createSQLTableWithtableName(kApps, MMAppdataItem()));
        ASSERT_TRUE(model_.createSQLTableWithtableName(kCustom, MMCustomCmdItem()));
    }

    static QStringList names(const QList<MMAppdataItem>& rows)
    {
        QStringList list;
        for (const MMAppdataItem& row : rows)
            list.append(row.name());
        return list;
    }

    fakes::TempHome home_;
    const QString dataFolder_ = home_.path() + QStringLiteral("/data share");
    HRPSqliteOperation database_ { HRPSqliteOperation::defaultDatabasePath() };
    platform::Preferences defaults_ { home_.path() + QStringLiteral("/defaults.plist") };
    UWHomeViewModel model_ { database_, mmQuery({ dataFolder_ }), &defaults_ };
};

TEST_F(UWHomeViewModelTest, CustomCommandsAreStoredInOrderAndReplacedAsAWhole)
{
    createTables();
    const QList<QVariantMap> page {
        { { "type", "file" }, { "word", "notes" }, { "todo", "file:///home/me/My Notes/" },
            { "iconType", "1" }, { "name", "Notes" } },
        { { "type", "web" }, { "word", "O'Brien's page" }, { "todo", "https://example.com/?q='1'" } },
        { { "word", "打开 日历" }, { "todo", "calendar.example.org" }, { "name", "" } },
    };
    for (const QVariantMap& element : page) {
        bool called = false;
        model_.requestCreateCustomCmd(
            MMCustomCmdItem::initWithDict(element), [&called](bool success, const QString& error) {
                called = true;
                EXPECT_TRUE(success) << error.toStdString();
            });
        EXPECT_TRUE(called);
    }
    const QList<MMCustomCmdItem> rows = model_.getCustomCmdList();
    ASSERT_EQ(rows.size(), page.size());
    for (qsizetype i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows.at(i).keyValues(), page.at(i));
    EXPECT_TRUE(rows.at(1).name().isNull());

    EXPECT_TRUE(model_.cleanCustomeDB());
    EXPECT_TRUE(model_.getCustomCmdList().isEmpty());
}

TEST_F(UWHomeViewModelTest, InsertsReportTheirOutcome)
{
    // No tables made: both inserts fail, and say so.
    QList<QPair<bool, QString>> outcomes;
    const auto record = [&outcomes](bool success, const QString& error) {
        outcomes.append({ success, error });
    };
    MMCustomCmdItem command;
    command.setWord(QStringLiteral("w"));
    model_.requestCreateCustomCmd(command, record);
    MMAppdataItem application;
    application.setName(QStringLiteral("n"));
    model_.requestCreateMyAppListCmd(application, record);
    ASSERT_EQ(outcomes.size(), 2);
    for (const auto& [success, error] : outcomes) {
        EXPECT_FALSE(success);
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_TRUE(model_.getCustomCmdList().isEmpty());

    createTables();
    outcomes.clear();
    model_.requestCreateMyAppListCmd(application, record);
    model_.requestCreateMyAppListCmd(application, {});
    EXPECT_EQ(outcomes, (QList<QPair<bool, QString>> { { true, QString() } }));
    EXPECT_EQ(model_.getLocalMyAppsCmdList().size(), 2);
}

TEST_F(UWHomeViewModelTest, TheApplicationTableIsBuiltOnFirstRead)
{
    QImage icon(128, 96, QImage::Format_ARGB32);
    icon.fill(Qt::red);
    const QString iconPath = home_.path() + QStringLiteral("/zeta.png");
    ASSERT_TRUE(icon.save(iconPath));
    install(QStringLiteral("zeta.desktop"), QStringLiteral("Zeta"), QStringLiteral("Icon=") + iconPath);
    install(QStringLiteral("alpha beta.desktop"), QStringLiteral("alpha Beta"),
        QStringLiteral("Icon=no-such-icon"));
    install(QStringLiteral("hidden.desktop"), QStringLiteral("Hidden"), QStringLiteral("NoDisplay=true"));
    createTables();

    Recorder recorder;
    const QList<MMAppdataItem> rows = model_.getLocalMyAppsCmdList();
    const QString open = LGNLocalizedString::lgnAppLocalizedString(QStringLiteral("打开"));
    ASSERT_EQ(names(rows), (QStringList { QStringLiteral("alpha Beta"), QStringLiteral("Zeta") }));

    const MMAppdataItem& alpha = rows.at(0);
    EXPECT_EQ(alpha.path(), QStringLiteral("file://") + entryPath(QStringLiteral("alpha beta.desktop")));
    EXPECT_EQ(alpha.cmdword(), open + QStringLiteral("alpha Beta"));
    EXPECT_FALSE(alpha.icon().isNull());
    EXPECT_TRUE(alpha.icon().isEmpty());

    const MMAppdataItem& zeta = rows.at(1);
    EXPECT_EQ(zeta.cmdword(), open + QStringLiteral("Zeta"));
    const QImage stored = QImage::fromData(QByteArray::fromBase64(zeta.icon().toLatin1()), "PNG");
    EXPECT_EQ(stored.size(), QSize(64, 48));
    EXPECT_FALSE(zeta.icon().contains(QLatin1Char('\n')));

    // Each application's bookmark is kept under its row's path text.
    for (const MMAppdataItem& row : rows)
        EXPECT_EQ(defaults_.value(row.path()),
            QVariant(QFileInfo(row.path().mid(int(strlen("file://")))).canonicalFilePath()));

    const std::vector<Posted> posted = recorder.take();
    ASSERT_EQ(posted.size(), 4u);
    EXPECT_EQ(posted[0].name, notifications::kGetMyApp);
    EXPECT_EQ(posted[0].object, QVariant(UWHomeViewModel::kGetMyAppBegin));
    EXPECT_EQ(posted[1].name, notifications::kReloadMyAppNumbersOneByOne);
    EXPECT_EQ(posted[1].object, idx(0));
    EXPECT_EQ(posted[2].object, idx(1));
    EXPECT_EQ(posted[3].name, notifications::kGetMyApp);
    EXPECT_EQ(posted[3].object, QVariant(UWHomeViewModel::kGetMyAppEnd));

    // The second read returns the stored rows and posts nothing.
    const QList<MMAppdataItem> again = model_.getLocalMyAppsCmdList();
    ASSERT_EQ(again.size(), rows.size());
    for (qsizetype i = 0; i < rows.size(); ++i)
        EXPECT_EQ(again.at(i).keyValues(), rows.at(i).keyValues());
    EXPECT_TRUE(recorder.take().empty());
}

TEST_F(UWHomeViewModelTest, TheCommandWordFollowsTheInterfaceLanguage)
{
    KWLangManager& languages = KWLangManager::sharedManager();
    const quint64 previous = languages.indexOfUI();
    install(QStringLiteral("files.desktop"), QStringLiteral("Files"));
    createTables();

    languages.setIndexOfUI(1);
    const QList<MMAppdataItem> english = model_.getLocalMyAppsCmdList();
    ASSERT_TRUE(model_.cleanLocalMyAppsCmdList());
    languages.setIndexOfUI(0);
    const QList<MMAppdataItem> chinese = model_.getLocalMyAppsCmdList();
    languages.setIndexOfUI(previous);

    ASSERT_EQ(english.size(), 1);
    EXPECT_EQ(english.at(0).cmdword(), QStringLiteral("OpenFiles"));
    ASSERT_EQ(chinese.size(), 1);
    EXPECT_EQ(chinese.at(0).cmdword(), QStringLiteral("打开Files"));
}

TEST_F(UWHomeViewModelTest, AListStoredUnderAnotherLanguageIsBuiltAgainWithTheNewWord)
{
    // No emptying in between: a switch of language, or a list an earlier run
    // stored in another language, must still give this language's word.
    KWLangManager& languages = KWLangManager::sharedManager();
    const quint64 previous = languages.indexOfUI();
    install(QStringLiteral("files.desktop"), QStringLiteral("Files"));
    createTables();

    languages.setIndexOfUI(1);
    const QList<MMAppdataItem> english = model_.getLocalMyAppsCmdList();
    languages.setIndexOfUI(0);
    const QList<MMAppdataItem> chinese = model_.getLocalMyAppsCmdList();
    const QList<MMAppdataItem> again = model_.getLocalMyAppsCmdList();
    languages.setIndexOfUI(previous);

    ASSERT_EQ(english.size(), 1);
    EXPECT_EQ(english.at(0).cmdword(), QStringLiteral("OpenFiles"));
    ASSERT_EQ(chinese.size(), 1);
    EXPECT_EQ(chinese.at(0).cmdword(), QStringLiteral("打开Files"));
    ASSERT_EQ(again.size(), 1);
    EXPECT_EQ(again.at(0).cmdword(), QStringLiteral("打开Files"));
}

TEST_F(UWHomeViewModelTest, ARefreshShowsTheApplicationsInstalledNow)
{
    install(QStringLiteral("old.desktop"), QStringLiteral("Old"));
    createTables();
    EXPECT_EQ(model_.myAppList().size(), 1);
    EXPECT_EQ(names(model_.getLocalMyAppsCmdList()), QStringList { QStringLiteral("Old") });

    install(QStringLiteral("new.desktop"), QStringLiteral("New"));
    uninstall(QStringLiteral("old.desktop"));
    // Stored rows stay until the table is emptied.
    EXPECT_EQ(names(model_.getLocalMyAppsCmdList()), QStringList { QStringLiteral("Old") });

    ASSERT_TRUE(model_.cleanLocalMyAppsCmdList());
    EXPECT_EQ(names(model_.getLocalMyAppsCmdList()), QStringList { QStringLiteral("New") });
    EXPECT_EQ(model_.myAppList().size(), 1);
}

TEST_F(UWHomeViewModelTest, NoApplicationsGiveAnEmptyListAndTheNextReadTriesAgain)
{
    createTables();
    Recorder recorder;
    EXPECT_TRUE(model_.getLocalMyAppsCmdList().isEmpty());
    const std::vector<Posted> posted = recorder.take();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].object, QVariant(UWHomeViewModel::kGetMyAppBegin));
    EXPECT_EQ(posted[1].object, QVariant(UWHomeViewModel::kGetMyAppEnd));

    install(QStringLiteral("later.desktop"), QStringLiteral("Later"));
    EXPECT_EQ(names(model_.getLocalMyAppsCmdList()), QStringList { QStringLiteral("Later") });
}

TEST_F(UWHomeViewModelTest, OnlyACreatedApplicationTableListsTheApplications)
{
    install(QStringLiteral("a.desktop"), QStringLiteral("A"));
    EXPECT_TRUE(model_.createSQLTableWithtableName(kCustom, MMCustomCmdItem()));
    EXPECT_TRUE(model_.myAppList().isEmpty());

    // A database that cannot be opened: creation fails and nothing is listed.
    QFile blocker(home_.path() + QStringLiteral("/not-a-folder"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    HRPSqliteOperation unopenable(blocker.fileName() + QStringLiteral("/db.sqlite"));
    UWHomeViewModel broken(unopenable, mmQuery({ dataFolder_ }), &defaults_);
    EXPECT_FALSE(broken.createSQLTableWithtableName(kApps, MMAppdataItem()));
    EXPECT_TRUE(broken.myAppList().isEmpty());
    EXPECT_TRUE(broken.getLocalMyAppsCmdList().isEmpty());

    EXPECT_TRUE(model_.createSQLTableWithtableName(kApps, MMAppdataItem()));
    ASSERT_EQ(model_.myAppList().size(), 1);
    EXPECT_EQ(model_.myAppList().at(0).path, entryPath(QStringLiteral("a.desktop")));
}

TEST_F(UWHomeViewModelTest, ConcurrentReadersBuildTheTableOnce)
{
    for (const char* name : { "One", "Two", "Three" })
        install(QString::fromLatin1(name).toLower() + QStringLiteral(".desktop"), QString::fromLatin1(name));
    createTables();
    Recorder recorder;

    std::vector<QList<MMAppdataItem>> results(4);
    std::vector<std::thread> readers;
    for (auto& result : results)
        readers.emplace_back([this, &result] { result = model_.getLocalMyAppsCmdList(); });
    for (std::thread& reader : readers)
        reader.join();
    for (const auto& result : results)
        EXPECT_EQ(names(result),
            (QStringList { QStringLiteral("One"), QStringLiteral("Three"), QStringLiteral("Two") }));
    EXPECT_EQ(database_.selectAllDataBaseWithtableName(kApps).size(), 3);

    // Progress reaches the main thread; the rest arrives on the reading thread.
    QCoreApplication::processEvents();
    std::vector<QVariant> progress;
    int begins = 0;
    for (const Posted& p : recorder.take()) {
        if (p.name == notifications::kReloadMyAppNumbersOneByOne) {
            EXPECT_TRUE(p.onMainThread);
            progress.push_back(p.object);
        } else if (p.object == QVariant(UWHomeViewModel::kGetMyAppBegin)) {
            EXPECT_FALSE(p.onMainThread);
            ++begins;
        }
    }
    EXPECT_EQ(begins, 1);
    EXPECT_EQ(progress, (std::vector<QVariant> { idx(0), idx(1), idx(2) }));
}

TEST_F(UWHomeViewModelTest, AnObserverMayReadTheStoreDuringARebuild)
{
    install(QStringLiteral("a.desktop"), QStringLiteral("A"));
    createTables();
    QList<qsizetype> seen;
    const platform::ObserverToken token = platform::NotificationCenter::defaultCenter().addObserver(
        notifications::kReloadMyAppNumbersOneByOne,
        [this, &seen](const platform::Notification&) { seen.append(model_.getLocalMyAppsCmdList().size()); });
    EXPECT_EQ(model_.getLocalMyAppsCmdList().size(), 1);
    // The rows go in together once all are made; meanwhile the reader gets
    // the table as it was instead of waiting or starting a second rebuild.
    EXPECT_EQ(seen, QList<qsizetype> { 0 });
    EXPECT_EQ(database_.selectAllDataBaseWithtableName(kApps).size(), 1);
}

TEST_F(UWHomeViewModelTest, EmptyingTheTableNeverWaitsForARebuild)
{
    install(QStringLiteral("a.desktop"), QStringLiteral("A"));
    createTables();
    // A rebuild on a worker is held up at its start until the main thread
    // has emptied the table (or five seconds have passed).
    std::mutex mutex;
    std::condition_variable changed;
    bool rebuildStarted = false, emptied = false, heldTooLong = false;
    const platform::ObserverToken token = platform::NotificationCenter::defaultCenter().addObserver(
        notifications::kGetMyApp, [&](const platform::Notification& n) {
            if (n.object != QVariant(UWHomeViewModel::kGetMyAppBegin) || QThread::currentThread() == qApp->thread())
                return;
            std::unique_lock lock(mutex);
            rebuildStarted = true;
            changed.notify_all();
            heldTooLong = !changed.wait_for(lock, std::chrono::seconds(5), [&] { return emptied; });
        });
    QList<MMAppdataItem> workerRows;
    std::thread worker([&] { workerRows = model_.getLocalMyAppsCmdList(); });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return rebuildStarted; });
    }
    install(QStringLiteral("b.desktop"), QStringLiteral("B"));
    EXPECT_TRUE(model_.cleanLocalMyAppsCmdList());
    {
        std::lock_guard lock(mutex);
        emptied = true;
    }
    changed.notify_all();
    worker.join();
    EXPECT_FALSE(heldTooLong) << "the main thread waited for the rebuild";
    EXPECT_EQ(names(workerRows), (QStringList { QStringLiteral("A"), QStringLiteral("B") }));
    EXPECT_EQ(names(model_.getLocalMyAppsCmdList()), (QStringList { QStringLiteral("A"), QStringLiteral("B") }));
}

TEST_F(UWHomeViewModelTest, EmptyingDuringARebuildBuildsAgainWithTheApplicationsInstalledNow)
{
    install(QStringLiteral("old.desktop"), QStringLiteral("Old"));
    createTables();
    // On the main thread progress arrives during the rebuild, after the
    // applications were listed: one more is installed and the page asks
    // for the list to be made again.
    bool refreshed = false;
    const platform::ObserverToken token = platform::NotificationCenter::defaultCenter().addObserver(
        notifications::kReloadMyAppNumbersOneByOne, [&](const platform::Notification&) {
            if (refreshed)
                return;
            refreshed = true;
            install(QStringLiteral("new.desktop"), QStringLiteral("New"));
            EXPECT_TRUE(model_.cleanLocalMyAppsCmdList());
        });
    EXPECT_EQ(names(model_.getLocalMyAppsCmdList()), (QStringList { QStringLiteral("New"), QStringLiteral("Old") }));
    EXPECT_EQ(names(database_.selectAllDataBaseWithtableName<MMAppdataItem>(kApps)),
        (QStringList { QStringLiteral("New"), QStringLiteral("Old") }));
}

} // namespace
