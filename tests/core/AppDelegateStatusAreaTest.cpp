#include "core/AppDelegate.h"
#include "core/MMUserInfo.h"
#include "fakes/FakeStatusBar.h"
#include "fakes/TempHome.h"
#include "platform/DesktopEntry.h"
#include "platform/DesktopEntryInstaller.h"
#include "platform/Preferences.h"

#include <QApplication>
#include <QFile>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

class PlainController : public MainContentController {
public:
    ~PlainController() override
    {
        if (view_ && !view_->parent())
            delete view_;
    }
    QWidget* view() override
    {
        if (!view_) {
            view_ = new QWidget();
            view_->resize(320, 200);
        }
        return view_;
    }

private:
    QWidget* view_ = nullptr;
};

// The application as main() sets it up: closing the last window alone does
// not end it.
class AppDelegateStatusArea : public ::testing::Test {
protected:
    void SetUp() override
    {
        quitOnLastWindowClosed_ = QGuiApplication::quitOnLastWindowClosed();
        QGuiApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { QGuiApplication::setQuitOnLastWindowClosed(quitOnLastWindowClosed_); }

    void launch(bool trayAvailable)
    {
        auto bar = std::make_unique<fakes::FakeStatusBar>(trayAvailable);
        statusBar = bar.get();
        delegate = std::make_unique<AppDelegate>(
            std::move(bar), [] { return std::make_unique<PlainController>(); }, userInfo, prefs, center);
        delegate->setRedirectsLog(false);
        delegate->applicationDidFinishLaunching();
    }

    // Closes the main window from inside a running event loop; true when the
    // application quit because of it.
    bool closingTheWindowQuits()
    {
        bool stillRunning = false;
        QTimer giveUp; // stopped with the function, so it never fires into a later test
        giveUp.setSingleShot(true);
        QObject::connect(&giveUp, &QTimer::timeout, [&] {
            stillRunning = true;
            QCoreApplication::exit(0);
        });
        giveUp.start(1500);
        QTimer::singleShot(0, delegate->window(), [this] { delegate->window()->close(); });
        QCoreApplication::exec();
        return !stillRunning;
    }

    fakes::TempHome home;
    platform::Preferences prefs { home.path() + QStringLiteral("/prefs.plist") };
    MMUserInfo userInfo { prefs };
    platform::NotificationCenter center;
    fakes::FakeStatusBar* statusBar = nullptr;
    std::unique_ptr<AppDelegate> delegate;

private:
    bool quitOnLastWindowClosed_ = true;
};

TEST_F(AppDelegateStatusArea, WithoutATrayClosingTheWindowQuits)
{
    launch(false);
    EXPECT_FALSE(delegate->hasStatusArea());
    EXPECT_TRUE(closingTheWindowQuits());
}

TEST_F(AppDelegateStatusArea, WithATrayClosingTheWindowOnlyHidesIt)
{
    launch(true);
    EXPECT_TRUE(delegate->hasStatusArea());
    EXPECT_FALSE(closingTheWindowQuits());
    EXPECT_FALSE(delegate->window()->isVisible());
}

TEST_F(AppDelegateStatusArea, WithoutATrayBackgroundModeLeavesTheWindowOpen)
{
    userInfo.webConfig().setBackgroundMode(1);
    launch(false);
    EXPECT_TRUE(delegate->window()->isVisible());
}

TEST_F(AppDelegateStatusArea, AClickOnTheTrayIconOpensTheWindowAndTheIconSaysWhatItIs)
{
    userInfo.webConfig().setBackgroundMode(1);
    launch(true);
    ASSERT_FALSE(delegate->window()->isVisible());
    const auto& item = *statusBar->items().back();
    EXPECT_EQ(item.toolTip, QStringLiteral("PraVik"));
    ASSERT_TRUE(item.primaryAction);
    item.primaryAction();
    EXPECT_TRUE(delegate->window()->isVisible());
}

TEST_F(AppDelegateStatusArea, TheWindowHasTheApplicationIcon)
{
    launch(true);
    EXPECT_FALSE(delegate->window()->windowIcon().isNull());
    EXPECT_FALSE(delegate->window()->windowIcon().availableSizes().isEmpty());
}

TEST(AppDelegateLauncher, InstallsALauncherForThisProgram)
{
    QTemporaryDir dataHome;
    ASSERT_TRUE(AppDelegate::installDesktopLauncher(dataHome.path()));
    const auto entry = platform::DesktopEntry::read(
        platform::DesktopEntryInstaller::entryPath(dataHome.path(), QStringLiteral("pravik")));
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->launchArguments(), QStringList { QCoreApplication::applicationFilePath() });
    EXPECT_EQ(entry->value(QStringLiteral("Icon")), QStringLiteral("pravik"));
    EXPECT_TRUE(QFile::exists(dataHome.path() + QStringLiteral("/icons/hicolor/64x64/apps/pravik.png")));
}

} // namespace
