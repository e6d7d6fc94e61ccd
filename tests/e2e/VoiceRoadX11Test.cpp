// The voice road into a real Qt text field on a real X server: the typed
// text goes through the X11 key poster (XTest) and the session's clipboard,
// while the speech window shows the running text. With
// PRAVIK_VOICE_ROAD_SHOT naming a PNG file, a picture of the screen is taken
// while the dictation runs (scripts/voice-typing-demo.sh).
#include "VoiceRoadFixture.h"

#include "platform/QtPasteboard.h"
#include "platform/SerialQueue.h"
#include "platform/X11KeyPoster.h"

#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScreen>
#include <QStandardPaths>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QWindow>

#include <chrono>
#include <thread>

namespace voiceroad {
namespace {

using Reply = fakes::FakeDictationService::Reply;

const char* const kShotVariable = "PRAVIK_VOICE_ROAD_SHOT";

bool onX11() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

// The real typing backends, made before the road that uses them.
struct X11Typing {
    std::unique_ptr<platform::X11KeyPoster> x11Poster = onX11() ? platform::X11KeyPoster::open() : nullptr;
    platform::QtPasteboard clipboard;
    platform::SerialQueue typingQueue { QStringLiteral("voice-road-typing") };
};

class VoiceRoadOnX11 : private X11Typing, public VoiceRoad {
protected:
    VoiceRoadOnX11()
        : VoiceRoad(x11Poster.get(), &clipboard, &typingQueue,
            [](double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); })
    {
    }
    bool hasPoster() const { return x11Poster != nullptr; }
};

void runOnRealXServer(const char* testName)
{
    const QString xvfbRun = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
    ASSERT_FALSE(xvfbRun.isEmpty()) << "xvfb-run (package xvfb) is needed for this test";
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(xvfbRun,
        { QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 1280x800x24"),
            QCoreApplication::applicationFilePath(),
            QStringLiteral("--gtest_filter=VoiceRoadOnX11.%1").arg(QLatin1String(testName)) });
    ASSERT_TRUE(child.waitForFinished(120000)) << "the child on Xvfb did not finish";
    const QString output = QString::fromLocal8Bit(child.readAll());
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QLatin1String("[  PASSED  ] 1 test"))) << output.toStdString();
}

TEST_F(VoiceRoadOnX11, DictationIsTypedIntoAQtTextFieldWhileTheWindowShowsIt)
{
    if (!onX11()) {
        runOnRealXServer("DictationIsTypedIntoAQtTextFieldWhileTheWindowShowsIt");
        return;
    }
    ASSERT_TRUE(hasPoster()) << "XTest is not available on this display";

    // The application the user dictates into.
    QWidget editor;
    editor.setWindowTitle(QStringLiteral("Notes"));
    auto* layout = new QVBoxLayout(&editor);
    layout->setContentsMargins(24, 24, 24, 24);
    auto* field = new QLineEdit;
    QFont font = field->font();
    font.setPixelSize(22);
    field->setFont(font);
    layout->addWidget(new QLabel(QStringLiteral("A text field of the focused application")));
    layout->addWidget(field);
    layout->addStretch();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    editor.setGeometry(screen.x() + 120, screen.y() + 100, screen.width() - 240, screen.height() - 220);
    editor.show();
    editor.activateWindow();
    field->setFocus();
    ASSERT_TRUE(waitFor([&] { return QApplication::focusWidget() == field && editor.isActiveWindow(); }))
        << "the text field never got the focus";

    connectMouse(QStringLiteral("cn"));
    user.webConfig().setSec_dynamic_typing(1);
    mainlandService.addSession({ 0,
        { Reply::result("今天天气很好", "apd", false, 1).afterAudioFrames(10),
            Reply::result("，我们下午三点", "apd", false, 2).afterAudioFrames(60),
            Reply::result("在会议室讨论发布计划", "apd", false, 3).afterAudioFrames(110),
            Reply::result("。", "apd", true, 4).onLastFrame().thenClose() } });
    const QString spoken = QStringLiteral("今天天气很好，我们下午三点在会议室讨论发布计划");

    mouse.setAudioFrames(QList<QByteArray>(400, silentFrame()));
    keyTap.press(platform::MouseKey::F19);
    ASSERT_TRUE(waitFor([&] { return field->text() == spoken; }, 30000)) << field->text().toStdString();
    ASSERT_TRUE(service.speechWC());
    EXPECT_TRUE(service.speechWC()->window()->isVisible());
    EXPECT_EQ(service.speechWC()->fromTextView()->toPlainText(), spoken);
    // The floating window left the focus where the text goes.
    EXPECT_EQ(QApplication::focusWidget(), field);

    const QString shot = qEnvironmentVariable(kShotVariable);
    if (!shot.isEmpty()) {
        run(0.3);
        EXPECT_EQ(QProcess::execute(
                      QStringLiteral("import"), { QStringLiteral("-window"), QStringLiteral("root"), shot }),
            0);
        EXPECT_GT(QFileInfo(shot).size(), 0) << shot.toStdString();
    }

    keyTap.release(platform::MouseKey::F19);
    ASSERT_TRUE(waitFor([&] { return field->text() == spoken + QStringLiteral("。"); }, 30000))
        << field->text().toStdString();
    ASSERT_TRUE(waitFor([&] { return !service.speechWC()->window()->isVisible(); }));
}

} // namespace
} // namespace voiceroad
