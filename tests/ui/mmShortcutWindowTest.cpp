// The hot-key recorder: what it stores, what it refuses, and that the
// binding follows at once.
#include "core/KWLangManager.h"
#include "core/LGNLocalizedString.h"
#include "core/MMUserInfo.h"
#include "core/MMwebconfig.h"
#include "core/Notifications.h"
#include "fakes/FakeDragMonitor.h"
#include "fakes/FakeGlobalHotkey.h"
#include "fakes/FakeKeyPoster.h"
#include "fakes/FakePasteboard.h"
#include "fakes/VirtualTime.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"
#include "platform/UserNotices.h"
#include "translate/MMsnipTransWC.h"
#include "translate/Selection.h"
#include "translate/SnipTranslationLauncher.h"
#include "ui/mmShortcutWindow.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

namespace {

using platform::Hotkey;

class ShortcutRecorderTest : public ::testing::Test {
protected:
    void press(int key, Qt::KeyboardModifiers modifiers, const QString& text = {})
    {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(&window_, &event);
    }

    QTemporaryDir dir_;
    platform::Preferences prefs_ { dir_.filePath(QStringLiteral("defaults.plist")) };
    MMUserInfo user_ { prefs_ };
    MMwebconfig config_ { prefs_ };
    platform::NotificationCenter center_;
    mmShortcutWindow window_ { prefs_, config_, center_ };
};

TEST_F(ShortcutRecorderTest, AKeyWithModifiersIsStoredShownAndAnnouncedOnce)
{
    int announced = 0;
    platform::ObserverToken token
        = center_.addObserver(notifications::kHadNewOCRHotkey, [&](const platform::Notification&) { ++announced; });
    EXPECT_EQ(window_.shownHotkey(), QStringLiteral("Ctrl+3")) << "the default before anything is recorded";
    press(Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier, QStringLiteral("A"));
    EXPECT_EQ(SnipTranslationLauncher::storedHotkey(prefs_), (Hotkey { 0, Hotkey::kCommand | Hotkey::kShift }));
    EXPECT_EQ(config_.sec_ocr_ShortcutKey(), QStringLiteral("⇧ + ⌘ + A")) << "the settings keep their form";
    EXPECT_EQ(window_.shownHotkey(), QStringLiteral("Ctrl+Shift+A"));
    EXPECT_EQ(announced, 1);

    // Shift turns 3 into #, the key stays 3.
    press(Qt::Key_NumberSign, Qt::AltModifier | Qt::ShiftModifier, QStringLiteral("#"));
    EXPECT_EQ(SnipTranslationLauncher::storedHotkey(prefs_), (Hotkey { 20, Hotkey::kOption | Hotkey::kShift }));
    press(Qt::Key_F5, Qt::MetaModifier);
    EXPECT_EQ(config_.sec_ocr_ShortcutKey(), QStringLiteral("⌃ + F5"));
    EXPECT_EQ(announced, 3);

    // scripts/capture-demo.sh keeps a picture of the window.
    if (const QString demo = qEnvironmentVariable("PRAVIK_DEMO_DIR"); !demo.isEmpty()) {
        window_.show();
        window_.grab().save(demo + QStringLiteral("/hotkey-window.png"));
    }
}

TEST_F(ShortcutRecorderTest, KeysWithoutAModifierOrWithoutACodeAreRefused)
{
    int announced = 0;
    platform::ObserverToken token
        = center_.addObserver(notifications::kHadNewOCRHotkey, [&](const platform::Notification&) { ++announced; });
    press(Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    EXPECT_EQ(window_.hint(), LGNLocalizedString::lgnAppLocalizedString(mmShortcutWindow::kNeedsModifierHint));
    press(Qt::Key_Control, Qt::ControlModifier);
    press(Qt::Key_Print, Qt::ControlModifier);
    EXPECT_EQ(window_.hint(), LGNLocalizedString::lgnAppLocalizedString(mmShortcutWindow::kUnknownKeyHint));
    EXPECT_EQ(announced, 0);
    EXPECT_FALSE(prefs_.storedValues().contains(SnipTranslationLauncher::kShortcutKey));
}

// The window as a person meets it: centred, saying what to press, in the
// interface language; it closes when a key was taken, and Escape or Cancel
// close it without a change.
TEST_F(ShortcutRecorderTest, OpensCentredSaysWhatToPressAndClosesOnAKeyEscapeOrCancel)
{
    int announced = 0;
    platform::ObserverToken token
        = center_.addObserver(notifications::kHadNewOCRHotkey, [&](const platform::Notification&) { ++announced; });
    KWLangManager& languages = KWLangManager::sharedManager();
    const quint64 before = languages.indexOfUI();
    languages.setIndexOfUI(1);
    center_.post(notifications::kHadChangeUILanguage);
    EXPECT_EQ(window_.prompt(), QStringLiteral("Press the new hot key (for example Ctrl+3), or Esc to cancel."));
    EXPECT_EQ(window_.cancelButton()->text(), QStringLiteral("Cancel"));

    struct Case {
        const char* how;
        std::function<void()> act;
        bool stored;
    };
    const Case cases[] = {
        { "Escape", [&] { press(Qt::Key_Escape, Qt::NoModifier); }, false },
        { "Escape with a modifier", [&] { press(Qt::Key_Escape, Qt::ControlModifier); }, false },
        { "Cancel", [&] { window_.cancelButton()->click(); }, false },
        { "a key taken", [&] { press(Qt::Key_5, Qt::ControlModifier | Qt::AltModifier, QStringLiteral("5")); }, true },
    };
    for (const Case& c : cases) {
        window_.show();
        QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        ASSERT_TRUE(screen);
        const QPoint offset = window_.frameGeometry().center() - screen->availableGeometry().center();
        EXPECT_LE(offset.manhattanLength(), 2) << c.how << ": the window opens centred";
        EXPECT_TRUE(window_.isVisible()) << c.how;
        c.act();
        EXPECT_FALSE(window_.isVisible()) << c.how;
        EXPECT_EQ(prefs_.storedValues().contains(SnipTranslationLauncher::kShortcutKey), c.stored) << c.how;
        EXPECT_EQ(announced, c.stored ? 1 : 0) << c.how;
    }
    EXPECT_EQ(config_.sec_ocr_ShortcutKey(), QStringLiteral("⌥ + ⌘ + 5"));
    EXPECT_EQ(window_.shownHotkey(), QStringLiteral("Ctrl+Alt+5"));
    languages.setIndexOfUI(before);
}

TEST_F(ShortcutRecorderTest, TheNewKeyReplacesTheBoundOneAtOnce)
{
    platform::UserNotices::shared().resetForTesting();
    fakes::FakeGlobalHotkey hotkey;
    fakes::FakeDragMonitor drags;
    fakes::FakePasteboard pasteboard;
    fakes::FakeKeyPoster keys { &pasteboard };
    fakes::VirtualTime time;
    Selection selection { pasteboard, keys, time };
    SnipTranslationLauncher launcher({ prefs_, config_, hotkey, drags, selection, time, center_, [] {
                                          return std::unique_ptr<MMsnipTransWC>();
                                      } });
    launcher.start();
    ASSERT_EQ(hotkey.current(), SnipTranslationLauncher::kDefaultHotkey);
    press(Qt::Key_Y, Qt::ControlModifier, QStringLiteral("y"));
    EXPECT_EQ(hotkey.current(), (Hotkey { 16, Hotkey::kCommand }));
    EXPECT_FALSE(hotkey.press(SnipTranslationLauncher::kDefaultHotkey));
    platform::UserNotices::shared().resetForTesting();
}

} // namespace
