// Hot key, click function and drag monitor starting the translation
// windows, on virtual time with fake platform layers.
#include "core/KWLangManager.h"
#include "core/MMUserInfo.h"
#include "core/MMwebconfig.h"
#include "core/Notifications.h"
#include "fakes/FakeDragMonitor.h"
#include "fakes/FakeForegroundApplication.h"
#include "fakes/FakeGlobalHotkey.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeScreenGrabber.h"
#include "fakes/FakeWindowList.h"
#include "fakes/VirtualTime.h"
#include "platform/Preferences.h"
#include "platform/UserNotices.h"
#include "translate/MMsnipTransWC.h"
#include "translate/Selection.h"
#include "translate/SnipManager.h"
#include "translate/SnipTranslationLauncher.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using platform::Hotkey;

class LauncherTest : public ::testing::Test {
protected:
    LauncherTest() { platform::UserNotices::shared().resetForTesting(); }
    ~LauncherTest() override
    {
        snip_.endCapture({});
        platform::UserNotices::shared().resetForTesting();
    }

    std::unique_ptr<SnipTranslationLauncher> makeLauncher()
    {
        auto launcher = std::make_unique<SnipTranslationLauncher>(SnipTranslationLauncher::Services {
            prefs_, config_, hotkey_, drags_, selection_, time_, center_, [this] {
                ++windowsMade_;
                // No recognition or translation address: their requests
                // fail at once without leaving the machine.
                return std::make_unique<MMsnipTransWC>(MMsnipTransWC::Services {
                    snip_, selection_, user_, languages_, center_, pasteboard_, QString(), QString() });
            } });
        return launcher;
    }

    // The user selects text in another application with a drag.
    void selectByDrag(const QString& text)
    {
        pasteboard_.setText(text, platform::PasteboardKind::Selection);
        ASSERT_TRUE(drags_.drag());
        time_.advance(SnipTranslationLauncher::kSelectionDelaySeconds);
    }

    QTemporaryDir dir_;
    platform::Preferences prefs_ { dir_.filePath(QStringLiteral("defaults.plist")) };
    MMUserInfo user_ { prefs_ };
    MMwebconfig config_ { prefs_ };
    KWLangManager languages_ { prefs_, { QStringLiteral("en-US") }, [] { return QStringLiteral("us"); } };
    fakes::FakeGlobalHotkey hotkey_;
    fakes::FakeDragMonitor drags_;
    fakes::FakeScreenGrabber grabber_;
    fakes::FakeWindowList windows_;
    fakes::FakePasteboard pasteboard_;
    fakes::VirtualTime time_;
    fakes::FakeForegroundApplication app_ { pasteboard_, time_ };
    platform::NotificationCenter center_;
    SnipManager snip_ { grabber_, windows_, center_, pasteboard_, user_ };
    Selection selection_ { pasteboard_, app_, time_ };
    int windowsMade_ = 0;
};

TEST_F(LauncherTest, FreshInstallBindsCommand3AndAPressStartsACaptureAfterTheWindowCloses)
{
    grabber_.setDesktop(QImage(2000, 2000, QImage::Format_RGB32));
    auto launcher = makeLauncher();
    launcher->start();
    ASSERT_TRUE(hotkey_.current());
    EXPECT_EQ(*hotkey_.current(), (Hotkey { 20, Hotkey::kCommand }));
    EXPECT_EQ(hotkey_.current()->displayText(), QStringLiteral("⌘ + 3"));
    EXPECT_FALSE(prefs_.storedValues().contains(SnipTranslationLauncher::kShortcutKey)) << "registered, not written";

    ASSERT_TRUE(hotkey_.press({ 20, Hotkey::kCommand }));
    EXPECT_FALSE(snip_.isWorking());
    time_.advance(SnipTranslationLauncher::kSnipDelaySeconds);
    EXPECT_TRUE(snip_.isWorking());
    EXPECT_TRUE(snip_.snipCallback());
    EXPECT_EQ(windowsMade_, 1);

    // A cancelled capture hides the window; the click function (through the
    // main window) starts the same sequence again with the same window.
    snip_.endCapture({});
    ASSERT_TRUE(launcher->window());
    launcher->window()->show();
    launcher->cancelSnipTrans();
    EXPECT_FALSE(launcher->window()->isVisible());
    launcher->showSnipTransWC();
    time_.advance(SnipTranslationLauncher::kSnipDelaySeconds);
    EXPECT_TRUE(snip_.isWorking());
    EXPECT_EQ(windowsMade_, 1);
}

TEST_F(LauncherTest, ANewKeyFromTheRecorderReplacesTheOldOneAtOnce)
{
    auto launcher = makeLauncher();
    launcher->start();
    const Hotkey recorded { 0 /* A */, Hotkey::kCommand | Hotkey::kShift };
    SnipTranslationLauncher::storeHotkey(prefs_, recorded);
    center_.post(notifications::kHadNewOCRHotkey);
    EXPECT_EQ(SnipTranslationLauncher::storedHotkey(prefs_), recorded);
    EXPECT_FALSE(hotkey_.press({ 20, Hotkey::kCommand }));
    EXPECT_TRUE(hotkey_.press(recorded));
}

TEST_F(LauncherTest, AKeyHeldByAnotherProgramIsReported)
{
    hotkey_.setTaken({ { 20, Hotkey::kCommand } });
    auto launcher = makeLauncher();
    launcher->start();
    const auto notices = platform::UserNotices::shared().pending();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(notices[0].text.contains(QStringLiteral("Ctrl+3")));
    EXPECT_TRUE(notices[0].text.contains(QStringLiteral("another program")));

    hotkey_.setAvailable(false);
    SnipTranslationLauncher::storeHotkey(prefs_, { 1, Hotkey::kOption });
    launcher->registerHotKey();
    EXPECT_EQ(platform::UserNotices::shared().pending().size(), 2u);
}

TEST_F(LauncherTest, UnreadableStoredKeysFallBackToTheDefault)
{
    for (const QVariant& stored : { QVariant(QStringLiteral("garbage")), QVariant(QVariantMap { { QStringLiteral("keyCode"), -4 } }),
             QVariant(QVariantMap { { QStringLiteral("keyCode"), 3 }, { QStringLiteral("modifierFlags"), 1e30 } }) }) {
        prefs_.setValue(SnipTranslationLauncher::kShortcutKey, stored);
        EXPECT_EQ(SnipTranslationLauncher::storedHotkey(prefs_), SnipTranslationLauncher::kDefaultHotkey);
    }
}

TEST_F(LauncherTest, TheSwitchOffLeavesTheMonitorOut)
{
    config_.setSec_huaciOpen(0);
    auto launcher = makeLauncher();
    launcher->start();
    EXPECT_EQ(drags_.starts(), 0);
    EXPECT_FALSE(drags_.drag());
}

TEST_F(LauncherTest, ADragTranslatesItsSelectionOnceAndTheSameSelectionNotAgain)
{
    config_.setSec_huaciOpen(1);
    auto launcher = makeLauncher();
    launcher->start();
    ASSERT_TRUE(drags_.isRunning());

    selectByDrag(QStringLiteral("first"));
    ASSERT_NE(launcher->window(), nullptr);
    EXPECT_EQ(launcher->window()->sourceText(), QStringLiteral("first"));
    EXPECT_FALSE(launcher->window()->isSniping());

    launcher->window()->setSourceText(QStringLiteral("untouched"));
    selectByDrag(QStringLiteral("first"));
    EXPECT_EQ(launcher->window()->sourceText(), QStringLiteral("untouched")) << "the same selection twice";

    selectByDrag(QStringLiteral("second"));
    EXPECT_EQ(launcher->window()->sourceText(), QStringLiteral("second"));
    selectByDrag(QStringLiteral("first"));
    EXPECT_EQ(launcher->window()->sourceText(), QStringLiteral("first"));

    // Several drag ends in quick succession read the selection once.
    launcher->window()->setSourceText(QStringLiteral("untouched"));
    pasteboard_.setText(QStringLiteral("third"), platform::PasteboardKind::Selection);
    for (int i = 0; i < 5; ++i) {
        drags_.drag();
        time_.advance(0.05);
    }
    EXPECT_EQ(launcher->window()->sourceText(), QStringLiteral("untouched"));
    time_.advance(SnipTranslationLauncher::kSelectionDelaySeconds);
    EXPECT_EQ(launcher->window()->sourceText(), QStringLiteral("third"));

    launcher->endGlobalEventMonitor();
    EXPECT_FALSE(drags_.isRunning());
}

TEST_F(LauncherTest, OverlappingDragsTranslateEachSelectionAndNeverTheClipboard)
{
    config_.setSec_huaciOpen(1);
    auto launcher = makeLauncher();
    launcher->start();
    // No primary selection: each selection is read by a copy.
    pasteboard_.setText(QStringLiteral("my password 1234"));

    app_.select(QStringLiteral("first"));
    ASSERT_TRUE(drags_.drag());
    time_.advance(0.3);
    app_.select(QStringLiteral("second"));
    ASSERT_TRUE(drags_.drag());
    // The first copy has been read; the second one has the clipboard now.
    time_.advance(SnipTranslationLauncher::kSelectionDelaySeconds + Selection::kCopyDelaySeconds - 0.3 + 0.02);
    ASSERT_NE(launcher->window(), nullptr);
    EXPECT_EQ(launcher->window()->sourceText(), QStringLiteral("first"));

    time_.advance(2);
    EXPECT_EQ(launcher->window()->sourceText(), QStringLiteral("second"));
    EXPECT_EQ(launcher->selectionText(), QStringLiteral("second"));
    EXPECT_EQ(pasteboard_.text(), QStringLiteral("my password 1234"));
    EXPECT_EQ(app_.copies(), 2);
}

} // namespace
