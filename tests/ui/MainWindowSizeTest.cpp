// The main window's page follows the window: small windows keep every
// control reachable, large ones are filled. Pictures of both sizes are saved
// when PRAVIK_SHOT_DIR is set.
#include "core/AppDelegate.h"
#include "core/AppStyle.h"
#include "core/HRPSqliteOperation.h"
#include "core/KWLangManager.h"
#include "core/MMUserInfo.h"
#include "device/KeyEventTap.h"
#include "device/MMHidManager.h"
#include "device/MMpermissionCheck.h"
#include "fakes/FakeKeyTap.h"
#include "fakes/FakePermissions.h"
#include "fakes/FakeStatusBar.h"
#include "fakes/ScreenShot.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/Preferences.h"
#include "ui/MMpermiWC.h"
#include "ui/UWHomeViewController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QMainWindow>
#include <QPushButton>

#include <gtest/gtest.h>

namespace windowsize {

void settle(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// A control a person can reach: shown, not squeezed to nothing, and wholly
// inside the window.
::testing::AssertionResult reachable(const QWidget* widget, const QWidget* window)
{
    if (!widget || !widget->isVisible())
        return ::testing::AssertionFailure() << "not shown";
    const QRect rect(widget->mapTo(window, QPoint(0, 0)), widget->size());
    if (rect.width() < 8 || rect.height() < 8 || !window->rect().contains(rect))
        return ::testing::AssertionFailure()
            << "at " << rect.x() << "," << rect.y() << " " << rect.width() << "x" << rect.height() << " in "
            << window->width() << "x" << window->height();
    return ::testing::AssertionSuccess();
}

class MainWindowSize : public ::testing::Test {
protected:
    fakes::TempHome home;
    platform::Preferences prefs { home.path() + QStringLiteral("/prefs.plist") };
    MMUserInfo user { prefs };
    HRPSqliteOperation database { home.path() + QStringLiteral("/db.sqlite") };
    platform::NotificationCenter center;
    fakes::VirtualTime time;
    fakes::FakePermissions permissions;
    fakes::FakeKeyTap keys;
    KeyEventTap tap { keys };
    MMHidManager classifier { user.webConfig(), time, time };
    UWHomeViewController* controller = nullptr;
    const quint64 languageBefore = KWLangManager::sharedManager().indexOfUI();

    ~MainWindowSize() override { KWLangManager::sharedManager().setIndexOfUI(languageBefore); }

    std::unique_ptr<AppDelegate> launch(bool webView)
    {
        // Pictures are taken in the interface language asked for.
        if (fakes::screenShotsWanted())
            KWLangManager::sharedManager().setIndexOfUI(fakes::screenShotLanguage());
        auto delegate = std::make_unique<AppDelegate>(
            std::make_unique<fakes::FakeStatusBar>(),
            [this, webView] {
                UWHomeViewController::Environment environment;
                environment.mainQueue = &time;
                environment.webView = webView;
                UWHomeViewController::StartupHooks hooks;
                hooks.makePermissionCheck = [this] {
                    return MMpermissionCheck::create({ permissions, tap, classifier, user.deviceInfo() });
                };
                auto made = std::make_unique<UWHomeViewController>(database, hooks, center, environment);
                controller = made.get();
                return made;
            },
            user, prefs, center);
        delegate->setRedirectsLog(false);
        delegate->applicationDidFinishLaunching();
        return delegate;
    }
};

TEST_F(MainWindowSize, SmallWindowsKeepEveryControlAndLargeOnesAreFilled)
{
    permissions.input = false; // the tip bar and its Grant Now button are shown
    const auto delegate = launch(fakes::screenShotsWanted());
    QMainWindow* window = delegate->window();
    ASSERT_NE(window, nullptr);
    if (MMpermiWC* guide = controller->linkGate().permissionWindow())
        guide->hide();
    ASSERT_TRUE(controller->view()->tipBarVisible());
    for (const QSize size : { QSize(640, 480), QSize(1440, 900) }) {
        window->showNormal();
        window->resize(size);
        window->move(0, 0); // wholly on the screen for the picture
        settle(fakes::screenShotsWanted() ? 1500 : 100);
        const std::string label = std::to_string(size.width()) + "x" + std::to_string(size.height());
        EXPECT_EQ(window->size(), size) << label << ": the window keeps the size it was given";
        QWidget* content = window->centralWidget();
        const QList<QPushButton*> buttons
            = content->findChildren<QPushButton*>(QStringLiteral("windowButton"));
        ASSERT_EQ(buttons.size(), 3);
        for (QPushButton* button : buttons)
            EXPECT_TRUE(reachable(button, window)) << label << " " << button->toolTip().toStdString();
        EXPECT_TRUE(reachable(content->findChild<QWidget*>(QStringLiteral("tipBar")), window)) << label;
        EXPECT_TRUE(reachable(content->findChild<QPushButton*>(QStringLiteral("tipButton")), window))
            << label;
        EXPECT_TRUE(reachable(content->findChild<QWidget*>(QStringLiteral("statusBox")), window)) << label;
        // Inside the main window the left column keeps the interface font.
        for (const char* name : { "leftMenu", "statusText", "versionLine" }) {
            QWidget* part = content->findChild<QWidget*>(QLatin1String(name));
            ASSERT_NE(part, nullptr) << name;
            EXPECT_EQ(QFontInfo(part->font()).family().toStdString(),
                QFontInfo(AppStyle::font()).family().toStdString())
                << name;
        }
        QWidget* page = content->findChild<QWidget*>(QStringLiteral("rightPanel"));
        ASSERT_TRUE(reachable(page, window)) << label;
        // The page fills the window up to its margin.
        const QRect pageRect(page->mapTo(window, QPoint(0, 0)), page->size());
        EXPECT_GE(pageRect.right(), window->width() - 14) << label;
        EXPECT_GE(pageRect.bottom(), window->height() - 14) << label;
        EXPECT_GE(pageRect.height(), 150) << label << ": room for the page, which scrolls";
        if (fakes::screenShotsWanted()) {
            EXPECT_FALSE(
                fakes::saveScreenShot(QStringLiteral("main-window-%1").arg(QString::fromStdString(label)))
                    .isEmpty());
        }
    }
}

TEST_F(MainWindowSize, PictureOfTheGuideWithoutAnAdapter)
{
    if (!fakes::screenShotsWanted())
        GTEST_SKIP() << "PRAVIK_SHOT_DIR is not set";
    permissions.input = false;
    permissions.bluetooth = false;
    const auto delegate = launch(false);
    delegate->window()->hide();
    MMpermiWC* guide = controller->linkGate().permissionWindow();
    ASSERT_NE(guide, nullptr);
    time.advance(1.0);
    guide->show();
    settle(800);
    EXPECT_FALSE(fakes::saveScreenShot(QStringLiteral("permission-guide-no-adapter")).isEmpty());
}

} // namespace windowsize
