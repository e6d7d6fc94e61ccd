// Every window wears the main window's look: its font, colours, spacing and
// button shapes, drawn by the real widgets offscreen.
#include "core/AppStyle.h"
#include "core/KWLangManager.h"
#include "core/LGNLocalizedString.h"
#include "core/MMUserInfo.h"
#include "core/NoticeTexts.h"
#include "core/MMwebconfig.h"
#include "device/MessageBoxAlertPresenter.h"
#include "fakes/ScreenShot.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"
#include "ui/MMupdateWindow.h"
#include "ui/mmShortcutWindow.h"
#include "voice/UWCmdService.h"

#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace appstyle {

// The colour a button is filled with, read beside its left edge halfway
// down, and whether its corner is rounded off (the corner pixel is not the fill).
struct ButtonLook {
    QColor fill;
    bool rounded = false;
};

ButtonLook lookOf(QPushButton* button)
{
    // Taken from the window, so the corner shows what lies behind the button.
    QWidget* window = button->window();
    const QImage image = window->grab(QRect(button->mapTo(window, QPoint(0, 0)), button->size())).toImage();
    const qreal ratio = image.devicePixelRatio();
    const QColor fill = image.pixelColor(int(3 * ratio), image.height() / 2);
    return { fill, image.pixelColor(0, 0) != fill };
}

class AppStyleTest : public ::testing::Test {
protected:
    QTemporaryDir dir_;
    platform::Preferences prefs_ { dir_.filePath(QStringLiteral("defaults.plist")) };
    MMUserInfo user_ { prefs_ };
    MMwebconfig config_ { prefs_ };
    UWCmdService commands_ { &prefs_ };
    platform::NotificationCenter center_;

    static void expectTheLook(QWidget* window, const char* name)
    {
        window->show();
        QApplication::processEvents();
        EXPECT_EQ(window->font().families(), AppStyle::font().families()) << name;
        const QList<QPushButton*> buttons = window->findChildren<QPushButton*>();
        ASSERT_FALSE(buttons.isEmpty()) << name;
        for (QPushButton* button : buttons) {
            if (!button->isVisible())
                continue;
            const ButtonLook look = lookOf(button);
            const QColor expected = button->isDefault() ? AppStyle::kAccent : AppStyle::kAccentSoft;
            EXPECT_EQ(look.fill.name(), expected.name()) << name << ": " << button->text().toStdString();
            EXPECT_TRUE(look.rounded) << name << ": " << button->text().toStdString();
        }
        EXPECT_EQ(window->palette().color(QPalette::Window).name(), AppStyle::kSurface.name()) << name;
    }
};

TEST_F(AppStyleTest, TheRecorderTheUpdateWindowAndTheAlertsShareTheLook)
{
    mmShortcutWindow recorder(prefs_, config_, center_);
    expectTheLook(&recorder, "hot-key recorder");

    user_.setNeewVersion(QStringLiteral("3.1.0"));
    MMupdateWindow update(user_, commands_);
    expectTheLook(&update, "update window");

    MessageBoxAlertPresenter alerts;
    alerts.presentAlert(QStringLiteral("Title"), QStringLiteral("Text"), { QStringLiteral("OK"), QStringLiteral("Cancel") },
        [](int) {});
    QMessageBox* box = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* found = qobject_cast<QMessageBox*>(widget))
            box = found;
    }
    ASSERT_NE(box, nullptr);
    expectTheLook(box, "alert");
    box->close();
}

// Pictures for a person to look at (PRAVIK_SHOT_DIR; PRAVIK_SHOT_LANG picks
// the interface language).
TEST_F(AppStyleTest, PicturesOfTheSecondaryWindows)
{
    if (!fakes::screenShotsWanted())
        GTEST_SKIP() << "PRAVIK_SHOT_DIR is not set";
    const quint64 before = KWLangManager::sharedManager().indexOfUI();
    KWLangManager::sharedManager().setIndexOfUI(fakes::screenShotLanguage());
    const QString suffix = fakes::screenShotLanguageName();
    {
        mmShortcutWindow recorder(prefs_, config_, center_);
        recorder.move(40, 40);
        recorder.show();
        user_.setNeewVersion(QStringLiteral("3.1.0"));
        MMupdateWindow update(user_, commands_);
        update.move(480, 40);
        update.show();
        MessageBoxAlertPresenter alerts;
        alerts.presentAlert(LGNLocalizedString::lgnAppLocalizedString(QStringLiteral("使用手册")),
            NoticeTexts::manualNeedsBackend(QStringLiteral("PRAVIK_BACKEND_URL"), QStringLiteral("BackendBaseURL")),
            { LGNLocalizedString::lgnAppLocalizedString(QStringLiteral("确认")) }, [](int) {});
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget))
                box->move(40, 340);
        }
        EXPECT_FALSE(fakes::saveScreenShot(QStringLiteral("windows-") + suffix).isEmpty());
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget))
                box->close();
        }
    }
    KWLangManager::sharedManager().setIndexOfUI(before);
}

} // namespace appstyle
