#include "voice/MMAudioQueueCapture.h"

#include "core/UWSanboxFileManager.h"
#include "fakes/FakeMicrophoneInput.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/QtMicrophoneInput.h"
#include "voice/MMAudioObjectManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

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

// A PulseAudio server of the test's own with one silent 16 kHz mono
// source, so the Qt Multimedia backend records from a real audio stack.
class PrivatePulseAudio {
public:
    bool start()
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        if (program.isEmpty() || !dir_.isValid())
            return false;
        const QString socket = dir_.filePath(QStringLiteral("native"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path());
        env.insert(QStringLiteral("HOME"), dir_.path());
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(program,
            { QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                QStringLiteral("--disallow-exit"), QStringLiteral("--use-pid-file=no"), QStringLiteral("--log-level=error"),
                QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=") + socket,
                QStringLiteral("--load=module-null-source source_name=pravik_mic rate=16000 channels=1") });
        if (!process_.waitForStarted())
            return false;
        QElapsedTimer waited;
        waited.start();
        while (!QFileInfo::exists(socket) && waited.elapsed() < 5000 && process_.state() == QProcess::Running)
            QThread::msleep(20);
        if (!QFileInfo::exists(socket))
            return false;
        qputenv("PULSE_SERVER", QByteArray("unix:") + socket.toUtf8());
        return true;
    }
    ~PrivatePulseAudio()
    {
        qunsetenv("PULSE_SERVER");
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }

private:
    QTemporaryDir dir_;
    QProcess process_;
};

// The Qt Multimedia backend on a null source of a private PulseAudio server
// (package pulseaudio); without one, on whatever input the session offers.
TEST(QtMicrophoneInputTest, DeliversBlocksOfTheRightSizeFromTheSessionsInput)
{
    if (qEnvironmentVariable("PRAVIK_MICROPHONE") == QLatin1String("null"))
        GTEST_SKIP() << "the microphone is switched off";
    PrivatePulseAudio pulse;
    const bool ownServer = pulse.start();
    if (!platform::QtMicrophoneInput::hasUsableDevice())
        GTEST_SKIP() << "no audio input device in this session" << (ownServer ? "" : " and no pulseaudio to start");
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
    if (ownServer) { // the null source is silent
        EXPECT_EQ(blocks.front(), QByteArray(MMAudioQueueCapture::kBlockBytes, '\0'));
    }
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
