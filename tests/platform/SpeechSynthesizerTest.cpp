// Speech output through the session's real engine (flite or
// speech-dispatcher for Qt TextToSpeech), where one is installed.
#include "platform/NullSpeechSynthesizer.h"
#include "platform/QtSpeechSynthesizer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace speechtest {

// A private sound server whose only output is a null sink, so the engine can
// play where the session has no audio device. Nothing when PulseAudio is not
// installed.
class NullSoundServer {
public:
    NullSoundServer()
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        if (program.isEmpty() || !dir_.isValid())
            return;
        const QString socket = dir_.filePath(QStringLiteral("native"));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path());
        environment.insert(QStringLiteral("HOME"), dir_.path());
        server_.setProcessEnvironment(environment);
        server_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server_.start(program,
            { QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                QStringLiteral("--use-pid-file=no"), QStringLiteral("--log-level=error"), QStringLiteral("-L"),
                QStringLiteral("module-null-sink"), QStringLiteral("-L"),
                QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + socket });
        server_.waitForStarted(3000);
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 5000 && server_.state() == QProcess::Running && !QFileInfo::exists(socket))
            server_.waitForFinished(20);
        if (QFileInfo::exists(socket))
            qputenv("PULSE_SERVER", QByteArray("unix:") + socket.toLocal8Bit());
    }
    ~NullSoundServer()
    {
        qunsetenv("PULSE_SERVER");
        if (server_.state() != QProcess::NotRunning) {
            server_.terminate();
            if (!server_.waitForFinished(3000))
                server_.kill();
            server_.waitForFinished(1000);
        }
    }

private:
    QTemporaryDir dir_;
    QProcess server_;
};

TEST(SpeechSynthesizerTest, TheNullBackendSpeaksNothing)
{
    platform::NullSpeechSynthesizer none;
    EXPECT_FALSE(none.isAvailable());
    EXPECT_TRUE(none.voices().isEmpty());
    EXPECT_FALSE(none.speak(QStringLiteral("Hello"), platform::SpeechVoice { QStringLiteral("x"), QStringLiteral("en-US") }, 0));
    EXPECT_EQ(platform::SpeechSynthesizer::create(QStringLiteral("null"))->isAvailable(), false);
}

TEST(SpeechSynthesizerTest, ARealUtteranceWhereAnEngineExists)
{
    const NullSoundServer sound;
    const std::unique_ptr<platform::QtSpeechSynthesizer> speech = platform::QtSpeechSynthesizer::open();
    if (!speech)
        GTEST_SKIP() << "no speech engine for Qt TextToSpeech in this session";
    const QList<platform::SpeechVoice> voices = speech->voices();
    ASSERT_FALSE(voices.isEmpty()) << speech->engineName().toStdString();
    for (const platform::SpeechVoice& voice : voices)
        EXPECT_TRUE(voice.locale.contains(u'-') || voice.locale.size() == 2) << voice.locale.toStdString();

    // A voice the engine does not have starts nothing.
    EXPECT_FALSE(speech->speak(QStringLiteral("Hello"), platform::SpeechVoice { QStringLiteral("no such voice"), voices.first().locale }, 0));

    ASSERT_TRUE(speech->speak(QStringLiteral("Hello"), voices.first(), 0.04));
    QElapsedTimer timer;
    timer.start();
    bool spoke = speech->isSpeaking();
    while (timer.elapsed() < 15000 && speech->isAvailable() && (!spoke || speech->isSpeaking())) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        spoke = spoke || speech->isSpeaking();
    }
    if (!speech->isAvailable()) {
        // The engine synthesised the text but the session has no audio
        // output: it says so, and is no longer offered as available.
        EXPECT_FALSE(speech->lastError().isEmpty());
        EXPECT_FALSE(speech->isSpeaking());
        GTEST_SKIP() << "no audio output in this session: " << speech->lastError().toStdString();
    }
    EXPECT_TRUE(spoke) << "the engine never started speaking";
    EXPECT_FALSE(speech->isSpeaking()) << "the utterance did not end";
}

} // namespace speechtest
