#include "voice/UWSpeechViewShow.h"

#include "core/UWSanboxFileManager.h"
#include "fakes/ScreenShot.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "voice/MMAudioObjectManager.h"

#include <QCoreApplication>
#include <QLabel>
#include <QThread>
#include <QWidget>

#include <gtest/gtest.h>

#include <cmath>

namespace {

class UWSpeechViewShowTest : public ::testing::Test {
protected:
    fakes::TempHome home_;
    fakes::VirtualTime time_;
    MMAudioObjectManager recorder_ { time_, UWSanboxFileManager::sharedManager() };
    UWSpeechViewShow overlay_ { time_, recorder_ };
};

TEST_F(UWSpeechViewShowTest, ShowsTextWithoutTakingFocusAndDismissesAfterTheFinishText)
{
    EXPECT_TRUE(overlay_.isLast());
    EXPECT_FALSE(overlay_.isShow());
    overlay_.showSpeechView(QStringLiteral("Listening"), 0);
    QWidget* window = overlay_.speechWindow();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(overlay_.isLast());
    EXPECT_TRUE(overlay_.isShow());
    EXPECT_EQ(window->size(), QSize(UWSpeechViewShow::kWidth, UWSpeechViewShow::kHeight));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(window->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(overlay_.tipTextView()->text(), QStringLiteral("Listening"));
    EXPECT_FALSE(overlay_.volumeView()->isVisible());

    overlay_.dismissWithFinishString(QStringLiteral("Done"));
    EXPECT_EQ(overlay_.tipTextView()->text(), QStringLiteral("Done"));
    time_.advance(0.4);
    EXPECT_TRUE(window->isVisible());
    time_.advance(0.2);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(overlay_.isLast());
    EXPECT_FALSE(overlay_.isShow());
}

TEST_F(UWSpeechViewShowTest, ShowingAgainCancelsAPendingDismissalAndEmptyFinishTextDismissesAtOnce)
{
    overlay_.showSpeechView(QStringLiteral("a"));
    overlay_.dismissSpeechView(1.0);
    overlay_.showSpeechView(QStringLiteral("b"));
    time_.advance(2);
    EXPECT_TRUE(overlay_.speechWindow()->isVisible());
    overlay_.dismissWithFinishString(QString());
    EXPECT_FALSE(overlay_.speechWindow()->isVisible());
}

TEST_F(UWSpeechViewShowTest, LevelsAndPromptImages)
{
    const struct {
        int level;
        const char* image;
    } levels[] = { { 0, "level_0" }, { 30, "level_0" }, { 31, "level_3" }, { 59, "level_5" }, { 87, "level_8" },
        { 120, "level_8" }, { -5, "level_0" } };
    for (const auto& c : levels) {
        overlay_.changeVolumeLevel(c.level);
        EXPECT_EQ(overlay_.levelImageName(), QLatin1String(c.image)) << c.level;
    }
    overlay_.hideMicrophoneLevel();
    EXPECT_EQ(overlay_.levelImageName(), QStringLiteral("level_0"));

    EXPECT_EQ(overlay_.promptImageName(), QStringLiteral("SpeechLeft"));
    overlay_.changePromptImgByType(UWSpeechViewShow::kPromptHeld);
    EXPECT_EQ(overlay_.promptImageName(), QStringLiteral("SpeechLeft1"));
    overlay_.changePromptImgByType(7);
    EXPECT_EQ(overlay_.promptImageName(), QStringLiteral("SpeechLeft1"));
    overlay_.changePromptImgByType(UWSpeechViewShow::kPromptIdle);
    EXPECT_EQ(overlay_.promptImageName(), QStringLiteral("SpeechLeft"));
}

TEST_F(UWSpeechViewShowTest, RecorderLevelReportsShowTheLevelImage)
{
    overlay_.showSpeechView(QStringLiteral("x"));
    QByteArray loud(640, '\0');
    for (int i = 0; i < loud.size(); i += 2) {
        loud[i] = static_cast<char>(0xff);
        loud[i + 1] = static_cast<char>(i % 4 ? 0x7f : 0x80);
    }
    recorder_.isQuite(loud);
    EXPECT_TRUE(overlay_.volumeView()->isVisible());
    EXPECT_NE(overlay_.levelImageName(), QStringLiteral("level_0"));
}

TEST_F(UWSpeechViewShowTest, CallsFromAnotherThreadRunOnTheMainThread)
{
    QThread* worker = QThread::create([this] { overlay_.showSpeechView(QStringLiteral("from a worker")); });
    worker->start();
    worker->wait();
    delete worker;
    EXPECT_FALSE(overlay_.isShow());
    QCoreApplication::processEvents();
    EXPECT_TRUE(overlay_.isShow());
    EXPECT_EQ(overlay_.tipTextView()->text(), QStringLiteral("from a worker"));
}

TEST_F(UWSpeechViewShowTest, PictureOfTheOverlay)
{
    if (!fakes::screenShotsWanted())
        GTEST_SKIP() << "PRAVIK_SHOT_DIR is not set";
    overlay_.showSpeechView(QStringLiteral("正在聆听…"));
    overlay_.changePromptImgByType(UWSpeechViewShow::kPromptHeld);
    overlay_.getAudioDecibelValue(62);
    EXPECT_FALSE(fakes::saveScreenShot(QStringLiteral("speech-overlay")).isEmpty());
}

} // namespace
