// The X11 key tap and key poster against a real X server (Xvfb started by
// the test). The parts that need a Qt window on that server run in a child
// process: this binary again, on the xcb platform, with a --gtest_filter.
#include "platform/KeyPoster.h"
#include "platform/KeyTap.h"
#include "platform/QtPasteboard.h"
#include "platform/X11KeyPoster.h"
#include "platform/X11KeyTap.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QThread>
#include <QWindow>
#include <gtest/gtest.h>

// Xlib last: its macros (None, Status, Bool) would break the headers after it.
#include <X11/Xlib.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <atomic>
#include <thread>
#include <vector>

// Xlib's names for its event types would shadow Qt's.
#undef KeyPress
#undef KeyRelease

namespace {

using platform::KeyAction;
using platform::MouseKey;
using TapEvent = std::pair<MouseKey, KeyAction>;

const char* const kChildVariable = "PRAVIK_X11_CHILD";

bool inChild()
{
    return !qEnvironmentVariableIsEmpty(kChildVariable);
}

// An Xvfb server on the first free display from :90 to :99.
class XvfbServer {
public:
    ~XvfbServer()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000))
                process_.kill();
            process_.waitForFinished(5000);
        }
    }

    static QString binary() { return QStandardPaths::findExecutable(QStringLiteral("Xvfb")); }

    bool start()
    {
        for (int n = 90; n <= 99; ++n) {
            if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n))
                || QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)))
                continue;
            const QString name = QStringLiteral(":%1").arg(n);
            process_.start(binary(),
                { name, QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
                    QStringLiteral("0"), QStringLiteral("800x600x24") });
            if (!process_.waitForStarted(5000))
                return false;
            QElapsedTimer waited;
            waited.start();
            while (waited.elapsed() < 10000 && process_.state() == QProcess::Running) {
                // The server that answers must be ours, not one another test
                // started on the same number a moment earlier.
                if (ownsLock(n)) {
                    if (Display* probe = XOpenDisplay(name.toLatin1().constData())) {
                        XCloseDisplay(probe);
                        display_ = name.toLatin1();
                        return true;
                    }
                }
                QThread::msleep(50);
            }
            // Taken by someone else meanwhile, or failed: try the next number.
            process_.kill();
            process_.waitForFinished(5000);
        }
        return false;
    }

    QByteArray display() const { return display_; }

private:
    // The server writes its process id into the display's lock file.
    bool ownsLock(int n) const
    {
        QFile lock(QStringLiteral("/tmp/.X%1-lock").arg(n));
        return lock.open(QIODevice::ReadOnly)
            && lock.readAll().trimmed().toLongLong() == process_.processId();
    }

    QProcess process_;
    QByteArray display_;
};

// Runs one child test on the Xvfb display and checks that it ran and passed.
void runChild(const QByteArray& display, const QString& test)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildVariable), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    env.remove(QStringLiteral("XDG_SESSION_TYPE"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    // Under the leak checker: Qt's D-Bus thread on the xcb platform leaves a
    // read buffer of libdbus behind at exit; nothing of ours.
    QTemporaryFile suppressions;
    ASSERT_TRUE(suppressions.open());
    suppressions.write("leak:libdbus-1.so\n");
    suppressions.flush();
    const QString lsan = env.value(QStringLiteral("LSAN_OPTIONS"));
    env.insert(QStringLiteral("LSAN_OPTIONS"),
        (lsan.isEmpty() ? QString() : lsan + QLatin1Char(':')) + QStringLiteral("suppressions=")
            + suppressions.fileName());
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--gtest_filter=") + test });
    ASSERT_TRUE(child.waitForFinished(120000));
    const QString output = QString::fromLocal8Bit(child.readAll());
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[       OK ] ") + test)) << output.toStdString();
}

class KeyX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (inChild())
            GTEST_SKIP() << "runs in the parent only";
        if (XvfbServer::binary().isEmpty())
            GTEST_SKIP() << "Xvfb is not installed";
        ASSERT_TRUE(server.start()) << "no Xvfb display could be started on :90 to :99";
    }
    XvfbServer server;
};

// Spins the event loop until the condition holds or the time is up.
template <typename Condition> bool waitFor(Condition condition, int ms = 5000)
{
    QElapsedTimer waited;
    waited.start();
    while (!condition()) {
        if (waited.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// A focused text field that records the key events it receives.
class FocusedField : public QObject {
public:
    FocusedField()
    {
        field.installEventFilter(this);
        field.resize(400, 40);
        field.show();
        waitFor([&] { return field.windowHandle() && field.windowHandle()->isExposed(); });
        field.activateWindow();
        field.setFocus();
    }
    bool focused()
    {
        return waitFor(
            [&] { return QGuiApplication::focusWindow() == field.windowHandle() && field.hasFocus(); });
    }
    // Key events whose X key code is one of the mouse's keys.
    int mouseKeyEvents() const { return mouseKeyEvents_; }

    QLineEdit field;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
            const quint32 code = static_cast<QKeyEvent*>(event)->nativeScanCode();
            if (code >= 196 && code <= 198)
                ++mouseKeyEvents_;
        }
        return false;
    }

private:
    int mouseKeyEvents_ = 0;
};

// Posts raw key events through XTest on a connection of the test's own.
class XTestKeys {
public:
    XTestKeys()
        : display_(XOpenDisplay(nullptr))
    {
    }
    ~XTestKeys()
    {
        if (device_)
            XCloseDevice(display_, device_);
        if (display_)
            XCloseDisplay(display_);
    }
    bool ok() const { return display_ != nullptr; }
    Display* display() const { return display_; }
    int code(KeySym symbol) const { return XKeysymToKeycode(display_, symbol); }

    // From the XTest keyboard, as synthetic keys are.
    void key(int code, bool down)
    {
        XTestFakeKeyEvent(display_, code, down, CurrentTime);
        XSync(display_, False);
    }
    void tap(int code)
    {
        key(code, true);
        key(code, false);
    }
    // From the server's own keyboard device, a different one than XTest's,
    // as the mouse is in a real session.
    bool deviceKey(int code, bool down)
    {
        if (!device_) {
            int count = 0;
            XIDeviceInfo* devices = XIQueryDevice(display_, XIAllDevices, &count);
            for (int i = 0; i < count && !device_; ++i) {
                if (devices[i].use == XISlaveKeyboard && !QByteArray(devices[i].name).contains("XTEST"))
                    device_ = XOpenDevice(display_, devices[i].deviceid);
            }
            XIFreeDeviceInfo(devices);
            if (!device_)
                return false;
        }
        XTestFakeDeviceKeyEvent(display_, device_, code, down, nullptr, 0, CurrentTime);
        XSync(display_, False);
        return true;
    }

private:
    Display* display_;
    XDevice* device_ = nullptr;
};

TEST_F(KeyX11, TapTakesTheMouseKeysFromTheFocusedWindow)
{
    runChild(server.display(), QStringLiteral("KeyX11Child.TapTakesTheMouseKeys"));
}

TEST_F(KeyX11, PasteTypesIntoATextField)
{
    runChild(server.display(), QStringLiteral("KeyX11Child.PasteTypesIntoATextField"));
}

// In the parent: the backends can be asked for by name, and the null ones say no.
TEST(KeyBackends, ChoiceByName)
{
    if (inChild())
        GTEST_SKIP();
    EXPECT_FALSE(platform::KeyTap::create(QStringLiteral("null"))->isAvailable());
    EXPECT_FALSE(platform::KeyTap::create(QStringLiteral("null"))->start([](MouseKey, KeyAction) {}));
    EXPECT_FALSE(platform::KeyPoster::create(QStringLiteral("null"))->isAvailable());
    EXPECT_FALSE(platform::KeyPoster::create(QStringLiteral("null"))->press(platform::Key::V));
    EXPECT_FALSE(platform::X11KeyTap::open(":89.7")); // no such server
    EXPECT_FALSE(platform::X11KeyPoster::open(":89.7"));
}

class KeyX11Child : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!inChild())
            GTEST_SKIP() << "runs in a child process on an X display";
    }
};

TEST_F(KeyX11Child, TapTakesTheMouseKeys)
{
    FocusedField window;
    ASSERT_TRUE(window.focused());
    XTestKeys keys;
    ASSERT_TRUE(keys.ok());

    auto tap = platform::X11KeyTap::open();
    ASSERT_TRUE(tap);
    std::vector<TapEvent> seen;
    ASSERT_TRUE(tap->start([&](MouseKey key, KeyAction action) { seen.emplace_back(key, action); }));

    // Each key, also with CapsLock and NumLock on: the grab holds for any modifiers.
    const KeySym locks[] = { NoSymbol, XK_Caps_Lock, XK_Num_Lock };
    std::vector<TapEvent> expected;
    for (KeySym lock : locks) {
        if (lock != NoSymbol)
            keys.tap(keys.code(lock));
        for (int code = 196; code <= 198; ++code)
            keys.tap(code);
        if (lock != NoSymbol)
            keys.tap(keys.code(lock)); // off again
        for (MouseKey key : { MouseKey::F18, MouseKey::F19, MouseKey::F20 }) {
            expected.emplace_back(key, KeyAction::Down);
            expected.emplace_back(key, KeyAction::Up);
        }
    }
    EXPECT_TRUE(waitFor([&] { return seen.size() >= expected.size(); }));
    EXPECT_EQ(seen, expected);

    // A plain key still reaches the window; having arrived after the mouse's
    // keys were posted, it shows that none of those came through.
    keys.tap(keys.code(XK_a));
    EXPECT_TRUE(waitFor([&] { return window.field.text() == QStringLiteral("a"); }));
    EXPECT_EQ(window.mouseKeyEvents(), 0);

    // While the mouse's key is held, the other keyboards and the synthetic
    // keys of dictation still reach the window.
    seen.clear();
    ASSERT_TRUE(keys.deviceKey(197, true));
    EXPECT_TRUE(waitFor([&] { return seen.size() == 1; }));
    keys.tap(keys.code(XK_b));
    EXPECT_TRUE(waitFor([&] { return window.field.text() == QStringLiteral("ab"); }));
    platform::QtPasteboard pasteboard;
    pasteboard.setText(QStringLiteral(" held"));
    auto poster = platform::X11KeyPoster::open();
    ASSERT_TRUE(poster);
    EXPECT_TRUE(poster->press(platform::Key::V, platform::Modifier::Command));
    EXPECT_TRUE(waitFor([&] { return window.field.text() == QStringLiteral("ab held"); }));
    ASSERT_TRUE(keys.deviceKey(197, false));
    EXPECT_TRUE(waitFor([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen,
        (std::vector<TapEvent> { { MouseKey::F19, KeyAction::Down }, { MouseKey::F19, KeyAction::Up } }));
    EXPECT_EQ(window.mouseKeyEvents(), 0);

    // Without the tap the window does get the key: the check above can fail.
    tap.reset();
    keys.tap(197);
    EXPECT_TRUE(waitFor([&] { return window.mouseKeyEvents() == 2; }));
}

TEST_F(KeyX11Child, PasteTypesIntoATextField)
{
    FocusedField window;
    ASSERT_TRUE(window.focused());
    auto poster = platform::X11KeyPoster::open();
    ASSERT_TRUE(poster);
    platform::QtPasteboard pasteboard;

    // Any script arrives intact: the text goes by the clipboard, not by keys.
    const QString text = QStringLiteral("Grüße, мир, 你好 👍🏽 مرحبا");
    pasteboard.setText(text);
    EXPECT_TRUE(poster->press(platform::Key::V, platform::Modifier::Command));
    EXPECT_TRUE(waitFor([&] { return window.field.text() == text; })) << window.field.text().toStdString();

    // Each press is a whole one: a second paste works, so no key was left held.
    EXPECT_TRUE(poster->press(platform::Key::V, platform::Modifier::Command));
    EXPECT_TRUE(waitFor([&] { return window.field.text() == text + text; }));

    window.field.setText(QStringLiteral("abc"));
    EXPECT_TRUE(poster->press(platform::Key::Backspace));
    EXPECT_TRUE(waitFor([&] { return window.field.text() == QStringLiteral("ab"); }));

    // From another thread, as the typing queue does: the pasteboard work goes to the main thread.
    window.field.clear();
    std::atomic<bool> done { false };
    std::thread typing([&] {
        pasteboard.setText(QStringLiteral("from the typing queue"));
        poster->press(platform::Key::V, platform::Modifier::Command);
        done = true;
    });
    EXPECT_TRUE(
        waitFor([&] { return done && window.field.text() == QStringLiteral("from the typing queue"); }));
    typing.join();

    // A layout where "v" sits on another key: the poster follows the map.
    XTestKeys keys;
    ASSERT_TRUE(keys.ok());
    Display* x = keys.display();
    const int vCode = keys.code(XK_v), kCode = keys.code(XK_k);
    int perCode = 0;
    KeySym* vSyms = XGetKeyboardMapping(x, vCode, 1, &perCode);
    std::vector<KeySym> oldV(vSyms, vSyms + perCode);
    XFree(vSyms);
    KeySym* kSyms = XGetKeyboardMapping(x, kCode, 1, &perCode);
    std::vector<KeySym> oldK(kSyms, kSyms + perCode);
    XFree(kSyms);
    XChangeKeyboardMapping(x, vCode, perCode, oldK.data(), 1);
    XChangeKeyboardMapping(x, kCode, perCode, oldV.data(), 1);
    XSync(x, False);
    window.field.clear();
    pasteboard.setText(QStringLiteral("moved"));
    EXPECT_TRUE(poster->press(platform::Key::V, platform::Modifier::Command));
    EXPECT_TRUE(waitFor([&] { return window.field.text() == QStringLiteral("moved"); }))
        << window.field.text().toStdString();
    XChangeKeyboardMapping(x, vCode, perCode, oldV.data(), 1);
    XChangeKeyboardMapping(x, kCode, perCode, oldK.data(), 1);
    XSync(x, False);

    // X11's primary selection is a pasteboard of its own.
    ASSERT_TRUE(pasteboard.supportsSelection());
    pasteboard.setText(QStringLiteral("selected"), platform::PasteboardKind::Selection);
    EXPECT_EQ(pasteboard.text(platform::PasteboardKind::Selection), QStringLiteral("selected"));
    EXPECT_EQ(pasteboard.text(), QStringLiteral("moved"));
}

} // namespace
