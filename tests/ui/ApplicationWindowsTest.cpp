// The application's secondary windows, offscreen: the update check opens the
// update window only for a newer version, the recorder and the update window
// are made once while open and anew after closing, and the translation and
// Bluetooth requests reach their owners.
#include "ui/ApplicationWindows.h"

#include "core/KWLangManager.h"
#include "core/MMUserInfo.h"
#include "core/MMwebconfig.h"
#include "core/SHHttpManager.h"
#include "device/DeviceAlertPresenter.h"
#include "device/mmBleDebugWindow.h"
#include "fakes/FakeBackend.h"
#include "fakes/FakeDragMonitor.h"
#include "fakes/FakeGlobalHotkey.h"
#include "fakes/FakeKeyPoster.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeScreenGrabber.h"
#include "fakes/FakeWindowList.h"
#include "fakes/VirtualTime.h"
#include "platform/HttpClient.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"
#include "translate/MMsnipTransWC.h"
#include "translate/Selection.h"
#include "translate/SnipManager.h"
#include "translate/SnipTranslationLauncher.h"
#include "ui/ChatWindowPresenter.h"
#include "ui/MMupdateInfo.h"
#include "ui/MMupdateWindow.h"
#include "ui/mmChatWC.h"
#include "ui/mmShortcutWindow.h"
#include "voice/UWCmdService.h"

#include <QApplication>
#include <QPointer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace applicationwindowstest {

using fakes::FakeBackend;
using fakes::FakeHttpServer;

class CountedAlerts final : public DeviceAlertPresenter {
public:
    void presentAlert(const QString& messageText, const QString&, const QStringList&,
        std::function<void(int)> completion) override
    {
        titles << messageText;
        if (completion)
            completion(0);
    }
    QStringList titles;
};

class ApplicationWindowsTest : public ::testing::Test {
protected:
    ~ApplicationWindowsTest() override { snip.endCapture({}); }

    std::unique_ptr<ApplicationWindows> make()
    {
        return std::make_unique<ApplicationWindows>(ApplicationWindows::Services { chat, translation, user,
            commands, prefs, center, alerts,
            [this] {
                return std::make_unique<MMupdateInfo>(user, http, backend.baseUrl(), QStringLiteral("2.0.0"));
            },
            [this] { return backend.baseUrl(); },
            [this](double seconds) { bleRetries << seconds; } });
    }

    QTemporaryDir dir;
    platform::Preferences prefs { dir.filePath(QStringLiteral("defaults.plist")) };
    MMUserInfo user { prefs };
    MMwebconfig config { prefs };
    UWCmdService commands { &prefs };
    KWLangManager languages { prefs, { QStringLiteral("en-US") }, [] { return QStringLiteral("us"); } };
    SHHttpManager http { platform::HttpClient::shared() };
    FakeBackend backend;
    CountedAlerts alerts;
    fakes::FakeGlobalHotkey hotkey;
    fakes::FakeDragMonitor drags;
    fakes::FakeScreenGrabber grabber;
    fakes::FakeWindowList windowList;
    fakes::FakePasteboard pasteboard;
    fakes::FakeKeyPoster keys { &pasteboard };
    fakes::VirtualTime time;
    platform::NotificationCenter center;
    SnipManager snip { grabber, windowList, center, pasteboard, user };
    Selection selection { pasteboard, keys, time };
    // The chat window has its own tests; here it is never asked for.
    ChatWindowPresenter chat { [] { return std::unique_ptr<mmChatWC>(); }, time };
    SnipTranslationLauncher translation { { prefs, config, hotkey, drags, selection, time, center, [this] {
                                               return std::make_unique<MMsnipTransWC>(
                                                   MMsnipTransWC::Services { snip, selection, user, languages,
                                                       center, pasteboard, QString(), QString() });
                                           } } };
    QList<double> bleRetries;
};

TEST_F(ApplicationWindowsTest, TheStartUpCheckOpensTheUpdateWindowOnlyForANewerVersion)
{
    auto windows = make();
    backend.expectAppUpdate(
        FakeBackend::appUpdate(QStringLiteral("2.0.0"), QStringLiteral("https://e.com/2")));
    windows->checkVersion();
    ASSERT_TRUE(FakeHttpServer::waitUntil([&] { return user.neewVersion() == QStringLiteral("2.0.0"); }));
    QApplication::processEvents();
    EXPECT_FALSE(windows->updateWindow()) << "the same version opens nothing";
    EXPECT_TRUE(alerts.titles.isEmpty()) << "the start-up check tells nothing";

    backend.expectAppUpdate(
        FakeBackend::appUpdate(QStringLiteral("2.1.0"), QStringLiteral("https://e.com/3")));
    windows->checkVersion();
    ASSERT_TRUE(FakeHttpServer::waitUntil([&] { return windows->updateWindow() != nullptr; }));
    QPointer<MMupdateWindow> first = windows->updateWindow();
    EXPECT_TRUE(first->isVisible());

    // On demand, a newer version brings the open window forward; an
    // up-to-date one is told.
    backend.expectAppUpdate(
        FakeBackend::appUpdate(QStringLiteral("2.2.0"), QStringLiteral("https://e.com/4")));
    windows->checkNewVersion();
    ASSERT_TRUE(FakeHttpServer::waitUntil([&] { return user.neewVersion() == QStringLiteral("2.2.0"); }));
    QApplication::processEvents();
    EXPECT_EQ(windows->updateWindow(), first.data());

    // Closed, the window goes; the next newer answer makes a fresh one.
    first->close();
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(first);
    EXPECT_FALSE(windows->updateWindow());
    backend.expectAppUpdate(
        FakeBackend::appUpdate(QStringLiteral("1.0.0"), QStringLiteral("https://e.com/1")));
    windows->checkNewVersion();
    ASSERT_TRUE(FakeHttpServer::waitUntil([&] { return !alerts.titles.isEmpty(); }));
    EXPECT_FALSE(windows->updateWindow());
    EXPECT_TRUE(backend.problems().isEmpty()) << backend.problems().join(u'\n').toStdString();
}

TEST_F(ApplicationWindowsTest, TheRecorderOpensOnceAndAnewAfterClosing)
{
    auto windows = make();
    windows->showShortCutWindow();
    QPointer<mmShortcutWindow> recorder = windows->shortcutWindow();
    ASSERT_TRUE(recorder);
    EXPECT_TRUE(recorder->isVisible());
    windows->showShortCutWindow();
    EXPECT_EQ(windows->shortcutWindow(), recorder.data());
    recorder->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(recorder);
    windows->showShortCutWindow();
    ASSERT_TRUE(windows->shortcutWindow());
    EXPECT_TRUE(windows->shortcutWindow()->isVisible());
}

TEST_F(ApplicationWindowsTest, SelectionCancelAndBluetoothReachTheirOwners)
{
    auto windows = make();
    windows->setSelectionMonitor(true);
    EXPECT_TRUE(drags.isRunning());
    windows->setSelectionMonitor(false);
    EXPECT_FALSE(drags.isRunning());

    windows->showSnipTransWC();
    time.advance(SnipTranslationLauncher::kSnipDelaySeconds);
    EXPECT_TRUE(snip.isWorking());
    ASSERT_TRUE(translation.window());
    translation.window()->show();
    windows->cancelSnipTrans();
    EXPECT_FALSE(translation.window()->isVisible());

    windows->waitingForConnectMouseWithDaley(1.0);
    EXPECT_EQ(bleRetries, (QList<double> { 1.0 }));

    windows->showBleDebugWindow();
    ASSERT_TRUE(windows->bleDebugWindow());
    EXPECT_TRUE(windows->bleDebugWindow()->window()->isVisible());
}

} // namespace applicationwindowstest
