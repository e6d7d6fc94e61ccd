#include "core/UWSanboxFileManager.h"
#include "core/WindowFrameAutosave.h"
#include "fakes/VirtualTime.h"
#include "platform/Preferences.h"
#include "voice/MMAudioObjectManager.h"
#include "voice/mmSpeechViewWC.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtEndian>

#include <gtest/gtest.h>
#include <thread>

namespace {

QByteArray pcmOfMagnitude(qint16 magnitude, int samples)
{
    QByteArray pcm(samples * 2, Qt::Uninitialized);
    for (int i = 0; i < samples; ++i)
        qToLittleEndian<qint16>(i % 2 ? magnitude : qint16(-magnitude), pcm.data() + 2 * i);
    return pcm;
}

class SpeechWindowTest : public ::testing::Test {
protected:
    std::unique_ptr<mmSpeechViewWC> makeWindow()
    {
        return std::make_unique<mmSpeechViewWC>(time, defaults, recorder);
    }

    QTemporaryDir dir;
    platform::Preferences defaults { dir.filePath(QStringLiteral("defaults.plist")) };
    fakes::VirtualTime time;
    MMAudioObjectManager recorder { time, UWSanboxFileManager::sharedManager() };
    std::unique_ptr<mmSpeechViewWC> speech = makeWindow();
};

TEST_F(SpeechWindowTest, ShowsAsAFloatingToolWindowOnTheScreen)
{
    QWidget* window = speech->window();
    EXPECT_FALSE(window->isVisible());
    speech->showWindow();
    EXPECT_TRUE(window->isVisible());
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
    for (Qt::WindowType flag :
        { Qt::WindowStaysOnTopHint, Qt::FramelessWindowHint, Qt::WindowDoesNotAcceptFocus })
        EXPECT_TRUE(flags.testFlag(flag)) << flag;
    EXPECT_TRUE(window->testAttribute(Qt::WA_ShowWithoutActivating));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(window->frameGeometry()))
        << window->frameGeometry().x() << "," << window->frameGeometry().y();
}

TEST_F(SpeechWindowTest, RunningTextIsReplacedByEachUpdateAndShownLiterally)
{
    speech->showWindow();
    for (const QString& text : { QStringLiteral("..."), QStringLiteral("今天"), QStringLiteral("今天天气"),
             QStringLiteral("今天天气很好。"), QStringLiteral("<b>bold</b> & <i>x</i>"), QString() }) {
        speech->windowText(text);
        EXPECT_EQ(speech->fromTextView()->toPlainText(), text);
    }
    speech->languageLabel(QStringLiteral("<b>语音打字</b>: 中文"));
    EXPECT_EQ(speech->languageLabel()->text(), QStringLiteral("<b>语音打字</b>: 中文"));
    EXPECT_EQ(speech->languageLabel()->textFormat(), Qt::PlainText);
}

TEST_F(SpeechWindowTest, LongTextScrollsToItsEndAndShortTextBackToTop)
{
    speech->showWindow();
    QStringList lines;
    for (int i = 1; i <= 40; ++i)
        lines << QStringLiteral("第%1句识别出来的文字").arg(i);
    speech->windowText(lines.join(QLatin1Char('\n')));
    QScrollBar* bar = speech->fromTextView()->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    // The last line lies inside the visible part of the view.
    QTextCursor end(speech->fromTextView()->document());
    end.movePosition(QTextCursor::End);
    const QRect lastLine = speech->fromTextView()->cursorRect(end);
    EXPECT_TRUE(speech->fromTextView()->viewport()->rect().contains(lastLine)) << lastLine.y();

    speech->windowText(QStringLiteral("短"));
    EXPECT_EQ(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(SpeechWindowTest, LevelPicksImageTenthsAndNothingOutsideTheNineImages)
{
    const struct {
        int level;
        int image;
    } cases[] = { { 87, 8 }, { 9, 0 }, { 0, 0 }, { -9, 0 }, { 45, 4 }, { 89, 8 }, { 36, 3 }, { -10, -1 },
        { 90, -1 }, { 10, 1 }, { std::numeric_limits<int>::min(), -1 },
        { std::numeric_limits<int>::max(), -1 } };
    for (const auto& c : cases) {
        speech->changeVolumeLevel(50); // a lit image first, so "none" must clear it
        speech->changeVolumeLevel(c.level);
        EXPECT_EQ(speech->levelImageNumber(), c.image) << c.level;
        EXPECT_EQ(speech->audioLevelIV()->pixmap().isNull(), c.image < 0) << c.level;
    }
}

TEST_F(SpeechWindowTest, RecorderLevelsReachTheMeterUntilTheWindowIsGone)
{
    recorder.isQuite(pcmOfMagnitude(32767, 320));
    EXPECT_EQ(speech->levelImageNumber(), 8);
    recorder.isQuite(pcmOfMagnitude(100, 320));
    EXPECT_EQ(speech->levelImageNumber(), 3);
    speech.reset();
    EXPECT_EQ(recorder.isQuite(pcmOfMagnitude(100, 320)), 36); // no listener left, no crash
}

TEST_F(SpeechWindowTest, LevelFromAnotherThreadIsShownOnTheMainThread)
{
    std::thread worker([this] { speech->getAudioDecibelValue(57); });
    worker.join();
    EXPECT_EQ(speech->levelImageNumber(), -1); // not touched from the worker
    QCoreApplication::processEvents();
    EXPECT_EQ(speech->levelImageNumber(), 5);
}

TEST_F(SpeechWindowTest, DelayedCloseRunsOnTimeAndAShowCallsItOff)
{
    speech->showWindow();
    speech->closeAfterDelay(0.5);
    time.advance(0.49);
    EXPECT_TRUE(speech->window()->isVisible());
    time.advance(0.01);
    EXPECT_FALSE(speech->window()->isVisible());

    // A new dictation shows the window before the previous one's close is due.
    speech->showWindow();
    speech->closeAfterDelay(0.5);
    time.advance(0.3);
    speech->showWindow();
    time.advance(5);
    EXPECT_TRUE(speech->window()->isVisible());

    // A later delay replaces an earlier one; close() drops what is pending.
    speech->closeAfterDelay(0.5);
    speech->closeAfterDelay(2);
    time.advance(1);
    EXPECT_TRUE(speech->window()->isVisible());
    time.advance(1);
    EXPECT_FALSE(speech->window()->isVisible());
    speech->showWindow();
    speech->closeAfterDelay(1);
    speech->close();
    EXPECT_FALSE(speech->window()->isVisible());
    EXPECT_EQ(time.pendingCount(), 0u);

    speech->showWindow();
    speech->closeAfterDelay(1);
    speech.reset();
    EXPECT_EQ(time.pendingCount(), 0u);
}

TEST_F(SpeechWindowTest, DraggingMovesTheWindowAndThePositionOutlivesTheWindow)
{
    speech->showWindow();
    QWidget* window = speech->window();
    const QPoint start = window->pos();
    const QPoint grab = start + QPoint(30, 60);
    // Dragged by the text area: it is part of the background.
    QWidget* viewport = speech->fromTextView()->viewport();
    auto send = [&](QEvent::Type type, QPoint global, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent event(type, viewport->mapFromGlobal(global), global, button, buttons, Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
    };
    send(QEvent::MouseButtonPress, grab, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, grab + QPoint(-40, -25), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, grab + QPoint(-40, -25), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(window->pos(), start + QPoint(-40, -25));
    speech->close(); // hiding saves the frame at once

    const QVariantList saved
        = defaults.value(WindowFrameAutosave::keyForName(QStringLiteral("mmSpeechWindow"))).toList();
    ASSERT_EQ(saved.size(), 4);
    EXPECT_EQ(QPoint(saved[0].toInt(), saved[1].toInt()), start + QPoint(-40, -25));

    speech.reset();
    speech = makeWindow();
    EXPECT_EQ(speech->window()->pos(), start + QPoint(-40, -25));
}

} // namespace
