// Every secondary window that is open changes language with the interface,
// texts it set in answer to the user (a hint, what a button found) included.
#include "core/KWLangManager.h"
#include "core/MMUserInfo.h"
#include "core/MMwebconfig.h"
#include "core/Notifications.h"
#include "device/KeyEventTap.h"
#include "device/MMHidManager.h"
#include "device/MMpermissionCheck.h"
#include "fakes/FakeKeyTap.h"
#include "fakes/FakePermissions.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"
#include "ui/MMpermiWC.h"
#include "ui/MMupdateWindow.h"
#include "ui/mmShortcutWindow.h"
#include "voice/UWCmdService.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>

#include <functional>
#include <gtest/gtest.h>

namespace {

class OpenWindowsLanguageTest : public ::testing::Test {
protected:
    ~OpenWindowsLanguageTest() override { KWLangManager::sharedManager().setIndexOfUI(languageBefore_); }

    // The home first: the shared language choice is made under it when this
    // test is the first to ask for it, never in the real user's settings.
    fakes::TempHome home_;
    const quint64 languageBefore_ = KWLangManager::sharedManager().indexOfUI();
    platform::Preferences prefs_ { home_.path() + QStringLiteral("/defaults.plist") };
    MMUserInfo user_ { prefs_ };
    MMwebconfig config_ { prefs_ };
    UWCmdService commands_ { &prefs_ };
    fakes::VirtualTime time_;
    fakes::FakePermissions permissions_;
    fakes::FakeKeyTap keys_;
    KeyEventTap tap_ { keys_ };
    MMHidManager classifier_ { user_.webConfig(), time_, time_ };
    // The windows hear the language change where the application posts it.
    platform::NotificationCenter& center_ = platform::NotificationCenter::defaultCenter();
};

TEST_F(OpenWindowsLanguageTest, EveryOpenWindowFollowsALanguageChange)
{
    mmShortcutWindow recorder(prefs_, config_, center_);
    user_.setNeewVersion(QStringLiteral("3.1.0"));
    MMupdateWindow update(user_, commands_);
    permissions_.bluetooth = false;
    MMpermiWC guide(
        [this] {
            return MMpermissionCheck::create({ permissions_, tap_, classifier_, user_.deviceInfo() });
        },
        time_, center_);
    for (QWidget* window :
        { static_cast<QWidget*>(&recorder), static_cast<QWidget*>(&update), static_cast<QWidget*>(&guide) })
        window->show();
    // Answers to the user: a key without a modifier, Bluetooth looked for again.
    QKeyEvent plainKey(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(&recorder, &plainKey);
    guide.addBtnAction(1);

    struct Case {
        const char* window;
        std::function<QStringList()> texts;
        QStringList chinese, english;
    };
    const Case cases[] = {
        { "hot-key recorder",
            [&] {
                return QStringList { recorder.windowTitle(), recorder.prompt(),
                    recorder.cancelButton()->text(), recorder.hint() };
            },
            { "设置截屏翻译快捷键", "按下新的快捷键（例如 Ctrl+3），按 Esc 取消。", "取消",
                "请同时按住 Ctrl、Alt、Shift 或 Super 键。" },
            { "Set Screenshot Translation Shortcut",
                "Press the new hot key (for example Ctrl+3), or Esc to cancel.", "Cancel",
                "Hold Ctrl, Alt, Shift or Super with the key." } },
        { "update window",
            [&] {
                return QStringList { update.windowTitle(), update.jumpButton()->text(),
                    update.donwLoadButton()->text() };
            },
            { "版本更新", "跳过此版本", "下载" }, { "Software Update", "Skip This Version", "Download" } },
        { "permission guide",
            [&] {
                return QStringList { guide.windowTitle(), guide.rowView(0).title, guide.rowView(0).action,
                    guide.rowView(1).action, guide.rowView(1).result };
            },
            { "权限管理", "输入设备", "启用", "重新检查",
                "仍然没有找到蓝牙适配器，或蓝牙服务没有运行。请按上面的说明操作，然后重新检查。" },
            { "Permissions", "Input Devices", "Enable", "Check again",
                "Still no Bluetooth adapter was found, or the Bluetooth service is not running. Follow the "
                "steps "
                "above, then check again." } },
    };
    for (const quint64 language : { quint64(1), quint64(0), quint64(1) }) {
        KWLangManager::sharedManager().setIndexOfUI(language);
        center_.post(notifications::kHadChangeUILanguage);
        for (const Case& c : cases) {
            EXPECT_EQ(c.texts(), language == 0 ? c.chinese : c.english)
                << c.window << " in language " << language;
        }
    }
}

} // namespace
