// The main window's start-up on the sessions people have: which mouse links
// start, whether the permission guide opens, what the tip bar says; the
// guide itself; the connection indicator fed by the scripted mice; the left
// menu by keyboard and mouse.
#include "core/HRPSqliteOperation.h"
#include "core/KWLangManager.h"
#include "core/LGNLocalizedString.h"
#include "core/MMUserInfo.h"
#include "core/Notifications.h"
#include "device/BLEModel.h"
#include "device/BLETool.h"
#include "device/DeviceAlertPresenter.h"
#include "device/KeyEventTap.h"
#include "device/MMHidManager.h"
#include "device/MMpermissionCheck.h"
#include "device/SBCDecoder.h"
#include "device/UWHidapiManager.h"
#include "device/UWUsbInfoManager.h"
#include "fakes/FakeBleMouse.h"
#include "fakes/FakeHidHotplugWatcher.h"
#include "fakes/FakeHidMouse.h"
#include "fakes/FakeKeyTap.h"
#include "fakes/FakePermissions.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/Preferences.h"
#include "ui/IndicatorImage.h"
#include "ui/MMpermiWC.h"
#include "ui/UWHomeViewController.h"
#include "voice/UWHomeViewModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>

#include <gtest/gtest.h>
#include <optional>

namespace gating {

QString tr(const char* key)
{
    return LGNLocalizedString::lgnAppLocalizedString(QString::fromUtf8(key));
}

void settle(const std::function<bool()>& done, int milliseconds = 3000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// A key pressed and released on the widget with the keyboard focus.
void pressKey(Qt::Key key)
{
    QWidget* target = QApplication::focusWidget();
    ASSERT_NE(target, nullptr);
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(QApplication::focusWidget(), &release);
}

void click(QWidget* widget, const QPoint& at)
{
    const QPointF global = widget->mapToGlobal(QPointF(at));
    QMouseEvent press(
        QEvent::MouseButtonPress, QPointF(at), global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(
        QEvent::MouseButtonRelease, QPointF(at), global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

class NoAlerts final : public DeviceAlertPresenter {
public:
    void presentAlert(const QString&, const QString&, const QStringList&, std::function<void(int)>) override
    {
    }
};

// The real controller over scripted session facts and a key tap that
// records whether the mouse's keys were taken.
class StartupGating : public ::testing::Test {
protected:
    fakes::TempHome home;
    platform::Preferences prefs { home.path() + QStringLiteral("/prefs.plist") };
    MMUserInfo user { prefs };
    KWLangManager languages { prefs, { QStringLiteral("en-US") }, [] { return QStringLiteral("us"); } };
    HRPSqliteOperation database { home.path() + QStringLiteral("/db.sqlite") };
    UWHomeViewModel commands { database, mmQuery({ home.path() + QStringLiteral("/apps") }), &prefs };
    platform::NotificationCenter center;
    fakes::VirtualTime time;
    fakes::FakePermissions permissions;
    std::unique_ptr<fakes::FakeKeyTap> keys = std::make_unique<fakes::FakeKeyTap>();
    std::unique_ptr<KeyEventTap> tap = std::make_unique<KeyEventTap>(*keys);
    MMHidManager classifier { user.webConfig(), time, time };
    int usbStarts = 0;
    int bluetoothStarts = 0;
    std::function<void()> onUsbStart, onBluetoothStart; // what the start-up really starts
    QStringList sentScripts; // every page-function call, in order
    quint64 languageBefore = KWLangManager::sharedManager().indexOfUI();

    StartupGating() { KWLangManager::sharedManager().setIndexOfUI(1); }
    ~StartupGating() override { KWLangManager::sharedManager().setIndexOfUI(languageBefore); }

    std::unique_ptr<UWHomeViewController> make()
    {
        UWHomeViewController::Environment environment;
        environment.pageServices = [this] {
            return MMJsModel::Services { user, languages, commands, prefs, [](quint64) {}, [](bool) {},
                [] {} };
        };
        environment.mainQueue = &time;
        environment.pageCallSent = [this](const QString& script) { sentScripts << script; };
        environment.webView = false;
        UWHomeViewController::StartupHooks hooks;
        hooks.makePermissionCheck = [this] {
            return MMpermissionCheck::create({ permissions, *tap, classifier, user.deviceInfo() });
        };
        hooks.startUsbWatcher = [this] {
            ++usbStarts;
            if (onUsbStart)
                onUsbStart();
        };
        hooks.startBluetoothLink = [this] {
            ++bluetoothStarts;
            if (onBluetoothStart)
                onBluetoothStart();
        };
        hooks.watchPermissions
            = [this](std::function<void()> changed) { permissions.setChangeListener(changed); };
        auto controller = std::make_unique<UWHomeViewController>(database, hooks, center, environment);
        controller->view();
        return controller;
    }
};

enum class Session { X11, WaylandWithPortal, WaylandWithout };

TEST_F(StartupGating, EachLinkStartsWhenWhatItNeedsIsThere)
{
    struct Case {
        bool input;
        bool adapter;
        Session session;
        int usb; // receiver watcher started
        int bluetooth; // Bluetooth link started
        bool guide; // the guide opens by itself
        const char* tip; // the tip bar's text, or nullptr when hidden
    };
    const char* mouseTip = "鼠标的接收器和按键还不能使用：需要输入设备的访问权限。";
    const char* screenTip = "此会话不允许读取屏幕：截图翻译和划词翻译不可用。";
    const Case cases[] = {
        { true, true, Session::X11, 1, 1, false, nullptr },
        { true, false, Session::X11, 1, 0, false, nullptr }, // a desktop PC with only the receiver
        { true, true, Session::WaylandWithPortal, 1, 1, false, nullptr },
        { true, false, Session::WaylandWithPortal, 1, 0, false, nullptr },
        { true, true, Session::WaylandWithout, 1, 1, false, screenTip },
        { true, false, Session::WaylandWithout, 1, 0, false, screenTip },
        { false, true, Session::X11, 0, 1, true, mouseTip },
        { false, false, Session::X11, 0, 0, true, mouseTip },
        { false, true, Session::WaylandWithPortal, 0, 1, true, mouseTip },
        { false, false, Session::WaylandWithPortal, 0, 0, true, mouseTip },
        { false, true, Session::WaylandWithout, 0, 1, true, mouseTip },
        { false, false, Session::WaylandWithout, 0, 0, true, mouseTip },
    };
    for (const Case& c : cases) {
        const std::string label = std::string("input ") + (c.input ? "yes" : "no") + ", adapter "
            + (c.adapter ? "yes" : "no") + ", session " + std::to_string(int(c.session));
        usbStarts = bluetoothStarts = 0;
        keys = std::make_unique<fakes::FakeKeyTap>();
        tap = std::make_unique<KeyEventTap>(*keys);
        permissions.input = c.input;
        permissions.bluetooth = c.adapter;
        // The session's grabber: X11, or the portal on Wayland where it is offered.
        permissions.screen = c.session != Session::WaylandWithout;
        auto controller = make();
        EXPECT_EQ(usbStarts, c.usb) << label;
        EXPECT_EQ(bluetoothStarts, c.bluetooth) << label;
        EXPECT_EQ(keys->started(), c.input) << label << ": the mouse's keys";
        EXPECT_EQ(controller->linkGate().guideWindowShows() > 0, c.guide) << label;
        EXPECT_EQ(controller->view()->tipBarVisible(), c.tip != nullptr) << label;
        EXPECT_EQ(controller->view()->tipText(), c.tip ? tr(c.tip) : QString()) << label;
    }
}

TEST_F(StartupGating, TheBluetoothLinkStartsWhenAnAdapterAppears)
{
    permissions.bluetooth = false;
    auto controller = make();
    EXPECT_EQ(usbStarts, 1);
    EXPECT_EQ(bluetoothStarts, 0);
    EXPECT_EQ(controller->linkGate().guideWindowShows(), 0);
    permissions.adapterChanged(true);
    EXPECT_EQ(bluetoothStarts, 1);
    EXPECT_EQ(usbStarts, 1);
    EXPECT_EQ(controller->linkGate().guideWindowShows(), 0) << "an adapter appearing opens nothing";
    permissions.adapterChanged(false);
    permissions.adapterChanged(true);
    EXPECT_EQ(bluetoothStarts, 1);
}

// Without an adapter the guide opened for missing input access tells the
// mouse is ready once access is there, keeps showing Bluetooth as optional
// and stops checking only when everything is there.
TEST_F(StartupGating, TheGuideWithoutAnAdapter)
{
    permissions.input = false;
    permissions.bluetooth = false;
    auto controller = make();
    MMpermiWC* guide = controller->linkGate().permissionWindow();
    ASSERT_NE(guide, nullptr);
    int ready = 0;
    auto token = center.addObserver(notifications::kHadPermissinAllAccept, [&](const auto&) { ++ready; });
    time.advance(1.0);
    EXPECT_EQ(guide->rowsGranted(), (std::vector<bool> { false, false, true }));
    permissions.input = true;
    time.advance(1.0);
    EXPECT_EQ(ready, 1);
    EXPECT_EQ(usbStarts, 1);
    EXPECT_FALSE(controller->view()->tipBarVisible());
    EXPECT_TRUE(guide->polling()) << "Bluetooth is still missing and shown so";
    time.advance(3.0);
    EXPECT_EQ(ready, 1);
    permissions.adapterChanged(true);
    time.advance(1.0);
    EXPECT_FALSE(guide->polling());
    EXPECT_EQ(bluetoothStarts, 1);
}

// The button of a row says what it does in every interface language: input
// access is enabled, Bluetooth and screen capture are looked for again. It
// then tells in the row what it found, or why the permission is still missing.
TEST_F(StartupGating, TheButtonOfARowSaysWhatItDoesAndWhatItFound)
{
    permissions.input = false;
    permissions.bluetooth = false;
    permissions.screen = false;
    auto controller = make();
    MMpermiWC* guide = controller->linkGate().permissionWindow();
    ASSERT_NE(guide, nullptr);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(guide->rowView(row).result, QString()) << "nothing is said before the button is pressed";
    }
    const struct {
        quint64 language;
        const char* enable;
        const char* checkAgain;
    } labels[] = { { 0, "启用", "重新检查" }, { 1, "Enable", "Check again" },
        { 2, "Aktifkan", "Periksa lagi" }, { 3, "Bật", "Kiểm tra lại" }, { 4, "사용 설정", "다시 확인" } };
    for (const auto& c : labels) {
        KWLangManager::sharedManager().setIndexOfUI(c.language);
        center.post(notifications::kHadChangeUILanguage);
        EXPECT_EQ(guide->rowView(0).action, QString::fromUtf8(c.enable)) << c.language;
        EXPECT_EQ(guide->rowView(1).action, QString::fromUtf8(c.checkAgain)) << c.language;
        EXPECT_EQ(guide->rowView(2).action, QString::fromUtf8(c.checkAgain)) << c.language;
    }
    KWLangManager::sharedManager().setIndexOfUI(1);
    center.post(notifications::kHadChangeUILanguage);

    for (int row = 0; row < 3; ++row)
        guide->addBtnAction(row);
    EXPECT_EQ(guide->rowView(0).result,
        QStringLiteral(
            "Still no access to the input devices: run the command above in a terminal, then unplug "
            "the receiver and plug it in again."));
    EXPECT_EQ(guide->rowView(1).result,
        QStringLiteral(
            "Still no Bluetooth adapter was found, or the Bluetooth service is not running. Follow the "
            "steps above, then check again."));
    EXPECT_EQ(guide->rowView(2).result,
        QStringLiteral(
            "This session still does not allow reading the screen, and PraVik cannot change that: the "
            "desktop session decides it. Follow the steps above."));

    // Set up in the meantime: the next press says so, in the language of the moment.
    permissions.input = true;
    permissions.bluetooth = true;
    guide->addBtnAction(0);
    guide->addBtnAction(1);
    EXPECT_EQ(guide->rowView(0).result, QStringLiteral("Enabled."));
    EXPECT_EQ(guide->rowView(1).result, QStringLiteral("Available now."));
    KWLangManager::sharedManager().setIndexOfUI(0);
    center.post(notifications::kHadChangeUILanguage);
    EXPECT_EQ(guide->rowView(0).result, QStringLiteral("已启用。"));
    EXPECT_EQ(guide->rowView(1).result, QStringLiteral("现在可以使用了。"));
    KWLangManager::sharedManager().setIndexOfUI(1);
    center.post(notifications::kHadChangeUILanguage);
}

// The guide names what is optional and what it adds, gives commands whole on
// their own lines and no developer script, in every interface language, and
// closes with its own button.
TEST_F(StartupGating, TheGuideSaysHowInEveryLanguageAndCloses)
{
    permissions.input = false;
    auto controller = make();
    MMpermiWC* guide = controller->linkGate().permissionWindow();
    ASSERT_NE(guide, nullptr);
    for (quint64 language = 0; language < 5; ++language) {
        KWLangManager::sharedManager().setIndexOfUI(language);
        center.post(notifications::kHadChangeUILanguage);
        for (int row = 0; row < 3; ++row) {
            const MMpermiWC::RowView view = guide->rowView(row);
            EXPECT_EQ(view.optional, row != 0) << language << " row " << row;
            EXPECT_FALSE(view.subTitle.isEmpty());
            for (const QString& text : { view.howTo, view.subTitle, view.command }) {
                EXPECT_FALSE(text.contains(QStringLiteral(".sh"))) << text.toStdString();
                EXPECT_FALSE(text.contains(QStringLiteral("scripts/"))) << text.toStdString();
            }
            EXPECT_FALSE(view.howTo.contains(QStringLiteral("sudo"))) << "commands stand on their own lines";
        }
    }
    EXPECT_TRUE(guide->rowView(0).command.contains(QStringLiteral("/etc/udev/rules.d/")));
    EXPECT_TRUE(guide->rowView(1).command.contains(QStringLiteral("systemctl")));
    for (QLabel* label : guide->findChildren<QLabel*>()) {
        if (label->text().contains(QStringLiteral("sudo"))) {
            EXPECT_FALSE(label->wordWrap()) << label->text().toStdString();
        }
    }
    guide->show();
    ASSERT_NE(guide->closeButton(), nullptr);
    EXPECT_EQ(guide->closeButton()->text(), tr("关闭"));
    QPointer<MMpermiWC> watched = guide;
    guide->closeButton()->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(watched.isNull() || !watched->isVisible());
}

// A computer with only the receiver and no Bluetooth adapter gets its mouse,
// and every link mode the links post shows its picture and words, as the
// scripted mice make the links post them.
TEST_F(StartupGating, TheConnectionIndicatorFollowsTheScriptedMice)
{
    MMDeviceInfo& device = user.deviceInfo();
    NoAlerts alerts;
    SBCDecoder decoder;
    fakes::FakeHidMouse hid;
    UWHidapiManager link { hid, time, device, user.webConfig(), center, alerts, decoder };
    auto ownedWatcher = std::make_unique<fakes::FakeHidHotplugWatcher>();
    fakes::FakeHidHotplugWatcher* watcher = ownedWatcher.get();
    std::optional<UWUsbInfoManager> usb;
    // The start-up starts the receiver watcher.
    onUsbStart = [&] { usb.emplace(std::move(ownedWatcher), link, device, center); };
    permissions.bluetooth = false;
    auto controller = make();
    ASSERT_TRUE(usb.has_value());
    ASSERT_TRUE(watcher->started());
    EXPECT_EQ(controller->view()->connectText(), tr("未连接鼠标"));
    EXPECT_EQ(controller->view()->statusToolTip(), tr("未连接鼠标"));

    // The receiver.
    const platform::HidHotplugDevice receiver = fakes::FakeHidHotplugWatcher::device(
        QStringLiteral("/sys/devices/usb1/1-2"), QStringLiteral("USB Composite Device"),
        fakes::FakeHidMouse::kVendorId, fakes::FakeHidMouse::kProductId);
    watcher->attach(receiver);
    fakes::advanceWithMouse(time, hid, 1.5);
    const auto pictureShown = [&] {
        const QLabel* picture = controller->view()->findChild<QLabel*>(QStringLiteral("connectImage"));
        return picture && !picture->pixmap().isNull();
    };
    ASSERT_EQ(controller->view()->connectImageName(), QStringLiteral("connect_mode4"));
    EXPECT_TRUE(pictureShown());
    EXPECT_EQ(controller->view()->connectText(), tr("USB 接收器"));
    EXPECT_TRUE(controller->view()->statusToolTip().contains(tr("USB 接收器")));
    watcher->remove(receiver);
    EXPECT_EQ(controller->view()->connectImageName(), QStringLiteral("connect_mode0"));
    EXPECT_EQ(controller->view()->connectText(), tr("未连接鼠标"));

    // The two Bluetooth links.
    for (const quint8 linkByte : { quint8(0x02), quint8(0x03) }) {
        fakes::FakeBleMouse ble { time };
        ble.setLinkByte(linkByte);
        BLETool tool { device, user.webConfig(), center, alerts, decoder };
        BLEModel bluetooth { ble, time, device, center, tool };
        bluetooth.start();
        time.advance(1.0 + BLEModel::kDeviceInfoDelay);
        EXPECT_EQ(controller->view()->connectImageName(), QStringLiteral("connect_mode%1").arg(linkByte));
        EXPECT_TRUE(pictureShown()) << int(linkByte);
        EXPECT_EQ(controller->view()->connectText(), tr("蓝牙"));
        EXPECT_TRUE(controller->view()->statusToolTip().contains(tr("蓝牙")));
        ble.dropLink();
        time.advance(0.1);
    }
}

TEST(IndicatorImageModes, EveryPostedModeHasAPicture)
{
    for (const char* name : { "connect_mode0", "connect_mode2", "connect_mode3", "connect_mode4" }) {
        EXPECT_FALSE(IndicatorImage::imageNamed(QString::fromUtf8(name)).isNull()) << name;
    }
    EXPECT_TRUE(IndicatorImage::imageNamed(QStringLiteral("connect_mode5")).isNull());
}

TEST_F(StartupGating, TheLeftMenuByKeyboardAndAClickBelowIt)
{
    auto controller = make();
    QWidget* view = controller->view();
    view->resize(1080, 700);
    view->show();
    view->activateWindow();
    settle([&] { return QApplication::activeWindow() == view; });
    ASSERT_EQ(QApplication::activeWindow(), view);
    auto* menu = view->findChild<QListWidget*>(QStringLiteral("leftMenu"));
    ASSERT_NE(menu, nullptr);
    // Tab reaches the menu.
    if (!QApplication::focusWidget())
        view->findChild<QPushButton*>(QStringLiteral("windowButton"))->setFocus(Qt::TabFocusReason);
    bool reached = QApplication::focusWidget() == menu;
    for (int i = 0; i < 20 && !reached; ++i) {
        pressKey(Qt::Key_Tab);
        reached = QApplication::focusWidget() == menu;
    }
    ASSERT_TRUE(reached) << "Tab never reached the menu";
    pressKey(Qt::Key_Down);
    pressKey(Qt::Key_Down);
    EXPECT_EQ(controller->view()->markedRow(), 2);
    EXPECT_TRUE(sentScripts.last().startsWith(QStringLiteral("goToPage('2'")));
    pressKey(Qt::Key_Up);
    EXPECT_EQ(controller->view()->markedRow(), 1);

    const QRect last = menu->visualItemRect(menu->item(menu->count() - 1));
    const QPoint below(last.center().x(), last.bottom() + 20);
    ASSERT_LT(below.y(), menu->viewport()->height()) << "no empty space below the entries";
    click(menu->viewport(), below);
    ASSERT_EQ(menu->selectedItems().size(), 1);
    EXPECT_EQ(menu->row(menu->selectedItems().first()), 1);
    EXPECT_EQ(controller->view()->markedRow(), 1);
}

} // namespace gating
