#include "ui/PageViewLifetime.h"

#include "core/AppDelegate.h"
#include "core/HRPSqliteOperation.h"
#include "core/MMUserInfo.h"
#include "fakes/FakeStatusBar.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/Preferences.h"
#include "ui/ScriptMessageWebView.h"
#include "ui/UWHomeViewController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWidget>

#include <gtest/gtest.h>

namespace page_view_lifetime_test {

// The lifetime over a plain widget: what it builds and lets go, on virtual time.
class LifetimeTest : public ::testing::Test {
protected:
    fakes::VirtualTime time;
    QWidget window;
    int builds = 0;
    int releases = 0;
    int settles = 0;
    std::function<void()> ready; // the last built page's "loaded"
    PageViewLifetime lifetime { &window, time,
        [this](std::function<void()> loaded) {
            ++builds;
            ready = std::move(loaded);
        },
        [this] { ++releases; }, PageViewLifetime::kReleaseDelay, [this] { ++settles; } };
};

TEST_F(LifetimeTest, BuiltWhileShownLetGoAWhileAfterTheCloseAndBuiltAgainOnReopen)
{
    EXPECT_FALSE(lifetime.isBuilt()) << "nothing is built before a window shows the page";
    window.show();
    EXPECT_EQ(builds, 1);
    window.hide();
    time.advance(PageViewLifetime::kReleaseDelay - 1);
    EXPECT_EQ(releases, 0);
    window.show(); // reopened in time: the same page, no rebuild
    time.advance(PageViewLifetime::kReleaseDelay + 1);
    EXPECT_EQ(builds, 1);
    EXPECT_EQ(releases, 0);

    window.hide();
    time.advance(PageViewLifetime::kReleaseDelay);
    EXPECT_EQ(releases, 1);
    EXPECT_FALSE(lifetime.isBuilt());
    window.hide(); // a second close lets nothing go twice
    time.advance(PageViewLifetime::kReleaseDelay * 2);
    EXPECT_EQ(releases, 1);

    window.show();
    EXPECT_EQ(builds, 2);
    EXPECT_TRUE(lifetime.isBuilt());
}

TEST_F(LifetimeTest, AShowWaitsForThePageAndNeverForeverNorForAPageLetGo)
{
    int shows = 0;
    lifetime.whenReady([&] { ++shows; });
    EXPECT_EQ(builds, 1);
    EXPECT_EQ(shows, 0) << "the window waits until its page has loaded";
    ready();
    EXPECT_EQ(shows, 1);
    ready(); // a reload reports again: the show is not repeated
    EXPECT_EQ(shows, 1);
    lifetime.whenReady([&] { ++shows; });
    EXPECT_EQ(shows, 2) << "a loaded page shows at once";
    EXPECT_EQ(builds, 1);

    window.show();
    window.hide();
    time.advance(PageViewLifetime::kReleaseDelay);
    ASSERT_EQ(releases, 1);
    const std::function<void()> stale = ready;
    lifetime.whenReady([&] { ++shows; });
    ASSERT_EQ(builds, 2);
    stale(); // the page let go answers late: not the new one
    EXPECT_EQ(shows, 2);
    time.advance(PageViewLifetime::kReadyTimeout); // the new page never answers
    EXPECT_EQ(shows, 3);
}

TEST_F(LifetimeTest, APageStillLoadingKeepsItsWindowWaitingAndAStalledOneDoesNot)
{
    int shows = 0;
    lifetime.whenReady([&] { ++shows; });
    time.advance(PageViewLifetime::kReadyTimeout - 1);
    lifetime.pageProgressed(); // a busy computer: slow, but loading
    time.advance(PageViewLifetime::kReadyTimeout - 1);
    EXPECT_EQ(shows, 0) << "shown now, the window would show an empty panel";
    time.advance(1); // no progress since: the page has stalled
    EXPECT_EQ(shows, 1);
    lifetime.pageProgressed();
    ready();
    time.advance(PageViewLifetime::kReadyTimeout * 2);
    EXPECT_EQ(shows, 1) << "shown once";

    window.show();
    window.hide();
    time.advance(PageViewLifetime::kReleaseDelay);
    lifetime.pageProgressed(); // a page let go: nothing to wait for
    lifetime.whenReady([&] { ++shows; });
    ready();
    EXPECT_EQ(shows, 2);
    time.advance(PageViewLifetime::kReadyTimeout * 2);
    EXPECT_EQ(shows, 2);
}

TEST_F(LifetimeTest, MemoryIsHandedBackAWhileAfterAReleaseAndNotWhileAPageIsBuiltAgain)
{
    window.show();
    window.hide();
    time.advance(PageViewLifetime::kReleaseDelay);
    ASSERT_EQ(releases, 1);
    time.advance(PageViewLifetime::kSettleDelay - 1);
    EXPECT_EQ(settles, 0) << "the engine is still tearing the page down";
    window.show(); // reopened: the engine's code is in use again
    time.advance(PageViewLifetime::kSettleDelay * 2);
    EXPECT_EQ(settles, 0);

    window.hide();
    time.advance(PageViewLifetime::kReleaseDelay + PageViewLifetime::kSettleDelay);
    EXPECT_EQ(releases, 2);
    EXPECT_EQ(settles, 1);
    time.advance(PageViewLifetime::kSettleDelay * 10);
    EXPECT_EQ(settles, 1) << "once per release";
}

bool waitFor(const std::function<bool()>& done, int milliseconds = 20000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < milliseconds) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

// The main window with its real controller and browser engine: the window
// appears with its page loaded, the engine goes after the close, and
// reopening builds it again.
class MainWindowPageTest : public ::testing::Test {
protected:
    fakes::TempHome home;
    platform::Preferences prefs { home.path() + QStringLiteral("/prefs.plist") };
    MMUserInfo userInfo { prefs };
    HRPSqliteOperation database { home.path() + QStringLiteral("/db.sqlite") };
    platform::NotificationCenter center;
    fakes::VirtualTime time;
    UWHomeViewController* controller = nullptr;
    QStringList sentScripts; // every page-function call, in order

    std::unique_ptr<AppDelegate> launch()
    {
        auto delegate = std::make_unique<AppDelegate>(
            std::make_unique<fakes::FakeStatusBar>(),
            [this] {
                UWHomeViewController::Environment environment;
                environment.mainQueue = &time;
                environment.pageCallSent = [this](const QString& script) { sentScripts << script; };
                auto made = std::make_unique<UWHomeViewController>(
                    database, UWHomeViewController::StartupHooks {}, center, environment);
                controller = made.get();
                return made;
            },
            userInfo, prefs, center);
        delegate->setRedirectsLog(false);
        delegate->applicationDidFinishLaunching();
        return delegate;
    }

    bool pageLoaded() const { return !sentScripts.isEmpty() && sentScripts.last().startsWith("init("); }
};

TEST_F(MainWindowPageTest, TheWindowShowsItsLoadedPageAndTheEngineGoesAfterTheClose)
{
    auto delegate = launch();
    QPointer<ScriptMessageWebView> first = controller->webView();
    ASSERT_NE(first, nullptr);
    QPointer<QWebEngineProfile> profile = first->page()->profile();
    EXPECT_TRUE(profile->isOffTheRecord()) << "the pages keep nothing of their own on disk";
    EXPECT_FALSE(delegate->isWindowOnScreen()) << "no empty panel before the page has drawn";
    ASSERT_TRUE(waitFor([&] { return delegate->isWindowOnScreen(); }));
    EXPECT_TRUE(pageLoaded());

    delegate->window()->close();
    time.advance(PageViewLifetime::kReleaseDelay);
    EXPECT_EQ(controller->webView(), nullptr);
    EXPECT_TRUE(first.isNull()) << "the web view and its page are let go";
    EXPECT_TRUE(profile.isNull()) << "and the engine's state for them with the view's own profile";

    controller->tableViewSelectionDidChange(2); // the new page starts on its first page: so does the menu
    delegate->openApp();
    ASSERT_NE(controller->webView(), nullptr);
    EXPECT_FALSE(delegate->isWindowOnScreen());
    EXPECT_EQ(controller->view()->markedRow(), 0);
    ASSERT_TRUE(waitFor([&] { return delegate->isWindowOnScreen(); }));
    EXPECT_TRUE(pageLoaded());
}

TEST_F(MainWindowPageTest, StartingInTheBackgroundBuildsNoPageUntilTheWindowIsOpened)
{
    userInfo.webConfig().setBackgroundMode(1);
    auto delegate = launch();
    EXPECT_FALSE(delegate->window()->isVisible());
    EXPECT_EQ(controller->webView(), nullptr) << "no browser engine for a window nobody has opened";
    time.advance(PageViewLifetime::kReleaseDelay * 2);
    EXPECT_EQ(controller->webView(), nullptr);

    delegate->openApp();
    ASSERT_NE(controller->webView(), nullptr);
    ASSERT_TRUE(waitFor([&] { return delegate->isWindowOnScreen(); }));
    EXPECT_TRUE(pageLoaded());
}

} // namespace page_view_lifetime_test
