#include "fakes/VirtualTime.h"
#include "voice/UWTipsViewShow.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>
#include <thread>

namespace {

class SpeechWindowTipTest : public ::testing::Test {
protected:
    bool shown() const { return tips->speechWindow() && tips->speechWindow()->isVisible(); }

    fakes::VirtualTime time;
    std::unique_ptr<UWTipsViewShow> tips = std::make_unique<UWTipsViewShow>(time);
};

TEST_F(SpeechWindowTipTest, FirstMessageBuildsAFloatingWindowAtTheLowerRight)
{
    EXPECT_EQ(tips->speechWindow(), nullptr);
    tips->showTextWithString(QStringLiteral("语音键功能: 语音翻译"));
    ASSERT_TRUE(shown());
    QWidget* window = tips->speechWindow();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    // 30 from the right edge and 150 from the bottom edge of the screen.
    EXPECT_EQ(
        window->geometry(), QRect(screen.right() + 1 - 30 - 320, screen.bottom() + 1 - 150 - 60, 320, 60));
    EXPECT_EQ(window->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(window->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(0x96, 0xCD, 0xCD));
    EXPECT_EQ(tips->tipTextView()->text(), QStringLiteral("语音键功能: 语音翻译"));
    EXPECT_EQ(tips->tipTextView()->textFormat(), Qt::PlainText);
    EXPECT_EQ(tips->tipTextView()->alignment(), Qt::AlignCenter);
}

TEST_F(SpeechWindowTipTest, MessageHidesAfterTwoSecondsAndANewOneRestartsTheTime)
{
    tips->showTextWithString(QStringLiteral("first"));
    time.advance(1.99);
    EXPECT_TRUE(shown());
    time.advance(0.01);
    EXPECT_FALSE(shown());

    tips->showTextWithString(QStringLiteral("first"));
    time.advance(1.5);
    tips->showTextWithString(QStringLiteral("second"));
    EXPECT_EQ(tips->tipTextView()->text(), QStringLiteral("second"));
    time.advance(1.99);
    EXPECT_TRUE(shown()) << "the first message's time must not cut the second one short";
    time.advance(0.01);
    EXPECT_FALSE(shown());
    EXPECT_EQ(time.pendingCount(), 0u);
}

TEST_F(SpeechWindowTipTest, DismissNowOrAfterADelay)
{
    tips->showTextWithString(QStringLiteral("tip"));
    tips->dismissSpeechView();
    EXPECT_FALSE(shown());
    EXPECT_EQ(time.pendingCount(), 0u);

    tips->showTextWithString(QStringLiteral("tip"));
    tips->dismissSpeechView(0.5);
    time.advance(0.49);
    EXPECT_TRUE(shown());
    time.advance(0.01);
    EXPECT_FALSE(shown());
    EXPECT_EQ(time.pendingCount(), 0u);

    tips->dismissSpeechView(); // before any message: nothing to hide
    EXPECT_FALSE(shown());
}

TEST_F(SpeechWindowTipTest, MessageFromAnotherThreadIsShownOnTheMainThread)
{
    std::thread worker([this] { tips->showTextWithString(QStringLiteral("from a worker")); });
    worker.join();
    EXPECT_EQ(tips->speechWindow(), nullptr); // no widget built off the main thread
    QCoreApplication::processEvents();
    ASSERT_TRUE(shown());
    EXPECT_EQ(tips->tipTextView()->text(), QStringLiteral("from a worker"));
    time.advance(2);
    EXPECT_FALSE(shown());
}

TEST_F(SpeechWindowTipTest, GoingAwayWithAMessageShownLeavesNoTimerBehind)
{
    tips->showTextWithString(QStringLiteral("tip"));
    EXPECT_EQ(time.pendingCount(), 1u);
    tips.reset();
    EXPECT_EQ(time.pendingCount(), 0u);
}

} // namespace
