#include "core/AppStyle.h"
#include "core/HRPSqliteOperation.h"
#include "core/StorageCheck.h"
#include "fakes/TempHome.h"
#include "platform/UserNotices.h"
#include "ui/NoticeArea.h"
#include "ui/UWHomeViewController.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QLabel>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QStyle>
#include <QToolButton>
#include <QWidget>

#include <gtest/gtest.h>
#include <thread>

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// The tables of a database file, read by the sqlite3 command-line tool.
QStringList tablesOf(const QString& database)
{
    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"), { database, QStringLiteral(".tables") });
    if (!sqlite.waitForFinished(10000))
        return {};
    return QString::fromUtf8(sqlite.readAllStandardOutput())
        .split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

class HomeNotices : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::UserNotices::shared().resetForTesting();
        logged().clear();
        previous_ = qInstallMessageHandler(&HomeNotices::capture);
    }
    void TearDown() override
    {
        qInstallMessageHandler(previous_);
        platform::UserNotices::shared().resetForTesting();
    }
    static QStringList& logged()
    {
        static QStringList lines;
        return lines;
    }
    static QString log()
    {
        QMutexLocker lock(&mutex());
        return logged().join(u'\n');
    }

    fakes::TempHome home;

private:
    static QMutex& mutex()
    {
        static QMutex m;
        return m;
    }
    static void capture(QtMsgType, const QMessageLogContext&, const QString& message)
    {
        QMutexLocker lock(&mutex());
        logged().append(message);
    }
    QtMessageHandler previous_ = nullptr;
};

TEST_F(HomeNotices, AnUnreadableCommandDatabaseIsKeptAsideReplacedAndTold)
{
    const QString path = home.path() + QStringLiteral("/MMmouseDataBase.sqlite");
    const QByteArray damaged = QByteArray("these bytes are no database\n").repeated(50);
    ASSERT_TRUE(writeFile(path, damaged));
    HRPSqliteOperation database(path);
    UWHomeViewController controller(database);
    controller.view();

    // The voice commands have their tables again, in a fresh file.
    const QStringList tables = tablesOf(path);
    EXPECT_TRUE(tables.contains(QStringLiteral("DBMyAppsoooCmdListKey"))) << tables.join(u' ').toStdString();
    EXPECT_TRUE(tables.contains(QStringLiteral("DBCustomizeCmdList")));

    // The old file is kept, untouched, beside it.
    const QStringList kept
        = QDir(home.path()).entryList({ QStringLiteral("MMmouseDataBase.sqlite.damaged-*") }, QDir::Files);
    ASSERT_EQ(kept.size(), 1);
    const QString keptPath = home.path() + u'/' + kept.front();
    EXPECT_EQ(readFile(keptPath), damaged);

    // The user reads what happened and where the old file is; so does the log.
    const QStringList notices = controller.noticeTexts();
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices.front().contains(path));
    EXPECT_TRUE(notices.front().contains(keptPath));
    EXPECT_TRUE(log().contains(path));
    EXPECT_TRUE(log().contains(keptPath));
    EXPECT_TRUE(log().contains(QStringLiteral("file is not a database")));
}

TEST_F(HomeNotices, AFolderThatCannotBeWrittenIsToldOnce)
{
    // A file where the Documents folder should be: refused for every user.
    const QString documents = home.path() + QStringLiteral("/Documents");
    ASSERT_TRUE(writeFile(documents, "not a folder"));
    EXPECT_FALSE(StorageCheck::checkFolders({ documents }));

    HRPSqliteOperation database(documents + QStringLiteral("/MMmouseDataBase.sqlite"));
    UWHomeViewController controller(database);
    controller.view();
    StorageCheck::reportUnwritable(
        documents + QStringLiteral("/Log"), QStringLiteral("read-only file system"));

    const QStringList notices = controller.noticeTexts();
    ASSERT_EQ(notices.size(), 1) << notices.join(u'\n').toStdString();
    EXPECT_TRUE(notices.front().contains(documents));
    EXPECT_EQ(log().count(QStringLiteral("cannot write to")), 1) << log().toStdString();
    EXPECT_EQ(readFile(documents), QByteArray("not a folder"));
}

TEST_F(HomeNotices, ShowsWhatWasPendingAndWhatComesLaterFromAnyThread)
{
    platform::UserNotices::shared().post(QStringLiteral("early"), QStringLiteral("posted before the window"));
    HRPSqliteOperation database(home.path() + QStringLiteral("/db.sqlite"));
    auto controller = std::make_unique<UWHomeViewController>(database);
    QWidget* view = controller->view();
    EXPECT_EQ(controller->noticeTexts(), QStringList { QStringLiteral("posted before the window") });

    std::thread worker([] {
        platform::UserNotices::shared().post(QStringLiteral("late"), QStringLiteral("posted by a worker"));
    });
    worker.join();
    // The worker's notice reaches the widgets through the main thread's queue.
    QCoreApplication::processEvents();
    EXPECT_EQ(controller->noticeTexts(),
        (QStringList { QStringLiteral("posted before the window"), QStringLiteral("posted by a worker") }));

    // The texts are on screen, as written, in the view.
    QStringList shown;
    for (const QLabel* label : view->findChildren<QLabel*>())
        if (label->objectName().startsWith(QStringLiteral("notice-")))
            shown << label->text();
    EXPECT_EQ(shown, controller->noticeTexts());

    // A notice after the window is gone reaches nobody and harms nothing.
    controller.reset(); // takes the view, which no window holds, with it
    std::thread after(
        [] { platform::UserNotices::shared().post(QStringLiteral("gone"), QStringLiteral("x")); });
    after.join();
    QCoreApplication::processEvents();
}

TEST_F(HomeNotices, WithNothingToTellTheNoticeAreaStaysHidden)
{
    HRPSqliteOperation database(home.path() + QStringLiteral("/db.sqlite"));
    UWHomeViewController controller(database);
    QWidget* view = controller.view();
    view->show();
    EXPECT_TRUE(controller.noticeTexts().isEmpty());
    const auto* area = view->findChild<NoticeArea*>();
    ASSERT_NE(area, nullptr);
    EXPECT_FALSE(area->isVisible());

    platform::UserNotices::shared().post(QStringLiteral("k"), QStringLiteral("now there is something"));
    EXPECT_TRUE(area->isVisible());
}

// Three long notices in the smallest window: they line up with the page and
// its tip bar, scroll within their strip instead of squeezing the page, and
// each can be put away for this start.
TEST_F(HomeNotices, NoticesLineUpLeaveThePageItsRoomAndCanBeDismissed)
{
    HRPSqliteOperation database(home.path() + QStringLiteral("/db.sqlite"));
    UWHomeViewController controller(database);
    QWidget* view = controller.view();
    view->resize(view->minimumSize());
    view->show();
    const QString longText = QStringLiteral("A notice long enough to wrap over several lines in a narrow window. ").repeated(4);
    for (const char* key : { "one", "two", "three" })
        platform::UserNotices::shared().post(QString::fromUtf8(key), QString::fromUtf8(key) + u' ' + longText);
    QCoreApplication::processEvents(); // the notices arrive
    QCoreApplication::processEvents(); // and are laid out
    auto* area = view->findChild<NoticeArea*>();
    ASSERT_NE(area, nullptr);
    ASSERT_EQ(controller.noticeTexts().size(), 3);

    const QWidget* page = view->findChild<QWidget*>(QStringLiteral("rightPanel"));
    ASSERT_NE(page, nullptr);
    EXPECT_GE(page->height(), view->height() / 2) << "page " << page->height() << " of " << view->height();
    EXPECT_LE(area->height(), view->height() / 4 + 1);

    const QList<QWidget*> rows = area->findChildren<QWidget*>(QStringLiteral("noticeRow"));
    ASSERT_EQ(rows.size(), 3);
    // In the window's font, not the application's default.
    for (const QLabel* label : area->findChildren<QLabel*>()) {
        EXPECT_EQ(QFontInfo(label->font()).family(), QFontInfo(AppStyle::font()).family());
    }
    const QRect pageRect(page->mapTo(view, QPoint(0, 0)), page->size());
    const QRect rowRect(rows[0]->mapTo(view, QPoint(0, 0)), rows[0]->size());
    EXPECT_EQ(rowRect.left(), pageRect.left());
    // The strip may give room to its scroll bar, never more.
    EXPECT_LE(pageRect.right() - rowRect.right(), area->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 1);

    // Dismissed for this start: gone, and not shown again when posted again.
    QToolButton* dismiss = rows[1]->findChild<QToolButton*>(QStringLiteral("noticeDismiss"));
    ASSERT_NE(dismiss, nullptr);
    EXPECT_FALSE(dismiss->toolTip().isEmpty());
    dismiss->click();
    EXPECT_EQ(controller.noticeTexts(), (QStringList { QStringLiteral("one ") + longText, QStringLiteral("three ") + longText }));
    area->addNotice(QStringLiteral("two"), QStringLiteral("again"));
    EXPECT_EQ(controller.noticeTexts().size(), 2);
    for (const char* key : { "one", "three" }) {
        area->dismissNotice(QString::fromUtf8(key));
    }
    EXPECT_TRUE(controller.noticeTexts().isEmpty());
    EXPECT_FALSE(area->isVisible());
}

} // namespace
