#include "voice/MMAudioQueueCapture.h"

#include "core/UWSanboxFileManager.h"
#include "fakes/FakeMicrophoneInput.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/QtMicrophoneInput.h"
#include "voice/MMAudioObjectManager.h"

#include <QElapsedTimer>
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

class CaptureLevels final : public MMAudioObjectManagerDelegate {
public:
    void getAudioDecibelValue(int level) override { levels.push_back(level); }
    std::vector<int> levels;
};

class MMAudioQueueCaptureTest : public ::testing::Test {
protected:
    MMAudioQueueCaptureTest()
    {
        auto input = std::make_unique<fakes::FakeMicrophoneInput>();
        mic_ = input.get();
        capture_ = std::make_unique<MMAudioQueueCapture>(std::move(input), &recorder_);
        recorder_.setDelegate(levels_);
    }

    bool start()
    {
        return capture_->startRecordWithBlock([this](const QByteArray& pcm) { blocks_.push_back(pcm); });
    }

    fakes::TempHome home_;
    fakes::VirtualTime time_;
    MMAudioObjectManager recorder_ { time_, UWSanboxFileManager::sharedManager() };
    std::shared_ptr<CaptureLevels> levels_ = std::make_shared<CaptureLevels>();
    fakes::FakeMicrophoneInput* mic_ = nullptr;
    std::unique_ptr<MMAudioQueueCapture> capture_;
    std::vector<QByteArray> blocks_;
};

TEST_F(MMAudioQueueCaptureTest, PiecesBecomeWholeBlocksAndTheLastIsPaddedWithSilence)
{
    struct Case {
        const char* name;
        std::vector<int> pieces;
        size_t wholeBlocks; // before stop
        int lastAudioBytes; // of the padded block at stop, 0 for none
    };
    const Case cases[] = {
        { "one short buffer", { 900 }, 0, 900 },
        { "exact blocks", { 1280, 1280 }, 2, 0 },
        { "pieces across blocks", { 1000, 1000, 1000 }, 2, 440 },
        { "one large piece", { 4000 }, 3, 160 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        blocks_.clear();
        levels_->levels.clear();
        ASSERT_TRUE(start());
        QByteArray sent;
        for (int size : c.pieces) {
            QByteArray piece(size, '\0');
            for (int i = 0; i < size; ++i)
                piece[i] = static_cast<char>((sent.size() + i) % 251 + 1);
            sent += piece;
            mic_->deliver(piece);
        }
        EXPECT_EQ(blocks_.size(), c.wholeBlocks);
        capture_->stopRecord();
        EXPECT_FALSE(capture_->isRecording());
        EXPECT_FALSE(mic_->isRunning());
        const size_t total = c.wholeBlocks + (c.lastAudioBytes ? 1 : 0);
        ASSERT_EQ(blocks_.size(), total);
        QByteArray received;
        for (const QByteArray& block : blocks_) {
            EXPECT_EQ(block.size(), MMAudioQueueCapture::kBlockBytes);
            received += block;
        }
        // The audio arrives in order, followed only by silence.
        EXPECT_EQ(received.left(sent.size()), sent);
        EXPECT_EQ(received.mid(sent.size()), QByteArray(received.size() - sent.size(), '\0'));
        // Every block went through the level meter.
        EXPECT_EQ(levels_->levels.size(), total);
    }
}

TEST_F(MMAudioQueueCaptureTest, NothingIsDeliveredAfterStopAndAStartAfterAStopOpensTheMicrophoneAgain)
{
    ASSERT_TRUE(start());
    capture_->stopRecord();
    capture_->stopRecord(); // not recording: nothing
    EXPECT_EQ(mic_->stopCount(), 1);
    capture_->processAudioBuffer(QByteArray(1280, 'x'));
    EXPECT_TRUE(blocks_.empty());
    ASSERT_TRUE(start());
    EXPECT_EQ(mic_->startCount(), 2);
    mic_->deliver(QByteArray(1280, 'y'));
    EXPECT_EQ(blocks_.size(), 1u);
}

TEST_F(MMAudioQueueCaptureTest, AMicrophoneThatCannotOpenRecordsNothing)
{
    mic_->setAvailable(false);
    EXPECT_FALSE(start());
    EXPECT_FALSE(capture_->isRecording());
    capture_->processAudioBuffer(QByteArray(1280, 'x'));
    EXPECT_TRUE(blocks_.empty());
}

// The Qt Multimedia backend on whatever input the session offers (a
// PulseAudio or PipeWire null source in CI where one runs).
TEST(QtMicrophoneInputTest, DeliversBlocksOfTheRightSizeFromTheSessionsInput)
{
    if (qEnvironmentVariable("PRAVIK_MICROPHONE") == QLatin1String("null")
        || !platform::QtMicrophoneInput::hasUsableDevice())
        GTEST_SKIP() << "no audio input device in this session";
    MMAudioQueueCapture capture(std::make_unique<platform::QtMicrophoneInput>(), nullptr);
    std::vector<QByteArray> blocks;
    ASSERT_TRUE(capture.startRecordWithBlock([&](const QByteArray& pcm) { blocks.push_back(pcm); }));
    QElapsedTimer waited;
    waited.start();
    while (blocks.size() < 3 && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    capture.stopRecord();
    ASSERT_GE(blocks.size(), 3u);
    for (const QByteArray& block : blocks)
        EXPECT_EQ(block.size(), MMAudioQueueCapture::kBlockBytes);
}

TEST(MicrophoneInputTest, EnvironmentChoosesTheNullBackend)
{
    qputenv("PRAVIK_MICROPHONE", "null");
    const std::unique_ptr<platform::MicrophoneInput> input = platform::MicrophoneInput::create();
    qunsetenv("PRAVIK_MICROPHONE");
    EXPECT_EQ(input->backendName(), QStringLiteral("null"));
    EXPECT_FALSE(input->start([](const QByteArray&) {}));
}

} // namespace
