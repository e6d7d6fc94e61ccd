// The capture tool, the hot key and the drag monitor on a real X server,
// driven by synthetic pointer and key events (XTest). Run under xvfb-run
// with QT_QPA_PLATFORM=xcb; QT_SCALE_FACTOR may be set, and several screens
// may be laid side by side as RandR monitors on one root window (xrandr
// --setmonitor), each with its own scale (QT_SCREEN_SCALE_FACTORS).
//
// PRAVIK_DEMO_DIR, when set, receives pictures of the capture window with a
// selection and annotations and of the result window (scripts/capture-demo.sh).
#include "core/KWLangManager.h"
#include "core/MMUserInfo.h"
#include "core/Notifications.h"
#include "core/RCImageButton.h"
#include "fakes/FakeHttpServer.h"
#include "fakes/FakeImageOcrService.h"
#include "fakes/FakeKeyPoster.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeTextTranslationService.h"
#include "fakes/VirtualTime.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"
#include "platform/QtPasteboard.h"
#include "platform/X11DesktopWatch.h"
#include "platform/X11DragMonitor.h"
#include "platform/X11GlobalHotkey.h"
#include "platform/X11ScreenGrabber.h"
#include "platform/X11WindowList.h"
#include "translate/MMsnipTransWC.h"
#include "translate/RCSnipWindowController.h"
#include "translate/Selection.h"
#include "translate/SnipManager.h"
#include "translate/SnipUtil.h"
#include "translate/SnipView.h"
#include "translate/ToolContainer.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

#include <map>

// Xlib last: its macros would break the headers after it.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>
#include <X11/keysym.h>

namespace {

// Colour of device pixel (x, y) of the pattern window: every pixel differs.
QRgb capturePatternPixel(int x, int y)
{
    return qRgb((x * 7) % 256, (y * 5) % 256, (x + y) % 256);
}

class CapturePatternWindow : public QWidget {
public:
    CapturePatternWindow()
        : QWidget(nullptr, Qt::FramelessWindowHint)
    {
    }
    QImage pattern() const
    {
        const double ratio = devicePixelRatioF();
        QImage image(QSize(qRound(width() * ratio), qRound(height() * ratio)), QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, capturePatternPixel(x, y));
        image.setDevicePixelRatio(ratio);
        return image;
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.drawImage(QPointF(0, 0), pattern());
    }
};

bool captureWaitFor(const std::function<bool()>& condition, int ms = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void captureSettle(int ms = 150)
{
    captureWaitFor([] { return false; }, ms);
}

class CaptureX11Test : public ::testing::Test {
protected:
    CaptureX11Test()
    {
        display_ = XOpenDisplay(nullptr);
        grabber_ = platform::X11ScreenGrabber::open();
        windowList_ = platform::X11WindowList::open();
        desktopWatch_ = platform::X11DesktopWatch::open();
    }
    ~CaptureX11Test() override
    {
        if (manager_)
            manager_->endCapture({});
        manager_.reset();
        if (display_)
            XCloseDisplay(display_);
    }

    void SetUp() override
    {
        ASSERT_TRUE(display_ && grabber_ && windowList_ && desktopWatch_) << "needs an X server";
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        manager_ = std::make_unique<SnipManager>(
            *grabber_, *windowList_, center_, pasteboard_, user_, desktopWatch_.get());
    }

    // A logical desktop point as the X server's device pixel.
    static QPoint devicePoint(const QPointF& logical)
    {
        QScreen* screen = QGuiApplication::screenAt(logical.toPoint());
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        const QPointF origin = screen->geometry().topLeft();
        return (origin + (logical - origin) * screen->devicePixelRatio()).toPoint();
    }

    void moveTo(const QPointF& logical)
    {
        const QPoint p = devicePoint(logical);
        XTestFakeMotionEvent(display_, -1, p.x(), p.y(), 0);
        XFlush(display_);
        captureSettle(60);
    }
    void button(bool down)
    {
        XTestFakeButtonEvent(display_, 1, down, 0);
        XFlush(display_);
        captureSettle(60);
    }
    void dragFromTo(const QPointF& from, const QPointF& to)
    {
        moveTo(from);
        button(true);
        moveTo((from + to) / 2);
        moveTo(to);
        button(false);
    }
    void clickAt(const QPointF& logical)
    {
        moveTo(logical);
        button(true);
        button(false);
    }
    void key(KeySym symbol, std::initializer_list<KeySym> modifiers = {})
    {
        for (KeySym m : modifiers)
            XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, m), True, 0);
        XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, symbol), True, 0);
        XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, symbol), False, 0);
        for (KeySym m : modifiers)
            XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, m), False, 0);
        XFlush(display_);
        captureSettle(100);
    }

    // Shows the pattern window at a logical place and waits until the
    // server shows it.
    void showPattern(CapturePatternWindow& window, const QRect& geometry)
    {
        window.setGeometry(geometry);
        window.show();
        ASSERT_TRUE(captureWaitFor([&] {
            const QImage shot = grabber_->grab(QRect(devicePoint(geometry.topLeft()), QSize(2, 2)));
            return !shot.isNull() && shot.pixel(1, 1) == capturePatternPixel(1, 1);
        })) << "the pattern window never appeared";
    }

    RCSnipWindowController* controllerAt(const QPointF& logical) const
    {
        for (RCSnipWindowController* c : manager_->windowControllers()) {
            if (c->screenFrame().contains(logical))
                return c;
        }
        return nullptr;
    }

    void saveDemo(const QString& name, const QRect& logical) const
    {
        const QString dir = qEnvironmentVariable("PRAVIK_DEMO_DIR");
        if (dir.isEmpty())
            return;
        const QRect device(devicePoint(logical.topLeft()), devicePoint(logical.bottomRight() + QPoint(1, 1)));
        grabber_->grab(device).save(QDir(dir).filePath(name));
    }

    // The server's own word on where a screen lies, independent of Qt and
    // of the grabber: the RandR monitor of its name, else the root window.
    QRect serverArea(const QScreen& screen) const
    {
        const Window root = DefaultRootWindow(display_);
        XWindowAttributes attributes {};
        XGetWindowAttributes(display_, root, &attributes);
        QRect area(0, 0, attributes.width, attributes.height);
        int count = 0;
        XRRMonitorInfo* monitors = XRRGetMonitors(display_, root, True, &count);
        for (int i = 0; i < count; ++i) {
            char* name = XGetAtomName(display_, monitors[i].name);
            if (QString::fromUtf8(name) == screen.name())
                area = QRect(monitors[i].x, monitors[i].y, monitors[i].width, monitors[i].height);
            XFree(name);
        }
        if (monitors)
            XRRFreeMonitors(monitors);
        return area;
    }

    static void savePicture(const QString& name, const QImage& picture)
    {
        const QString dir = qEnvironmentVariable("PRAVIK_DEMO_DIR");
        if (!dir.isEmpty())
            picture.save(QDir(dir).filePath(name));
    }

    Display* display_ = nullptr;
    std::unique_ptr<platform::X11ScreenGrabber> grabber_;
    std::unique_ptr<platform::X11WindowList> windowList_;
    std::unique_ptr<platform::X11DesktopWatch> desktopWatch_;
    QTemporaryDir dir_;
    platform::Preferences prefs_ { dir_.filePath(QStringLiteral("defaults.plist")) };
    MMUserInfo user_ { prefs_ };
    platform::NotificationCenter center_;
    platform::QtPasteboard pasteboard_;
    std::unique_ptr<SnipManager> manager_;
};

TEST_F(CaptureX11Test, EscapeThroughTheKeyboardGrabEndsTheSession)
{
    manager_->startCapture();
    ASSERT_FALSE(manager_->windowControllers().empty());
    for (RCSnipWindowController* c : manager_->windowControllers())
        EXPECT_EQ(c->window()->geometry(), c->screen()->geometry());
    QPointer<RCSnipWindow> window = manager_->windowControllers().front()->window();
    ASSERT_TRUE(captureWaitFor([&] { return window->isVisible(); }));
    captureSettle(300); // the keyboard grab needs the window mapped
    key(XK_Escape);
    EXPECT_TRUE(captureWaitFor([&] { return !manager_->isWorking(); })) << "Escape reached the capture";
    EXPECT_TRUE(!window || !window->isVisible());
}

// On every screen, whatever its scale: the picture is the whole screen in
// its own device pixels (not black, nothing cut off), the window list's
// frames land on the windows, and a selection gives exactly its pixels.
TEST_F(CaptureX11Test, EveryScreenIsCapturedWholeInItsOwnPixels)
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    std::vector<std::unique_ptr<CapturePatternWindow>> patterns;
    std::vector<QRect> frames;
    for (QScreen* screen : screens) {
        // Logical places that fall on whole device pixels at 1.25 and 1.5.
        const QRect frame(screen->geometry().topLeft() + QPoint(80, 40), QSize(240, 160));
        patterns.push_back(std::make_unique<CapturePatternWindow>());
        showPattern(*patterns.back(), frame);
        frames.push_back(frame);
    }
    // Each screen's bottom right corner as the server shows it before the
    // capture covers it.
    std::map<const QScreen*, QImage> corners;
    for (QScreen* screen : screens) {
        const QRect area = serverArea(*screen);
        corners[screen] = grabber_->grab(QRect(area.bottomRight() - QPoint(7, 7), QSize(8, 8))).copy();
    }
    manager_->startCapture();
    ASSERT_EQ(manager_->windowControllers().size(), size_t(screens.size()));
    captureSettle(300);
    for (size_t i = 0; i < frames.size(); ++i) {
        RCSnipWindowController* c = controllerAt(QPointF(frames[i].center()));
        ASSERT_NE(c, nullptr);
        const QRect area = serverArea(*c->screen());
        SCOPED_TRACE(c->screen()->name().toStdString() + " at "
            + std::to_string(c->screen()->devicePixelRatio()));
        const QImage& origin = c->originImage();
        ASSERT_EQ(origin.size(), area.size()) << "the screen's own pixels, not its logical size times its scale";
        QImage corner = origin.copy(origin.rect().adjusted(origin.width() - 8, origin.height() - 8, 0, 0));
        corner.setDevicePixelRatio(1);
        EXPECT_EQ(corner, corners[c->screen()]) << "the bottom right corner is the screen's";
        const QPoint inPicture = devicePoint(frames[i].topLeft()) - area.topLeft();
        EXPECT_EQ(origin.pixel(inPicture + QPoint(3, 2)), capturePatternPixel(3, 2)) << "the pattern window";

        // Hovering over the window highlights its frame from the window list.
        moveTo(QPointF(frames[i].center()));
        moveTo(QPointF(frames[i].center()) + QPointF(1, 1));
        EXPECT_EQ(c->captureWindowRect().toAlignedRect(), frames[i]);
    }

    // A selection on the last screen.
    const QRect last = frames.back();
    RCSnipWindowController* c = controllerAt(QPointF(last.center()));
    dragFromTo(QPointF(last.topLeft() + QPoint(20, 20)), QPointF(last.topLeft() + QPoint(139, 99)));
    ASSERT_EQ(manager_->captureState(), SnipManager::AreaSet);
    const QImage picture = c->getCaptureImage();
    const double ratio = c->screen()->devicePixelRatio();
    ASSERT_EQ(picture.size(), QSize(qRound(120 * ratio), qRound(80 * ratio)));
    const int offset = qRound(20 * ratio);
    bool exact = true;
    for (int y = 0; y < picture.height() && exact; ++y)
        for (int x = 0; x < picture.width() && exact; ++x)
            exact = picture.pixel(x, y) == capturePatternPixel(offset + x, offset + y);
    EXPECT_TRUE(exact) << "the selection holds exactly the pattern's pixels";
    saveDemo(QStringLiteral("capture-screen-%1.png").arg(screens.size() - 1), last.adjusted(-60, -30, 60, 30));
    savePicture(QStringLiteral("capture-selection-%1.png").arg(ratio), picture);
}

// The window manager shows another virtual desktop: the capture ends as
// when the screens change. The same number written again is no switch.
TEST_F(CaptureX11Test, SwitchingTheVirtualDesktopEndsTheSession)
{
    const Window root = DefaultRootWindow(display_);
    const Atom current = XInternAtom(display_, "_NET_CURRENT_DESKTOP", False);
    auto showDesktop = [&](unsigned long number) {
        XChangeProperty(display_, root, current, XA_CARDINAL, 32, PropModeReplace,
            reinterpret_cast<const unsigned char*>(&number), 1);
        XFlush(display_);
        captureSettle(200);
    };
    showDesktop(0);
    int cancels = 0;
    platform::ObserverToken token = center_.addObserver(
        notifications::kHadCancelSnipTrans, [&](const platform::Notification&) { ++cancels; });
    manager_->startCapture();
    QPointer<RCSnipWindow> window = manager_->windowControllers().front()->window();
    ASSERT_TRUE(captureWaitFor([&] { return window->isVisible(); }));
    showDesktop(0);
    EXPECT_TRUE(manager_->isWorking()) << "the same desktop again";
    showDesktop(1);
    EXPECT_TRUE(captureWaitFor([&] { return !manager_->isWorking(); })) << "another desktop ends the capture";
    EXPECT_TRUE(!window || !window->isVisible());
    EXPECT_EQ(cancels, 1);
    showDesktop(0);
    EXPECT_EQ(cancels, 1) << "outside a session nothing is posted";
    XDeleteProperty(display_, root, current);
    XFlush(display_);
}

TEST_F(CaptureX11Test, AHeldPictureKeepsItsPixelsWhileTheScreenIsReadAgain)
{
    EXPECT_TRUE(grabber_->usesSharedMemory()) << "a local server shares memory";
    CapturePatternWindow pattern;
    const QRect frame(50, 50, 120, 80);
    showPattern(pattern, frame);
    const QRect device(devicePoint(frame.topLeft()), QSize(20, 20));
    const QImage held = grabber_->grab(device);
    const QImage expected = held.copy();
    ASSERT_EQ(expected.pixel(1, 1), capturePatternPixel(1, 1));
    pattern.hide();
    ASSERT_TRUE(captureWaitFor([&] { return grabber_->grab(device).pixel(1, 1) != capturePatternPixel(1, 1); }))
        << "the pattern window never went";
    EXPECT_NE(grabber_->grab(device), expected);
    EXPECT_EQ(held, expected) << "a later read wrote over a picture still held";
}

TEST_F(CaptureX11Test, ASecondSessionShowsTheScreenAsItIsThen)
{
    manager_->startCapture();
    ASSERT_FALSE(manager_->windowControllers().empty());
    QPointer<RCSnipWindow> first = manager_->windowControllers().front()->window();
    ASSERT_TRUE(captureWaitFor([&] { return first->isVisible(); }));
    manager_->endCapture({});
    EXPECT_FALSE(first->isVisible());

    CapturePatternWindow pattern;
    const QRect frame(60, 40, 100, 90);
    showPattern(pattern, frame);
    manager_->startCapture();
    RCSnipWindowController* c = controllerAt(frame.center());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->window(), first.data()) << "the window of the first session is shown again";
    ASSERT_TRUE(captureWaitFor([&] { return c->window()->isVisible(); }));
    const QPoint at = devicePoint(frame.topLeft()) - devicePoint(c->screenFrame().topLeft().toPoint());
    EXPECT_EQ(c->originImage().pixel(at + QPoint(1, 1)), capturePatternPixel(1, 1));
    manager_->endCapture({});
}

TEST_F(CaptureX11Test, SelectionWithAnnotationsIsCopiedAndSavedPixelForPixel)
{
    CapturePatternWindow pattern;
    const QRect patternFrame(100, 100, 300, 200);
    showPattern(pattern, patternFrame);

    manager_->startCapture();
    RCSnipWindowController* c = controllerAt(QPointF(150, 150));
    ASSERT_NE(c, nullptr);
    captureSettle(300);

    // Hover highlights the pattern window from the window list.
    moveTo(QPointF(150, 150));
    moveTo(QPointF(151, 151));
    EXPECT_EQ(c->captureWindowRect().toAlignedRect(), patternFrame);

    // A drag selects (120, 120) to (219, 169): 100 by 50.
    dragFromTo(QPointF(120, 120), QPointF(219, 169));
    ASSERT_EQ(manager_->captureState(), SnipManager::AreaSet);
    EXPECT_EQ(c->captureWindowRect(), QRectF(120, 120, 100, 50));
    ToolContainer* bar = c->snipView()->toolContainer();
    ASSERT_TRUE(bar && bar->isVisible());
    // The bar of the controller in charge at the time of the press.
    auto pressTool = [&](int code) {
        QWidget* tool = c->snipView()->toolContainer()->button(code);
        clickAt(QPointF(tool->mapToGlobal(tool->rect().center())));
    };

    // A rectangle, then an arrow.
    pressTool(ToolContainer::Rectangle);
    EXPECT_EQ(manager_->captureState(), SnipManager::Annotating);
    dragFromTo(QPointF(130, 130), QPointF(160, 150));
    pressTool(ToolContainer::Arrow);
    dragFromTo(QPointF(170, 160), QPointF(210, 130));
    saveDemo(QStringLiteral("capture-window.png"), QRect(0, 60, 480, 280));

    // The picture: the pattern's pixels except where the shapes are drawn.
    const QImage picture = c->getCaptureImage();
    const double ratio = c->originImage().devicePixelRatio();
    const QSize expectedSize(qRound(100 * ratio), qRound(50 * ratio));
    ASSERT_EQ(picture.size(), expectedSize);
    const QPoint offset((QPointF(20, 20) * ratio).toPoint()); // the area's place in the pattern window
    auto patternAt = [&](QPointF logicalInArea) {
        const QPoint p = (logicalInArea * ratio).toPoint();
        return capturePatternPixel(offset.x() + p.x(), offset.y() + p.y());
    };
    auto pictureAt = [&](QPointF logicalInArea) { return picture.pixel((logicalInArea * ratio).toPoint()); };
    EXPECT_EQ(pictureAt({ 2, 45 }), patternAt({ 2, 45 })) << "away from every shape";
    EXPECT_EQ(pictureAt({ 95, 3 }), patternAt({ 95, 3 }));
    EXPECT_EQ(pictureAt({ 10, 20 }), qRgb(255, 0, 0)) << "the rectangle's left side";
    EXPECT_EQ(pictureAt({ 25, 20 }), patternAt({ 25, 20 })) << "inside the rectangle";
    EXPECT_EQ(pictureAt({ 70, 25 }), qRgb(255, 0, 0)) << "the arrow's shaft";
    int unchanged = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            unchanged += picture.pixel(x, y) == capturePatternPixel(offset.x() + x, offset.y() + y);
    EXPECT_GT(unchanged, picture.width() * picture.height() * 8 / 10);

    // Save: a PNG that an independent reader decodes to the same pixels.
    const QString saved = dir_.filePath(QStringLiteral("picture.png"));
    manager_->setSavePathChooser([&](const QString&, const QString&) { return saved; });
    pressTool(ToolContainer::Export);
    EXPECT_FALSE(manager_->isWorking());
    QProcess convert;
    convert.start(QStringLiteral("convert"), { saved, QStringLiteral("-depth"), QStringLiteral("8"), QStringLiteral("rgb:-") });
    ASSERT_TRUE(convert.waitForFinished(20000));
    const QByteArray rgb = convert.readAllStandardOutput();
    ASSERT_EQ(rgb.size(), picture.width() * picture.height() * 3);
    bool same = true;
    for (int y = 0; y < picture.height() && same; ++y)
        for (int x = 0; x < picture.width() && same; ++x) {
            const qsizetype i = (qsizetype(y) * picture.width() + x) * 3;
            same = qRgb(uchar(rgb[i]), uchar(rgb[i + 1]), uchar(rgb[i + 2])) == picture.pixel(x, y);
        }
    EXPECT_TRUE(same) << "the saved file holds the picture's pixels";

    // OK copies the selected pixels to the clipboard.
    manager_->startCapture();
    c = controllerAt(QPointF(150, 150));
    captureSettle(300);
    dragFromTo(QPointF(300, 200), QPointF(339, 229));
    pressTool(ToolContainer::Ok);
    EXPECT_FALSE(manager_->isWorking());
    const QImage copied = QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(copied.size(), QSize(qRound(40 * ratio), qRound(30 * ratio)));
    const QPoint copiedOffset((QPointF(200, 100) * ratio).toPoint());
    bool exact = true;
    for (int y = 0; y < copied.height() && exact; ++y)
        for (int x = 0; x < copied.width() && exact; ++x)
            exact = copied.pixel(x, y) == capturePatternPixel(copiedOffset.x() + x, copiedOffset.y() + y);
    EXPECT_TRUE(exact) << "the clipboard holds exactly the selected pixels";
}

TEST_F(CaptureX11Test, TheWindowManagersStackingListGivesFramesAndLayers)
{
    CapturePatternWindow pattern;
    showPattern(pattern, QRect(100, 100, 300, 200));
    CapturePatternWindow desktop;
    showPattern(desktop, QRect(20, 320, 60, 40)); // on screen at scale 2 too
    const Window root = DefaultRootWindow(display_);
    auto atom = [&](const char* name) { return XInternAtom(display_, name, False); };
    // As a window manager keeps them: bottom to top, frame extents left,
    // right, top, bottom, and a desktop window.
    const unsigned long stack[] = { desktop.winId(), pattern.winId() };
    XChangeProperty(display_, root, atom("_NET_CLIENT_LIST_STACKING"), XA_WINDOW, 32, PropModeReplace,
        reinterpret_cast<const unsigned char*>(stack), 2);
    const unsigned long extents[] = { 4, 4, 20, 4 };
    XChangeProperty(display_, pattern.winId(), atom("_NET_FRAME_EXTENTS"), XA_CARDINAL, 32, PropModeReplace,
        reinterpret_cast<const unsigned char*>(extents), 4);
    const unsigned long desktopType[] = { atom("_NET_WM_WINDOW_TYPE_DESKTOP") };
    XChangeProperty(display_, desktop.winId(), atom("_NET_WM_WINDOW_TYPE"), XA_ATOM, 32, PropModeReplace,
        reinterpret_cast<const unsigned char*>(desktopType), 1);
    XSync(display_, False);

    const QList<platform::WindowInfo> windows = windowList_->windows();
    XDeleteProperty(display_, root, atom("_NET_CLIENT_LIST_STACKING"));
    XSync(display_, False);
    ASSERT_EQ(windows.size(), 2);
    const double ratio = pattern.devicePixelRatioF();
    const QRect client(devicePoint(QPointF(100, 100)), QSize(qRound(300 * ratio), qRound(200 * ratio)));
    EXPECT_EQ(windows[0].frame, client.adjusted(-4, -20, 4, 4)) << "front first, with its frame";
    EXPECT_EQ(windows[0].layer, 0);
    EXPECT_EQ(windows[1].layer, -1) << "the desktop";
}

TEST_F(CaptureX11Test, HotkeyIsDeliveredThroughTheGrabWhateverTheLocksAndRefusedWhenTaken)
{
    auto hotkey = platform::X11GlobalHotkey::open();
    ASSERT_TRUE(hotkey);
    int presses = 0;
    const platform::Hotkey ctrl3 { 20, platform::Hotkey::kCommand };
    ASSERT_EQ(hotkey->registerHotkey(ctrl3, [&] { ++presses; }), platform::GlobalHotkey::Result::Registered);
    key(XK_3, { XK_Control_L });
    EXPECT_TRUE(captureWaitFor([&] { return presses == 1; }));
    key(XK_Caps_Lock);
    key(XK_3, { XK_Control_L });
    EXPECT_TRUE(captureWaitFor([&] { return presses == 2; })) << "with Caps Lock on";
    key(XK_Caps_Lock);
    key(XK_3);
    captureSettle();
    EXPECT_EQ(presses, 2) << "3 without Ctrl is not the hot key";

    auto other = platform::X11GlobalHotkey::open();
    EXPECT_EQ(other->registerHotkey(ctrl3, [] {}), platform::GlobalHotkey::Result::Taken);

    // A new key replaces the old one.
    const platform::Hotkey ctrlShiftA { 0, platform::Hotkey::kCommand | platform::Hotkey::kShift };
    ASSERT_EQ(hotkey->registerHotkey(ctrlShiftA, [&] { presses += 10; }), platform::GlobalHotkey::Result::Registered);
    key(XK_3, { XK_Control_L });
    key(XK_a, { XK_Control_L, XK_Shift_L });
    EXPECT_TRUE(captureWaitFor([&] { return presses == 12; }));
    EXPECT_EQ(other->registerHotkey(ctrl3, [] {}), platform::GlobalHotkey::Result::Registered) << "the old key is free";
}

TEST_F(CaptureX11Test, DragsAreReportedOnceAndClicksNot)
{
    auto monitor = platform::X11DragMonitor::open();
    ASSERT_TRUE(monitor);
    int drags = 0;
    ASSERT_TRUE(monitor->start([&] { ++drags; }));
    captureSettle();
    clickAt(QPointF(500, 400));
    captureSettle();
    EXPECT_EQ(drags, 0) << "a click is no drag";
    dragFromTo(QPointF(500, 400), QPointF(600, 420));
    EXPECT_TRUE(captureWaitFor([&] { return drags == 1; }));
    monitor->stop();
    dragFromTo(QPointF(500, 400), QPointF(600, 420));
    captureSettle();
    EXPECT_EQ(drags, 1);
}

TEST_F(CaptureX11Test, ResultWindowShowsRecognitionAndTranslation)
{
    fakes::FakeImageOcrService ocr { QStringLiteral("ocr-key") };
    fakes::FakeTextTranslationService translation { QStringLiteral("translate-key") };
    mmApiKeyItem keys;
    keys.azure_ocr_key = QStringLiteral("ocr-key");
    keys.azure_ocr_url = ocr.baseUrl();
    keys.azure_translate_key = QStringLiteral("translate-key");
    keys.azure_translate_url = translation.address();
    user_.setApikeyItem(keys);
    user_.setIpCountry(QStringLiteral("us"));
    KWLangManager languages { prefs_, { QStringLiteral("en-US") }, [] { return QStringLiteral("us"); } };
    fakes::FakePasteboard board;
    fakes::FakeKeyPoster keysPoster { &board };
    fakes::VirtualTime time;
    Selection selection { board, keysPoster, time };
    MMsnipTransWC window({ *manager_, selection, user_, languages, center_, board, QString(), QString() });
    ocr.reply(fakes::FakeImageOcrService::recognised(QStringLiteral("en"),
        { { { QStringLiteral("Screenshot"), QStringLiteral("translation") },
            { QStringLiteral("turns"), QStringLiteral("pictures"), QStringLiteral("into"), QStringLiteral("text.") } } }));
    translation.reply(fakes::FakeTextTranslationService::translation(
        QStringLiteral("截屏翻译\n把图片变成文字。"), QStringLiteral("zh-Hans")));
    window.move(80, 80);
    QImage picture(200, 60, QImage::Format_RGB32);
    picture.fill(Qt::white);
    window.recognizeImage(picture);
    ASSERT_TRUE(captureWaitFor([&] { return !window.translationText().isEmpty(); }, 15000));
    EXPECT_EQ(window.sourceText(), QStringLiteral("Screenshot translation \nturns pictures into text. \n"));
    EXPECT_EQ(ocr.problems(), QStringList());
    EXPECT_EQ(translation.problems(), QStringList());
    captureSettle(500);
    saveDemo(QStringLiteral("result-window.png"), window.frameGeometry().adjusted(-10, -10, 10, 10));
}

} // namespace
