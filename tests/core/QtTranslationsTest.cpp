#include "core/QtTranslations.h"

#include "core/AppDelegate.h"
#include "core/KWLangManager.h"
#include "core/MMUserInfo.h"
#include "core/Notifications.h"
#include "fakes/FakeStatusBar.h"
#include "fakes/TempHome.h"
#include "platform/Preferences.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A delegate without a main-window controller: enough for its language hook.
class QtTranslationsTest : public ::testing::Test {
protected:
    fakes::TempHome home;
    platform::Preferences prefs { home.path() + QStringLiteral("/prefs.plist") };
    MMUserInfo userInfo { prefs };
    platform::NotificationCenter center;
    KWLangManager& languages = KWLangManager::sharedManager();
    const quint64 languageBefore = languages.indexOfUI();

    void SetUp() override
    {
        if (!QFile::exists(
                QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_zh_CN.qm")))
            GTEST_SKIP() << "Qt's translations are not installed (scripts/install-deps.sh)";
    }
    void TearDown() override { languages.setIndexOfUI(languageBefore); }

    std::unique_ptr<AppDelegate> makeDelegate()
    {
        return std::make_unique<AppDelegate>(
            std::make_unique<fakes::FakeStatusBar>(), nullptr, userInfo, prefs, center);
    }

    // What the user does in the settings page: choose, and the change is told.
    void chooseLanguage(quint64 index)
    {
        languages.setIndexOfUI(index);
        center.post(notifications::kHadChangeUILanguage);
        QCoreApplication::processEvents();
    }
};

struct ButtonCase {
    quint64 indexOfUI;
    const char* cancel;
};

TEST_F(QtTranslationsTest, OpenMessageBoxButtonsFollowTheChosenLanguage)
{
    languages.setIndexOfUI(1);
    auto delegate = makeDelegate();
    QMessageBox box(QMessageBox::Question, QStringLiteral("t"), QStringLiteral("q"),
        QMessageBox::Ok | QMessageBox::Cancel);
    box.show();
    QCoreApplication::processEvents();
    ASSERT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("Cancel"));

    // Indonesian and Vietnamese have no Qt translation: English, never the
    // language chosen before.
    const ButtonCase cases[]
        = { { 0, "取消" }, { 2, "Cancel" }, { 4, "취소" }, { 3, "Cancel" }, { 0, "取消" }, { 1, "Cancel" } };
    for (const ButtonCase& c : cases) {
        chooseLanguage(c.indexOfUI);
        EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QString::fromUtf8(c.cancel))
            << "language " << c.indexOfUI;
        QMessageBox fresh(
            QMessageBox::Question, QStringLiteral("t"), QStringLiteral("q"), QMessageBox::Cancel);
        EXPECT_EQ(fresh.button(QMessageBox::Cancel)->text(), QString::fromUtf8(c.cancel))
            << "new box, language " << c.indexOfUI;
    }
}

TEST_F(QtTranslationsTest, StartsInTheStoredLanguageAndLeavesEnglishBehindWhenGone)
{
    languages.setIndexOfUI(0);
    {
        auto delegate = makeDelegate();
        QMessageBox box(QMessageBox::Question, QStringLiteral("t"), QStringLiteral("q"), QMessageBox::Cancel);
        EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("取消"));
    }
    QMessageBox after(QMessageBox::Question, QStringLiteral("t"), QStringLiteral("q"), QMessageBox::Cancel);
    EXPECT_EQ(after.button(QMessageBox::Cancel)->text(), QStringLiteral("Cancel"));
}

TEST(QtTranslationsFiles, NamesAndMissingFiles)
{
    EXPECT_EQ(QtTranslations::fileNameForLanguage(QStringLiteral("zh-Hans")), QStringLiteral("qtbase_zh_CN"));
    EXPECT_EQ(QtTranslations::fileNameForLanguage(QStringLiteral("ko")), QStringLiteral("qtbase_ko"));

    QtTranslations qt;
    QTemporaryDir empty;
    EXPECT_FALSE(qt.apply(QStringLiteral("ko"), empty.path()));
    EXPECT_FALSE(qt.apply(QString(), empty.path()));
    EXPECT_TRUE(qt.apply(QStringLiteral("en"), empty.path()));
    QMessageBox box(QMessageBox::Question, QStringLiteral("t"), QStringLiteral("q"), QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("Cancel"));
}

} // namespace
