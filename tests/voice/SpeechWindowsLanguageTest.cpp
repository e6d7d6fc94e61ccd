// The speech windows change language with the interface while they are open:
// texts made of interface strings are composed again, the words a person
// spoke stay as they were recognised.
#include "core/KWLangManager.h"
#include "core/LGNLocalizedString.h"
#include "core/Notifications.h"
#include "core/UWSanboxFileManager.h"
#include "fakes/ScreenShot.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"
#include "voice/MMAudioObjectManager.h"
#include "voice/UWSpeechViewShow.h"
#include "voice/UWTipsViewShow.h"
#include "voice/mmSpeechViewWC.h"

#include <QFontMetrics>
#include <QLabel>
#include <QTextEdit>
#include <QWidget>

#include <functional>
#include <gtest/gtest.h>

namespace {

class SpeechWindowsLanguageTest : public ::testing::Test {
protected:
    ~SpeechWindowsLanguageTest() override { KWLangManager::sharedManager().setIndexOfUI(languageBefore_); }

    void changeLanguage(quint64 index)
    {
        KWLangManager::sharedManager().setIndexOfUI(index);
        center_.post(notifications::kHadChangeUILanguage);
    }

    // The home first: the shared language choice is made under it when this
    // test is the first to ask for it, never in the real user's settings.
    fakes::TempHome home_;
    const quint64 languageBefore_ = KWLangManager::sharedManager().indexOfUI();
    fakes::VirtualTime time_;
    platform::Preferences defaults_ { home_.path() + QStringLiteral("/defaults.plist") };
    MMAudioObjectManager recorder_ { time_, UWSanboxFileManager::sharedManager() };
    platform::NotificationCenter center_;
    mmSpeechViewWC speech_ { time_, defaults_, recorder_, center_ };
    UWTipsViewShow tips_ { time_, center_ };
    UWSpeechViewShow overlay_ { time_, recorder_, center_ };
};

TEST_F(SpeechWindowsLanguageTest, OpenWindowsFollowTheInterfaceLanguageAndSpokenWordsStay)
{
    struct Case {
        const char* text;
        std::function<void(LocalizedText)> showComposed;
        std::function<void(const QString&)> showWords;
        std::function<QString()> shown;
    };
    const Case cases[] = {
        { "dictation window label", [&](LocalizedText t) { speech_.languageLabel(std::move(t)); },
            [&](const QString& words) { speech_.languageLabel(words); },
            [&] { return speech_.languageLabel()->text(); } },
        { "dictation window text", [&](LocalizedText t) { speech_.windowText(std::move(t)); },
            [&](const QString& words) { speech_.windowText(words); },
            [&] { return speech_.fromTextView()->toPlainText(); } },
        { "tip", [&](LocalizedText t) { tips_.showTextWithString(std::move(t)); },
            [&](const QString& words) { tips_.showTextWithString(words); },
            [&] { return tips_.tipTextView()->text(); } },
        { "overlay", [&](LocalizedText t) { overlay_.showSpeechView(std::move(t)); },
            [&](const QString& words) { overlay_.showSpeechView(words); },
            [&] { return overlay_.tipTextView()->text(); } },
        { "overlay prompt", [&](LocalizedText t) { overlay_.changePromptString(std::move(t)); },
            [&](const QString& words) { overlay_.changePromptString(words); },
            [&] { return overlay_.tipTextView()->text(); } },
        { "overlay finish", [&](LocalizedText t) { overlay_.dismissWithFinishString(std::move(t), 10); },
            [&](const QString& words) { overlay_.dismissWithFinishString(words, 10); },
            [&] { return overlay_.tipTextView()->text(); } },
    };
    speech_.showWindow();
    const QString words = QStringLiteral("今天天气很好");
    for (const Case& c : cases) {
        changeLanguage(0);
        c.showComposed([] {
            return QStringLiteral("%1: %2").arg(
                LGNLocalizedString::lgnAppLocalizedString(QStringLiteral("语音打字")),
                LGNLocalizedString::lgnAppLocalizedString(QStringLiteral("普通话")));
        });
        EXPECT_EQ(c.shown(), QStringLiteral("语音打字: 普通话")) << c.text;
        changeLanguage(1);
        EXPECT_EQ(c.shown(), QStringLiteral("Voice Typing: Mandarin")) << c.text;
        changeLanguage(4);
        EXPECT_EQ(c.shown(), QStringLiteral("음성 입력: 표준 중국어")) << c.text;

        // Recognised words replace the composed text and keep their language.
        c.showWords(words);
        changeLanguage(1);
        EXPECT_EQ(c.shown(), words) << c.text;
    }
    EXPECT_TRUE(speech_.window()->isVisible());
    EXPECT_TRUE(tips_.speechWindow()->isVisible());
    EXPECT_TRUE(overlay_.speechWindow()->isVisible());
}

// A text longer than the Chinese one it was written for shows whole: smaller
// and wrapped where it must, at full size where it fits.
TEST_F(SpeechWindowsLanguageTest, LongTextsFitTheTipAndTheOverlay)
{
    const struct {
        const char* window;
        const char* text;
        bool fullSize;
    } cases[] = {
        { "tip", "语音键功能: 语音翻译", true },
        { "tip", "Voice key function: Voice Translation", false },
        { "tip", "Chức năng phím giọng nói: Dịch giọng nói", false },
        { "overlay", "正在聆听", true },
        { "overlay", "Please check your network", false },
    };
    for (const auto& c : cases) {
        const QString text = QString::fromUtf8(c.text);
        const bool tip = QLatin1String(c.window) == QLatin1String("tip");
        if (tip)
            tips_.showTextWithString(text);
        else
            overlay_.showSpeechView(text);
        const QLabel* label = tip ? tips_.tipTextView() : overlay_.tipTextView();
        const QRect room = label->contentsRect();
        const QRect needed = QFontMetrics(label->font())
                                 .boundingRect(room, int(label->alignment()) | Qt::TextWordWrap, text);
        EXPECT_EQ(label->text(), text) << c.text;
        EXPECT_LE(needed.width(), room.width()) << c.text;
        EXPECT_LE(needed.height(), room.height()) << c.text;
        EXPECT_EQ(label->font().pixelSize() == (tip ? 21 : 20), c.fullSize) << c.text;
        EXPECT_GE(label->font().pixelSize(), 12) << c.text;
    }
}

// Pictures of the speech windows for people to look at
// (scripts/window-shots.sh), in the interface language asked for: the
// dictation window with its label, words and level beside the tip, then
// beside the overlay (the tip and the overlay share a corner).
TEST_F(SpeechWindowsLanguageTest, PicturesOfTheSpeechWindows)
{
    if (!fakes::screenShotsWanted())
        GTEST_SKIP() << "PRAVIK_SHOT_DIR is not set";
    changeLanguage(fakes::screenShotLanguage());
    const auto tr
        = [](const char* key) { return LGNLocalizedString::lgnAppLocalizedString(QString::fromUtf8(key)); };
    speech_.showWindow();
    speech_.languageLabel([&] { return QStringLiteral("%1: %2").arg(tr("语音打字"), tr("普通话")); });
    speech_.windowText(QStringLiteral("今天下午三点在三楼会议室开会，请大家准时参加。"));
    speech_.changeVolumeLevel(55);
    tips_.showTextWithString([&] { return QStringLiteral("%1: %2").arg(tr("语音键功能"), tr("语音翻译")); });
    EXPECT_FALSE(fakes::saveScreenShot(QStringLiteral("speech-window-and-tip")).isEmpty());
    tips_.dismissSpeechView();
    overlay_.showSpeechView([&] { return tr("请检查网络"); });
    overlay_.changePromptImgByType(UWSpeechViewShow::kPromptHeld);
    overlay_.getAudioDecibelValue(62);
    EXPECT_FALSE(fakes::saveScreenShot(QStringLiteral("speech-window-and-overlay")).isEmpty());
}

} // namespace
