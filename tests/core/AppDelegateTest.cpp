#include "core/AppDelegate.h"
#include "core/MMUserInfo.h"
#include "core/Notifications.h"
#include "fakes/FakeStatusBar.h"
#include "fakes/TempHome.h"
#include "platform/AppPaths.h"
#include "platform/Preferences.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QMainWindow>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdio>

#include <gtest/gtest.h>

namespace {

// Records what the window looked like when the delegate first read the view.
class RecordingController : public MainContentController {
public:
    explicit RecordingController(std::function<void()> onLoad)
        : onLoad_(std::move(onLoad))
    {
    }
    ~RecordingController() override
    {
        if (view_ && !view_->parent())
            delete view_;
    }
    void whenReadyToShow(std::function<void()> show) override
    {
        if (holdsShow)
            heldShows.push_back(std::move(show));
        else
            show();
    }
    QWidget* view() override
    {
        ++reads;
        if (!view_) {
            onLoad_();
            view_ = new QWidget();
            view_->resize(640, 400);
        }
        return view_;
    }
    int reads = 0;
    bool holdsShow = false; // the view draws only when the test says so
    std::vector<std::function<void()>> heldShows;

private:
    std::function<void()> onLoad_;
    QWidget* view_ = nullptr;
};

class AppDelegateTest : public ::testing::Test {
protected:
    fakes::TempHome home;
    platform::Preferences prefs{home.path() + QStringLiteral("/prefs.plist")};
    MMUserInfo userInfo{prefs};
    fakes::FakeStatusBar* statusBar = nullptr;
    platform::NotificationCenter center;
    QStringList events;
    std::unique_ptr<AppDelegate> delegate;

    bool holdShows = false;

    void launch()
    {
        auto bar = std::make_unique<fakes::FakeStatusBar>();
        statusBar = bar.get();
        delegate = std::make_unique<AppDelegate>(
            std::move(bar),
            [this] {
                auto made = std::make_unique<RecordingController>([this] {
                    QMainWindow* w = delegate->window();
                    events << QStringLiteral("controller start-up");
                    events << (w->isVisible() ? QStringLiteral("window visible") : QStringLiteral("window hidden"));
                    events << (w->property("frameAutosaveName").isValid() ? QStringLiteral("autosave set")
                                                                         : QStringLiteral("no autosave yet"));
                });
                made->holdsShow = holdShows;
                return made;
            },
            userInfo, prefs, center);
        delegate->setRedirectsLog(false);
        delegate->applicationDidFinishLaunching();
    }

    RecordingController& controller() { return *static_cast<RecordingController*>(delegate->homeVC()); }
};

void settle(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool onAnyScreen(const QRect& frame)
{
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen->geometry().intersects(frame))
            return true;
    }
    return false;
}

TEST_F(AppDelegateTest, ControllerStartsUpBeforeTheWindowIsCentredAndNamed)
{
    launch();
    EXPECT_EQ(events, (QStringList{"controller start-up", "window hidden", "no autosave yet"}));
    QMainWindow* w = delegate->window();
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->property("frameAutosaveName").toString(), QStringLiteral("HomeWindowAutoSaveName"));
    EXPECT_EQ(w->size(), QSize(640, 400));
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((w->frameGeometry().center() - centre).manhattanLength(), 8); // frame margins are known only once shown
    EXPECT_EQ(static_cast<RecordingController*>(delegate->homeVC())->reads, 1);
}

TEST_F(AppDelegateTest, BackgroundModeClosesTheWindowAndTheMenuBringsItBack)
{
    userInfo.webConfig().setBackgroundMode(1);
    launch();
    EXPECT_FALSE(delegate->window()->isVisible());
    ASSERT_EQ(statusBar->aliveCount(), 1);
    const auto& menu = statusBar->items().back()->menu;
    ASSERT_EQ(menu.size(), 2);
    menu[0].action();
    EXPECT_TRUE(delegate->window()->isVisible());
    // Reopening while the window is visible changes nothing.
    EXPECT_TRUE(delegate->applicationShouldHandleReopen(true));
    delegate->hideApp();
    EXPECT_TRUE(delegate->applicationShouldHandleReopen(false));
    EXPECT_TRUE(delegate->window()->isVisible());
}

TEST_F(AppDelegateTest, StatusItemHasTwoEntriesAndIsReplacedNotAdded)
{
    launch();
    ASSERT_EQ(statusBar->items().size(), 1u);
    const auto& first = *statusBar->items().front();
    EXPECT_TRUE(first.highlighted);
    EXPECT_TRUE(first.hasIcon);
    ASSERT_EQ(first.menu.size(), 2);
    EXPECT_TRUE(first.menu[0].keyEquivalent.isEmpty());
    delegate->addStatusItem();
    EXPECT_EQ(statusBar->items().size(), 2u);
    EXPECT_EQ(statusBar->aliveCount(), 1);
    EXPECT_FALSE(statusBar->items().front()->alive);
}

TEST(AppDelegateLog, FileNameAndHeaderUseTheCalendarYear)
{
    // 30 December 2024 lies in week 1 of 2025; the name must still say 2024.
    const QDateTime t(QDate(2024, 12, 30), QTime(7, 5, 9));
    EXPECT_EQ(AppDelegate::logFileName(t), QStringLiteral("log_20241230_070509.log"));
    EXPECT_EQ(AppDelegate::logHeader(t), QStringLiteral("Run log: 2024-12-30 07:05:09\n\n"));
}

// Runs in a child process whose standard output is a pipe (see below).
TEST(AppDelegateLog, ChildRedirectsItsStreams)
{
    if (qEnvironmentVariableIsEmpty("PRAVIK_LOG_CHILD"))
        GTEST_SKIP() << "only runs as the child of RedirectionInAChildProcess";
    AppDelegate::redirectLogToFile(QDateTime(QDate(2026, 12, 10), QTime(12, 0, 1)));
    std::printf("line on stdout\n");
    std::fprintf(stderr, "line on stderr\n");
    std::printf("second line on stdout\n");
    std::fflush(nullptr);
}

TEST(AppDelegateLog, RedirectionInAChildProcess)
{
    if (!qEnvironmentVariableIsEmpty("PRAVIK_LOG_CHILD"))
        GTEST_SKIP();
    QTemporaryDir home;
    for (int run = 0; run < 2; ++run) { // the second launch in the same second appends
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PRAVIK_LOG_CHILD"), QStringLiteral("1"));
        env.insert(QStringLiteral("PRAVIK_HOME"), home.path());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=AppDelegateLog.ChildRedirectsItsStreams")});
        ASSERT_TRUE(child.waitForFinished(30000));
        EXPECT_EQ(child.exitCode(), 0);
        // What was written after the redirection went to the file, not the pipe.
        EXPECT_FALSE(child.readAllStandardOutput().contains("line on stdout"));
    }
    QFile log(home.path() + QStringLiteral("/Documents/Log/log_20261210_120001.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    const QString header = QStringLiteral("Run log: 2026-12-10 12:00:01\n\n");
    EXPECT_TRUE(text.startsWith(header));
    EXPECT_EQ(text.count(header), 2);
    EXPECT_EQ(text.count(QStringLiteral("line on stdout\n")), 4);
    EXPECT_EQ(text.count(QStringLiteral("line on stderr\n")), 2);
    // Lines of the two streams are never written over each other.
    EXPECT_LT(text.indexOf(QStringLiteral("line on stdout")), text.indexOf(QStringLiteral("line on stderr")));
}

} // namespace

// Until its page has drawn, the window waits beyond every screen; the frame
// autosave stores only the frame where it then appears, never the waiting
// one, even when the window is closed or the program ends while it waits.
TEST_F(AppDelegateTest, TheWindowWaitsOffScreenForItsPageAndItsFrameIsNeverSavedThere)
{
    const QString key = QStringLiteral("Window Frame HomeWindowAutoSaveName");
    holdShows = true;
    launch();
    QMainWindow* w = delegate->window();
    ASSERT_EQ(controller().heldShows.size(), 1u);
    EXPECT_FALSE(delegate->isWindowOnScreen());
    EXPECT_TRUE(w->isVisible()) << "shown, so that its page draws";
    EXPECT_FALSE(onAnyScreen(w->frameGeometry()));
    settle(500); // longer than the autosave waits after a move
    EXPECT_FALSE(prefs.value(key).isValid()) << "the waiting frame is not stored";

    controller().heldShows.front()();
    EXPECT_TRUE(delegate->isWindowOnScreen());
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((w->frameGeometry().center() - centre).manhattanLength(), 8);
    settle(500);
    const QVariantList saved = prefs.value(key).toList();
    ASSERT_EQ(saved.size(), 4);
    EXPECT_TRUE(onAnyScreen(QRect(saved[0].toInt(), saved[1].toInt(), saved[2].toInt(), saved[3].toInt())));

    // Closed, reopened and closed again while the page draws anew.
    const QVariant onScreen = prefs.value(key);
    delegate->hideApp();
    delegate->openApp();
    ASSERT_EQ(controller().heldShows.size(), 2u);
    EXPECT_FALSE(onAnyScreen(w->frameGeometry()));
    settle(500);
    delegate->hideApp();
    settle(100);
    EXPECT_EQ(prefs.value(key), onScreen) << "the frame the user last saw is kept";
}
