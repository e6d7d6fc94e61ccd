// The capture session on the offscreen platform: a fake desktop picture,
// a scripted window list, pointer input given to the capture windows.
#include "core/KWLangManager.h"
#include "core/LGNLocalizedString.h"
#include "core/MMUserInfo.h"
#include "core/Notifications.h"
#include "core/RCImageButton.h"
#include "fakes/FakeDesktopWatch.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeScreenGrabber.h"
#include "fakes/FakeWindowList.h"
#include "fakes/ScopedEnv.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"
#include "platform/UserNotices.h"
#include "translate/DrawPathView.h"
#include "translate/RCSnipWindowController.h"
#include "translate/SimpleLabelView.h"
#include "translate/SnipManager.h"
#include "translate/SnipUtil.h"
#include "translate/SnipView.h"
#include "translate/ToolContainer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

// Every pixel of the desktop has its own colour, so a picture of an area
// tells exactly which pixels it holds.
QImage snipPatternDesktop(QSize size)
{
    QImage desktop(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            desktop.setPixel(x, y, qRgb(x % 256, y % 256, (x / 256) * 16 + y / 256 + 64));
    return desktop;
}

class SnipCaptureTest : public ::testing::Test {
protected:
    SnipCaptureTest()
        : prefs_(dir_.filePath(QStringLiteral("defaults.plist")))
        , user_(prefs_)
        , manager_(grabber_, windows_, center_, pasteboard_, user_, &desktop_)
    {
        screen_ = QGuiApplication::primaryScreen();
        frame_ = screen_->geometry();
        grabber_.setDesktop(snipPatternDesktop(frame_.size()));
        token_ = center_.addObserver({}, [this](const platform::Notification& n) {
            if (n.name != SnipManager::kNotifyMouseLocationChange)
                posted_.push_back(n);
        });
    }
    ~SnipCaptureTest() override { manager_.endCapture({}); }

    RCSnipWindowController& start()
    {
        manager_.startCapture();
        EXPECT_EQ(manager_.windowControllers().size(), size_t(QGuiApplication::screens().size()));
        return *manager_.windowControllers().front();
    }

    // A press, a drag in steps and a release.
    static void drag(RCSnipWindowController& c, QPointF from, QPointF to)
    {
        c.mouseDown(from, 1);
        c.mouseDragged((from + to) / 2);
        c.mouseDragged(to);
        c.mouseUp(to);
    }

    // Area (10, 10) to (209, 109) set by a drag.
    RCSnipWindowController& startWithArea()
    {
        RCSnipWindowController& c = start();
        drag(c, { 10, 10 }, { 209, 109 });
        return c;
    }

    QImage translated(RCSnipWindowController& c)
    {
        QImage result;
        bool called = false;
        manager_.setSnipCallback([&](const QImage& image) {
            called = true;
            result = image;
        });
        c.onToolClick(ToolContainer::Translate);
        EXPECT_TRUE(called);
        return result;
    }

    QTemporaryDir dir_;
    platform::Preferences prefs_;
    MMUserInfo user_;
    fakes::FakeScreenGrabber grabber_;
    fakes::FakeWindowList windows_;
    platform::NotificationCenter center_;
    fakes::FakePasteboard pasteboard_;
    fakes::FakeDesktopWatch desktop_;
    SnipManager manager_;
    QScreen* screen_ = nullptr;
    QRect frame_;
    std::vector<platform::Notification> posted_;
    platform::ObserverToken token_;
};

TEST(SnipUtilTest, Geometry)
{
    EXPECT_EQ(SnipUtil::uniformRect(QRectF(10, 10, -4, 6)), QRectF(6, 10, 4, 6));
    EXPECT_EQ(SnipUtil::uniformRect(QRectF(10, 10, 4, -6)), QRectF(10, 4, 4, 6));
    EXPECT_EQ(SnipUtil::uniformRect(QRectF(1, 2, 3, 4)), QRectF(1, 2, 3, 4));
    EXPECT_EQ(SnipUtil::pointDistance({ 0, 0 }, { 3, 4 }), 25);
    EXPECT_EQ(SnipUtil::rectToZero(QRectF(-40, 12.5, 30, 20)), QRectF(0, 0, 30, 20));
    const QRectF r(10, 10, 20, 20);
    struct Case {
        QPointF point;
        bool inside;
    };
    for (const Case& c : { Case { { 10, 10 }, true }, Case { { 29.9, 29.9 }, true }, Case { { 30, 20 }, false },
             Case { { 20, 30 }, false }, Case { { 9.9, 20 }, false } })
        EXPECT_EQ(SnipUtil::isPointInRect(c.point, r), c.inside) << c.point.x() << "," << c.point.y();
}

TEST_F(SnipCaptureTest, OneWindowPerScreenAndASecondStartIsIgnored)
{
    RCSnipWindowController& c = start();
    manager_.startCapture();
    EXPECT_EQ(manager_.windowControllers().size(), size_t(QGuiApplication::screens().size()));
    EXPECT_TRUE(c.window()->isVisible());
    EXPECT_EQ(c.window()->geometry(), frame_);
    EXPECT_EQ(grabber_.requests().size(), QGuiApplication::screens().size());
    EXPECT_EQ(windows_.reads(), 1);
    EXPECT_EQ(c.originImage().size(), frame_.size());
}

TEST_F(SnipCaptureTest, EndingPostsByResult)
{
    manager_.endCapture({});
    EXPECT_TRUE(posted_.empty()) << "no session, no notification";

    RCSnipWindowController& c = start();
    QPointer<RCSnipWindow> window = c.window();
    manager_.endCapture({});
    EXPECT_FALSE(manager_.isWorking());
    EXPECT_FALSE(window->isVisible());
    ASSERT_EQ(posted_.size(), 2u);
    EXPECT_EQ(posted_[0].name, SnipManager::kNotifyCaptureEnd);
    EXPECT_TRUE(posted_[0].userInfo.isEmpty());
    EXPECT_EQ(posted_[1].name, notifications::kHadCancelSnipTrans);

    posted_.clear();
    start();
    QImage picture(4, 4, QImage::Format_RGB32);
    picture.fill(Qt::green);
    manager_.endCapture(picture);
    ASSERT_EQ(posted_.size(), 1u);
    EXPECT_EQ(posted_[0].userInfo.value(SnipManager::kImageKey).value<QImage>(), picture);

    // A change of the screens or of the desktop shown ends a session like a
    // cancel, and outside one does nothing.
    for (const auto& change : std::vector<std::function<void()>> {
             [&] { manager_.screenChanged(); }, [&] { desktop_.switchDesktop(); } }) {
        posted_.clear();
        QPointer<RCSnipWindow> shown = start().window();
        change();
        EXPECT_FALSE(manager_.isWorking());
        EXPECT_FALSE(shown && shown->isVisible());
        ASSERT_EQ(posted_.size(), 2u);
        EXPECT_TRUE(posted_[0].name == SnipManager::kNotifyCaptureEnd && posted_[0].userInfo.isEmpty());
        EXPECT_EQ(posted_[1].name, notifications::kHadCancelSnipTrans);
        change();
        EXPECT_EQ(posted_.size(), 2u);
    }
}

TEST(SnipManagerTest, TheDesktopWatchIsLetGoWithTheManager)
{
    QTemporaryDir dir;
    platform::Preferences prefs(dir.filePath(QStringLiteral("defaults.plist")));
    MMUserInfo user(prefs);
    fakes::FakeScreenGrabber grabber;
    fakes::FakeWindowList windows;
    platform::NotificationCenter center;
    fakes::FakePasteboard pasteboard;
    fakes::FakeDesktopWatch desktop;
    {
        SnipManager manager(grabber, windows, center, pasteboard, user, &desktop);
        EXPECT_TRUE(desktop.hasHandler());
    }
    EXPECT_FALSE(desktop.hasHandler());
    desktop.switchDesktop(); // reaches no manager that is gone
}

TEST_F(SnipCaptureTest, ExportFolderIsThePicturesFolderUntilConfiguredAndGetsItsSnipFolder)
{
    QTemporaryDir home;
    fakes::ScopedEnv homeVariable("HOME", home.path());
    fakes::ScopedEnv config("XDG_CONFIG_HOME", home.filePath(QStringLiteral(".config")));
    EXPECT_EQ(manager_.getExportPath(), home.filePath(QStringLiteral("Pictures/snip")));
    EXPECT_TRUE(QFileInfo(home.filePath(QStringLiteral("Pictures/snip"))).isDir());
    EXPECT_EQ(manager_.exportPath(), home.filePath(QStringLiteral("Pictures")));

    const QString chosen = home.filePath(QStringLiteral("a/b"));
    manager_.configExportPath(chosen);
    EXPECT_EQ(manager_.getExportPath(), chosen + QStringLiteral("/snip"));
    EXPECT_TRUE(QFileInfo(chosen + QStringLiteral("/snip")).isDir()) << "made with the folders above it";
    EXPECT_EQ(SnipManager::checkSnipFolder(chosen), chosen + QStringLiteral("/snip")) << "an existing one is kept";

    // A file where a folder should be: no folder, and no path that does not exist.
    QFile blocker(home.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_EQ(SnipManager::checkSnipFolder(blocker.fileName()), QString());

    manager_.cancelCapture();
    EXPECT_FALSE(manager_.isWorking());
    RCSnipWindowController& c = start();
    manager_.cancelCapture();
    EXPECT_TRUE(manager_.isWorking()) << "a cancel asks nothing of a running session";
    EXPECT_TRUE(c.window()->isVisible());
}

TEST_F(SnipCaptureTest, AnUnreadableScreenIsReportedAndStartsNothing)
{
    platform::UserNotices::shared().resetForTesting();
    grabber_.setAvailable(false);
    manager_.startCapture();
    EXPECT_FALSE(manager_.isWorking());
    EXPECT_TRUE(manager_.windowControllers().empty());
    EXPECT_TRUE(platform::UserNotices::shared().wasPosted(SnipManager::kNotAvailableNoticeKey));
    platform::UserNotices::shared().resetForTesting();
}

// The screen reader says where the screen lies; a picture it gives smaller
// than asked (the server clips at the desktop's edge) is shown and used as
// it is, and no picture at all gives no selection picture, never a black one.
TEST_F(SnipCaptureTest, TheScreensOwnAreaIsReadAndAClippedPictureIsKept)
{
    grabber_.setScreenArea(screen_->name(), QRect(frame_.topLeft(), frame_.size() + QSize(1, 1)));
    RCSnipWindowController& c = start();
    EXPECT_EQ(grabber_.requests().front(), QRect(frame_.topLeft(), frame_.size() + QSize(1, 1)));
    EXPECT_EQ(c.originImage().size(), frame_.size()) << "what the screen gave, not a black picture";
    drag(c, { 10, 10 }, { 29, 19 });
    EXPECT_EQ(translated(c), snipPatternDesktop(frame_.size()).copy(10, 10, 20, 10));

    grabber_.setScreenArea(screen_->name(), QRect(frame_.width(), 0, 50, 50)); // off the desktop
    RCSnipWindowController& unread = start();
    EXPECT_TRUE(unread.originImage().isNull());
    drag(unread, { 10, 10 }, { 29, 19 });
    EXPECT_TRUE(translated(unread).isNull()) << "nothing to recognise rather than a black picture";
}

TEST_F(SnipCaptureTest, HoverTakesTheFrontmostOrdinaryWindowUnderThePointer)
{
    const QRect whole = frame_;
    windows_.setWindows({
        { QRect(300, 300, 100, 100), 0 },
        { QRect(whole.x(), whole.y(), whole.width(), whole.height()), 3 }, // a panel as large as the screen
        { QRect(50, 50, 200, 100), 0 },
        { QRect(40, 40, 300, 300), 0 }, // behind the one above
        { whole, -1 }, // the desktop
    });
    RCSnipWindowController& c = start();
    struct Case {
        QPointF pointer;
        QRectF expected;
    };
    for (const Case& k : { Case { { 60, 60 }, QRectF(50, 50, 200, 100) }, Case { { 45, 200 }, QRectF(40, 40, 300, 300) },
             Case { { 350, 350 }, QRectF(300, 300, 100, 100) }, Case { { 700, 500 }, QRectF(whole) } }) {
        c.mouseMoved(k.pointer);
        EXPECT_EQ(c.captureWindowRect(), k.expected) << k.pointer.x() << "," << k.pointer.y();
        EXPECT_TRUE(c.snipView()->showsImage());
    }
    // A click selects the highlighted window as it is.
    c.mouseMoved({ 60, 60 });
    c.mouseDown({ 60, 60 }, 1);
    c.mouseUp({ 60, 60 });
    EXPECT_EQ(manager_.captureState(), SnipManager::AreaSet);
    EXPECT_EQ(c.captureWindowRect(), QRectF(50, 50, 200, 100));
    EXPECT_TRUE(c.snipView()->toolContainer()->isVisible());
}

TEST_F(SnipCaptureTest, ADragSelectsBothEndPointsWhicheverWay)
{
    RCSnipWindowController& c = start();
    drag(c, { 10, 10 }, { 20, 30 });
    EXPECT_EQ(c.captureWindowRect(), QRectF(10, 10, 11, 21));
    EXPECT_EQ(manager_.captureState(), SnipManager::AreaSet);
    manager_.endCapture({});

    RCSnipWindowController& d = start();
    drag(d, { 20, 30 }, { 10, 10 });
    EXPECT_EQ(d.captureWindowRect(), QRectF(10, 10, 11, 21));
    // The toolbar sits right-aligned two points under the area.
    EXPECT_EQ(d.snipView()->toolContainer()->geometry(), QRect(0, 33, 258, 26));
}

TEST_F(SnipCaptureTest, HitTestOfHandlesInsideAndOutside)
{
    RCSnipWindowController& c = startWithArea(); // (10, 10, 200, 100)
    struct Case {
        QPointF point;
        int direction;
    };
    for (const Case& k : { Case { { 5, 60 }, 3 }, Case { { 1, 60 }, -1 }, Case { { 10, 10 }, 0 },
             Case { { 110, 10 }, 1 }, Case { { 210, 10 }, 2 }, Case { { 210, 60 }, 4 }, Case { { 10, 110 }, 5 },
             Case { { 110, 110 }, 6 }, Case { { 213, 113 }, 7 }, Case { { 100, 60 }, 8 }, Case { { 60, 12 }, -1 },
             Case { { 300, 300 }, -1 } })
        EXPECT_EQ(c.dragDirectionFromPoint(k.point), k.direction) << k.point.x() << "," << k.point.y();
    manager_.endCapture({});

    // A narrow area is moved by a press anywhere inside, handles included.
    RCSnipWindowController& d = start();
    drag(d, { 10, 10 }, { 25, 109 });
    EXPECT_EQ(d.dragDirectionFromPoint({ 10, 10 }), 8);
    EXPECT_EQ(d.dragDirectionFromPoint({ 25, 60 }), 8);
}

TEST_F(SnipCaptureTest, AHandleDraggedPastTheOppositeEdgeTurnsTheAreaOver)
{
    RCSnipWindowController& c = start();
    drag(c, { 100, 100 }, { 119, 149 }); // (100, 100, 20, 50)
    c.mouseDown({ 120, 150 }, 1);
    ASSERT_EQ(c.dragDirection(), 7);
    c.mouseDragged({ 90, 150 });
    EXPECT_DOUBLE_EQ(c.dragWindowRect().width(), -10);
    EXPECT_EQ(c.captureWindowRect(), QRectF(90, 100, 10, 50));
    c.mouseUp({ 90, 150 });
    EXPECT_EQ(c.snipView()->tipView()->text(), QStringLiteral("10X50"));
}

TEST_F(SnipCaptureTest, MovingStopsFlushWithTheScreenEdge)
{
    RCSnipWindowController& c = startWithArea(); // (10, 10, 200, 100)
    c.mouseDown({ 100, 60 }, 1);
    c.mouseDragged({ 100.0 + frame_.width(), 60 });
    EXPECT_EQ(c.captureWindowRect(), QRectF(frame_.width() - 200, 10, 200, 100));
    // The next step starts from where the clamped area left the pointer
    // (100 plus what the area moved), not from where the pointer went.
    c.mouseDragged({ frame_.width() - 160.0, 60 });
    EXPECT_EQ(c.captureWindowRect(), QRectF(frame_.width() - 250, 10, 200, 100));
}

TEST_F(SnipCaptureTest, OkCopiesExactlyTheSelectedPixelsAndEndsTheSession)
{
    RCSnipWindowController& c = startWithArea();
    c.onToolClick(ToolContainer::Ok);
    EXPECT_EQ(pasteboard_.image(), snipPatternDesktop(frame_.size()).copy(10, 10, 200, 100));
    EXPECT_FALSE(manager_.isWorking());
    ASSERT_EQ(posted_.size(), 2u);
    EXPECT_EQ(posted_[1].name, notifications::kHadCancelSnipTrans);
}

TEST_F(SnipCaptureTest, ADoubleClickCopiesTheHighlightedWindow)
{
    windows_.setWindows({ { QRect(50, 50, 30, 20), 0 } });
    RCSnipWindowController& c = start();
    c.mouseMoved({ 60, 60 });
    c.mouseDown({ 60, 60 }, 1);
    c.mouseUp({ 60, 60 });
    c.mouseDown({ 60, 60 }, 2);
    EXPECT_EQ(pasteboard_.image(), snipPatternDesktop(frame_.size()).copy(50, 50, 30, 20));
    EXPECT_FALSE(manager_.isWorking());
}

TEST_F(SnipCaptureTest, EachShapeChangesThePixelsOnItsOutline)
{
    const QImage plain = snipPatternDesktop(frame_.size()).copy(10, 10, 200, 100);
    struct Case {
        int tool;
        QPointF from, to;
        QPoint onOutline; // in the picture
        QPoint untouched;
    };
    const Case cases[] = {
        { ToolContainer::Rectangle, { 30, 30 }, { 90, 70 }, { 20, 40 }, { 50, 40 } },
        { ToolContainer::Ellipse, { 30, 30 }, { 90, 70 }, { 50, 20 }, { 22, 22 } },
        { ToolContainer::Arrow, { 30, 30 }, { 130, 30 }, { 60, 20 }, { 60, 60 } },
    };
    for (const Case& k : cases) {
        RCSnipWindowController& c = startWithArea();
        c.onToolClick(k.tool);
        EXPECT_EQ(manager_.captureState(), SnipManager::Annotating);
        drag(c, k.from, k.to);
        const QImage picture = translated(c);
        ASSERT_EQ(picture.size(), plain.size());
        EXPECT_EQ(picture.pixel(k.onOutline), qRgb(255, 0, 0)) << k.tool;
        EXPECT_EQ(picture.pixel(k.untouched), plain.pixel(k.untouched)) << k.tool;
        EXPECT_EQ(picture.pixel(0, 0), plain.pixel(0, 0));
    }
}

TEST_F(SnipCaptureTest, ARectangleThenAnArrowAreBothInThePicture)
{
    RCSnipWindowController& c = startWithArea();
    c.onToolClick(ToolContainer::Rectangle);
    drag(c, { 30, 30 }, { 60, 60 });
    c.onToolClick(ToolContainer::Arrow);
    drag(c, { 100, 80 }, { 180, 80 });
    ASSERT_EQ(c.snipView()->pathView()->rectArray().size(), 2);
    const QImage picture = translated(c);
    EXPECT_EQ(picture.pixel(20, 35), qRgb(255, 0, 0)); // the rectangle's left side
    EXPECT_EQ(picture.pixel(130, 70), qRgb(255, 0, 0)); // the arrow's shaft
}

TEST_F(SnipCaptureTest, ShapesTooSmallDrawNothing)
{
    const QImage plain = snipPatternDesktop(frame_.size()).copy(10, 10, 200, 100);
    struct Case {
        int tool;
        QPointF to;
        bool drawn;
    };
    for (const Case& k : { Case { ToolContainer::Arrow, { 53, 46 }, false }, Case { ToolContainer::Arrow, { 55, 50 }, true },
             Case { ToolContainer::Rectangle, { 50.05, 80 }, false }, Case { ToolContainer::Rectangle, { 70, 50 }, true } }) {
        RCSnipWindowController& c = startWithArea();
        c.onToolClick(k.tool);
        drag(c, { 50, 50 }, k.to);
        EXPECT_EQ(translated(c) != plain, k.drawn) << k.tool << " to " << k.to.x() << "," << k.to.y();
    }
}

TEST_F(SnipCaptureTest, TranslateHandsThePictureOnEvenWithoutACallback)
{
    RCSnipWindowController& c = startWithArea();
    c.onToolClick(ToolContainer::Translate);
    EXPECT_FALSE(manager_.isWorking());
    ASSERT_EQ(posted_.size(), 1u);
    EXPECT_EQ(posted_[0].userInfo.value(SnipManager::kImageKey).value<QImage>(),
        snipPatternDesktop(frame_.size()).copy(10, 10, 200, 100));
}

TEST_F(SnipCaptureTest, ToolbarShowsTheLastShapeAndReportsCodes)
{
    RCSnipWindowController& c = startWithArea();
    ToolContainer* bar = c.snipView()->toolContainer();
    // Each button says what it does, in the interface's language.
    const std::pair<int, QString> tips[] = { { ToolContainer::Rectangle, QStringLiteral("画矩形") },
        { ToolContainer::Ellipse, QStringLiteral("画椭圆") }, { ToolContainer::Arrow, QStringLiteral("画箭头") },
        { ToolContainer::Translate, QStringLiteral("识别并翻译选中区域") },
        { ToolContainer::Export, QStringLiteral("保存为图片文件") }, { ToolContainer::Cancel, QStringLiteral("取消截图") },
        { ToolContainer::Ok, QStringLiteral("复制到剪贴板") } };
    for (const auto& [code, key] : tips) {
        EXPECT_EQ(bar->button(code)->toolTip(), LGNLocalizedString::lgnAppLocalizedString(key)) << code;
        EXPECT_NE(LGNLocalizedString::lookup(key, QStringLiteral("en")), key) << "in the tables";
    }
    std::vector<int> codes;
    bar->setToolClick([&](int code) { codes.push_back(code); });
    auto press = [&](int code) {
        QMouseEvent event(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
            Qt::NoModifier);
        QApplication::sendEvent(bar->button(code), &event);
    };
    press(ToolContainer::Rectangle);
    press(ToolContainer::Ellipse);
    EXPECT_EQ(bar->imageName(ToolContainer::Rectangle), ToolContainer::kRectImage);
    EXPECT_EQ(bar->imageName(ToolContainer::Ellipse), ToolContainer::kEllipseSelectedImage);
    EXPECT_EQ(bar->imageName(ToolContainer::Arrow), ToolContainer::kArrowImage);
    EXPECT_FALSE(bar->button(ToolContainer::Ellipse)->pixmap().isNull()) << "images load from the resources";
    bar->setToolClick(nullptr);
    press(ToolContainer::Arrow);
    EXPECT_EQ(bar->imageName(ToolContainer::Arrow), ToolContainer::kArrowSelectedImage);
    EXPECT_EQ(codes, (std::vector<int> { 3, 4 }));
    // The margins of the bar lie outside every button.
    EXPECT_EQ(bar->childAt(5, 10), nullptr);
    EXPECT_EQ(bar->childAt(253, 10), nullptr);
}

TEST_F(SnipCaptureTest, ExportWritesTheChosenFormatWhereTheUserChose)
{
    const QImage expected = snipPatternDesktop(frame_.size()).copy(10, 10, 200, 100);
    struct Case {
        QString name;
        QByteArray format;
    };
    for (const Case& k : { Case { QStringLiteral("a.png"), "png" }, Case { QStringLiteral("b.jpg"), "jpeg" } }) {
        const QString path = dir_.filePath(k.name);
        QString offeredFolder, offeredName;
        manager_.setSavePathChooser([&](const QString& folder, const QString& name) {
            offeredFolder = folder;
            offeredName = name;
            // The capture windows are gone before the dialog opens.
            EXPECT_FALSE(manager_.isWorking());
            return path;
        });
        RCSnipWindowController& c = startWithArea();
        c.onToolClick(ToolContainer::Export);
        EXPECT_TRUE(offeredName.startsWith(QStringLiteral("PK-")) && offeredName.endsWith(QStringLiteral(".png")));
        QImageReader reader(path);
        EXPECT_EQ(reader.format(), k.format);
        const QImage written = reader.read().convertToFormat(QImage::Format_RGB32);
        if (k.format == "png")
            EXPECT_EQ(written, expected);
        else
            EXPECT_EQ(written.size(), expected.size());
        EXPECT_EQ(user_.snipImgPath(), QDir(dir_.path()).absolutePath());
    }
    // Cancelled: nothing is written and the folder stays.
    manager_.setSavePathChooser([](const QString&, const QString&) { return QString(); });
    startWithArea().onToolClick(ToolContainer::Export);
    EXPECT_EQ(QDir(dir_.path()).entryList({ QStringLiteral("*.png"), QStringLiteral("*.jpg") }).size(), 2);
}

// The save dialog the user gets without a chooser set: its title and filter
// in the interface language.
TEST_F(SnipCaptureTest, TheSaveDialogSpeaksTheInterfaceLanguage)
{
    struct RestoreLanguage {
        KWLangManager& languages = KWLangManager::sharedManager();
        const quint64 before = languages.indexOfUI();
        ~RestoreLanguage() { languages.setIndexOfUI(before); }
    } restore;
    KWLangManager& languages = restore.languages;
    struct Case {
        quint64 indexOfUI;
        const char* title;
        const char* filter;
    };
    const Case cases[] = {
        { 1, "Save Image — Choose where to save the image", "Images (*.png *.jpg)" },
        { 0, "保存图片 — 选择图片保存地址", "图片 (*.png *.jpg)" },
        { 4, "이미지 저장 — 이미지 저장 위치 선택", "이미지 (*.png *.jpg)" },
    };
    for (const Case& k : cases) {
        languages.setIndexOfUI(k.indexOfUI);
        QString title;
        QStringList filters;
        bool seen = false;
        // The dialog runs its own loop: look at it from inside and cancel it.
        std::function<void()> inspect = [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) {
                QTimer::singleShot(10, inspect);
                return;
            }
            seen = true;
            title = dialog->windowTitle();
            filters = dialog->nameFilters();
            dialog->reject();
        };
        QTimer::singleShot(0, inspect);
        startWithArea().onToolClick(ToolContainer::Export);
        ASSERT_TRUE(seen) << "language " << k.indexOfUI;
        EXPECT_EQ(title, QString::fromUtf8(k.title));
        EXPECT_EQ(filters, QStringList { QString::fromUtf8(k.filter) });
    }
    EXPECT_TRUE(QDir(dir_.path()).entryList({ QStringLiteral("*.png"), QStringLiteral("*.jpg") }).isEmpty());
}

TEST_F(SnipCaptureTest, EscapeAndRightClickEndTheSessionOnEveryScreen)
{
    RCSnipWindowController& c = start();
    std::vector<QPointer<RCSnipWindow>> windows;
    for (RCSnipWindowController* each : manager_.windowControllers())
        windows.emplace_back(each->window());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(c.window(), &escape);
    EXPECT_FALSE(manager_.isWorking());
    for (const auto& window : windows)
        EXPECT_FALSE(window && window->isVisible());

    RCSnipWindowController& d = startWithArea();
    QMouseEvent right(QEvent::MouseButtonPress, QPointF(50, 50), QPointF(50, 50), Qt::RightButton, Qt::RightButton,
        Qt::NoModifier);
    QApplication::sendEvent(d.window(), &right);
    EXPECT_FALSE(manager_.isWorking());
}

TEST_F(SnipCaptureTest, PointerEventsOfTheWindowDriveTheSelection)
{
    RCSnipWindowController& c = start();
    auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, at, Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(c.window(), &event);
    };
    send(QEvent::MouseButtonPress, { 40, 40 }, Qt::LeftButton);
    send(QEvent::MouseMove, { 80, 60 }, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, { 80, 60 }, Qt::NoButton);
    EXPECT_EQ(c.captureWindowRect(), QRectF(40, 40, 41, 21));
    EXPECT_EQ(manager_.captureState(), SnipManager::AreaSet);
}

} // namespace

namespace {

// Run with two screens of different sizes and scales (see two-screens.json):
// the left one 1024 x 768 at scale 1, the right one 800 x 600 at scale 2
// beside it. Skipped with one screen.
class TwoScreenCaptureTest : public SnipCaptureTest {
protected:
    void SetUp() override
    {
        if (QGuiApplication::screens().size() != 2)
            GTEST_SKIP() << "needs the two-screen configuration";
        // The desktop in device pixels: 1024 + 1600 wide.
        grabber_.setDesktop(snipPatternDesktop(QSize(1024 + 1600, 1200)));
    }
};

TEST_F(TwoScreenCaptureTest, EachScreenIsGrabbedInItsOwnDevicePixels)
{
    manager_.startCapture();
    ASSERT_EQ(manager_.windowControllers().size(), 2u);
    EXPECT_EQ(grabber_.requests(), (QList<QRect> { QRect(0, 0, 1024, 768), QRect(1024, 0, 1600, 1200) }));
    RCSnipWindowController& right = *manager_.windowControllers()[1];
    EXPECT_EQ(right.screenFrame(), QRectF(1024, 0, 800, 600));
    EXPECT_EQ(right.originImage().size(), QSize(1600, 1200));

    // 40 x 30 points at (1100, 100) on the right screen: 80 x 60 pixels.
    drag(right, { 1100, 100 }, { 1139, 129 });
    const QImage picture = translated(right);
    EXPECT_EQ(picture, snipPatternDesktop(QSize(2624, 1200)).copy(1024 + 152, 200, 80, 60));
}

TEST_F(TwoScreenCaptureTest, TheHighlightFollowsThePointerAcrossScreensAndEscapeEndsBoth)
{
    manager_.startCapture();
    RCSnipWindowController& left = *manager_.windowControllers()[0];
    RCSnipWindowController& right = *manager_.windowControllers()[1];
    left.mouseMoved({ 100, 100 });
    EXPECT_TRUE(left.snipView()->showsImage());
    right.mouseMoved({ 1200, 100 });
    EXPECT_TRUE(right.snipView()->showsImage());
    EXPECT_FALSE(left.snipView()->showsImage()) << "the left screen let go of its highlight";

    std::vector<QPointer<RCSnipWindow>> windows { left.window(), right.window() };
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(right.window(), &escape);
    EXPECT_FALSE(manager_.isWorking());
    for (const auto& window : windows)
        EXPECT_FALSE(window && window->isVisible());
}

} // namespace
