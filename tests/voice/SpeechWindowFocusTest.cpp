// The floating windows over a focused text field on a real X server. The
// offscreen platform activates every window it shows, so only a real server
// tells whether a window leaves the keyboard focus where it was: on any other
// platform the test runs itself again, in a child process under xvfb-run on
// the xcb platform. With PRAVIK_SPEECH_WINDOW_SHOT naming a PNG file, the
// scene is also saved as a picture of the whole screen
// (scripts/speech-window-demo.sh).
#include "core/UWSanboxFileManager.h"
#include "fakes/VirtualTime.h"
#include "platform/Preferences.h"
#include "voice/MMAudioObjectManager.h"
#include "voice/UWTipsViewShow.h"
#include "voice/mmSpeechViewWC.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWindow>

#include <functional>
#include <gtest/gtest.h>
#include <optional>

// Last: Xlib's macros would shadow Qt's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

const char* const kShotVariable = "PRAVIK_SPEECH_WINDOW_SHOT";

// Runs the event loop until the condition holds or the time is up.
bool pumpUntil(const std::function<bool()>& condition, int milliseconds)
{
    QElapsedTimer waited;
    waited.start();
    while (!condition() && waited.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

void pumpFor(int milliseconds)
{
    pumpUntil([] { return false; }, milliseconds);
}

// What a window manager reads, when a window is mapped, to decide whether to
// give it the keyboard focus: the input field of WM_HINTS, and a user time
// of 0 (on the window, or on the window its _NET_WM_USER_TIME_WINDOW names),
// which asks not to be activated.
struct FocusHints {
    bool acceptsInput = true; // no input hint means "yes"
    std::optional<unsigned long> userTime;
};

std::optional<unsigned long> cardinalProperty(Display* display, Window window, const char* name, Atom type)
{
    Atom actualType = 0;
    int actualFormat = 0;
    unsigned long items = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    std::optional<unsigned long> value;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1, False, type, &actualType,
            &actualFormat, &items, &remaining, &data)
            == Success
        && data && actualFormat == 32 && items == 1)
        value = *reinterpret_cast<unsigned long*>(data); // Xlib hands 32-bit items over as longs
    if (data)
        XFree(data);
    return value;
}

FocusHints readFocusHints(WId id)
{
    FocusHints hints;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return hints;
    const auto window = static_cast<Window>(id);
    if (XWMHints* wm = XGetWMHints(display, window)) {
        if (wm->flags & InputHint)
            hints.acceptsInput = wm->input != False;
        XFree(wm);
    }
    const std::optional<unsigned long> timeWindow
        = cardinalProperty(display, window, "_NET_WM_USER_TIME_WINDOW", XA_WINDOW);
    hints.userTime = cardinalProperty(
        display, timeWindow ? static_cast<Window>(*timeWindow) : window, "_NET_WM_USER_TIME", XA_CARDINAL);
    XCloseDisplay(display);
    return hints;
}

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
            QStringLiteral("--gtest_filter=SpeechWindowFocusTest.%1").arg(QLatin1String(testName)) });
    ASSERT_TRUE(child.waitForFinished(120000)) << "the child on Xvfb did not finish";
    const QString output = QString::fromLocal8Bit(child.readAll());
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QLatin1String("[  PASSED  ] 1 test"))) << output.toStdString();
}

TEST(SpeechWindowFocusTest, FloatingWindowsLeaveTheFocusInTheTextFieldBeingDictatedInto)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        runOnRealXServer("FloatingWindowsLeaveTheFocusInTheTextFieldBeingDictatedInto");
        return;
    }

    QTemporaryDir dir;
    platform::Preferences defaults(dir.filePath(QStringLiteral("defaults.plist")));
    fakes::VirtualTime time;
    MMAudioObjectManager recorder(time, UWSanboxFileManager::sharedManager());
    mmSpeechViewWC speech(time, defaults, recorder);
    UWTipsViewShow tips(time);

    // The application the user dictates into.
    QWidget editor;
    editor.setWindowTitle(QStringLiteral("Notes"));
    editor.setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(&editor);
    layout->setContentsMargins(24, 24, 24, 24);
    auto* caption
        = new QLabel(QStringLiteral("A text field of the foreground application (it keeps the focus)"));
    auto* field = new QLineEdit;
    QFont fieldFont = field->font();
    fieldFont.setPixelSize(22);
    field->setFont(fieldFont);
    layout->addWidget(caption);
    layout->addWidget(field);
    layout->addStretch();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    editor.setGeometry(screen.x() + 120, screen.y() + 100, screen.width() - 240, screen.height() - 220);
    editor.show();
    editor.activateWindow();
    field->setFocus();
    ASSERT_TRUE(
        pumpUntil([&] { return QApplication::focusWidget() == field && editor.isActiveWindow(); }, 5000))
        << "the text field never got the focus";

    speech.showWindow();
    speech.languageLabel(QStringLiteral("语音打字: 中文(普通话)"));
    speech.windowText(QStringLiteral("..."));
    const QString typed = QStringLiteral("今天天气很好，我们下午三点在会议室讨论新版本的发布计划。");
    const int levels[] = { 12, 35, 58, 71, 64, 49 };
    int step = 0;
    for (int end = 4; end <= typed.size(); end += 4) {
        speech.windowText(typed.left(end));
        speech.changeVolumeLevel(levels[step++ % 6]);
        field->setText(typed.left(end));
        pumpFor(40);
    }
    tips.showTextWithString(QStringLiteral("语音键功能: 语音打字"));
    speech.windowText(typed);
    speech.changeVolumeLevel(64);
    field->setText(typed);
    ASSERT_TRUE(pumpUntil(
        [&] {
            return speech.window()->windowHandle()->isExposed()
                && tips.speechWindow()->windowHandle()->isExposed();
        },
        5000));
    pumpFor(300); // any activation the server would give a shown window has arrived by now

    EXPECT_EQ(QApplication::focusWidget(), field);
    EXPECT_TRUE(editor.isActiveWindow());
    EXPECT_FALSE(speech.window()->isActiveWindow());
    EXPECT_FALSE(tips.speechWindow()->isActiveWindow());
    // The same as a window manager sees it: the floating windows ask for no
    // focus and no activation; the editor, as a check of the reading, does.
    for (QWidget* floating : { speech.window(), tips.speechWindow() }) {
        const FocusHints hints = readFocusHints(floating->winId());
        EXPECT_FALSE(hints.acceptsInput) << floating->objectName().toStdString();
        EXPECT_EQ(hints.userTime, 0ul) << floating->objectName().toStdString();
    }
    EXPECT_TRUE(readFocusHints(editor.winId()).acceptsInput);
    EXPECT_TRUE(screen.contains(speech.window()->frameGeometry()));
    EXPECT_TRUE(screen.contains(tips.speechWindow()->frameGeometry()));

    const QString shot = qEnvironmentVariable(kShotVariable);
    if (!shot.isEmpty()) {
        EXPECT_EQ(QProcess::execute(
                      QStringLiteral("import"), { QStringLiteral("-window"), QStringLiteral("root"), shot }),
            0);
        EXPECT_GT(QFileInfo(shot).size(), 0) << shot.toStdString();
    }
}

} // namespace
