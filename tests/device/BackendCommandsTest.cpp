#include "core/KWLangManager.h"
#include "core/MMUserInfo.h"
#include "core/SHHttpManager.h"
#include "device/DeviceAlertPresenter.h"
#include "device/DeviceCommandLink.h"
#include "device/SBCDecoder.h"
#include "device/UWHidHelper.h"
#include "device/UWHidapiManager.h"
#include "device/mmUtilities.h"
#include "fakes/FakeHidMouse.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/HttpClient.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace {

// A link that writes down each command it is asked to send.
class RecordingLink final : public DeviceCommandLink {
public:
    void setPopUpWebsite(bool on) override { sent << QStringLiteral("popUp %1").arg(on); }
    void setMicrophone(bool on) override { sent << QStringLiteral("mic %1").arg(on); }
    void setDpi(quint64 level) override { sent << QStringLiteral("dpi %1").arg(level); }
    void queryBattery() override { sent << QStringLiteral("battery"); }
    void queryDeviceInfo() override { sent << QStringLiteral("info"); }
    QStringList sent;
};

class CommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        utilities.setBluetoothLink(&ble);
        utilities.setUsbLink(&usb);
    }

    MMDeviceInfo& device() { return user.deviceInfo(); }
    // Every command once.
    void sendAll()
    {
        utilities.setTanURLOpen(true);
        utilities.setMicphoneOpen(true);
        utilities.setMicphoneOpen(false);
        utilities.setdpi(3);
        utilities.chaDianchi();
    }

    fakes::TempHome home;
    platform::Preferences prefs { home.path() + QStringLiteral("/defaults.plist") };
    MMUserInfo user { prefs };
    KWLangManager languages { prefs, { QStringLiteral("en-US") }, [] { return QString(); } };
    SHHttpManager http { platform::HttpClient::shared() };
    platform::NotificationCenter center;
    // Commands never reach the back end; nothing listens there.
    mmUtilities utilities { user, languages, http, center, QStringLiteral("http://127.0.0.1:9") };
    RecordingLink ble, usb;
};

const QStringList kAllCommands = { QStringLiteral("popUp 1"), QStringLiteral("mic 1"),
    QStringLiteral("mic 0"), QStringLiteral("dpi 3"), QStringLiteral("info") };

TEST_F(CommandsTest, LinkModeChoosesTheLink)
{
    struct Case {
        quint64 linkMode;
        QStringList toBle, toUsb;
    };
    const Case cases[] = {
        { 1, kAllCommands, {} },
        { 2, {}, kAllCommands },
        { 0, {}, {} },
        { 3, {}, {} },
        { 4, {}, {} },
    };
    for (const Case& c : cases) {
        ble.sent.clear();
        usb.sent.clear();
        device().setTestLinkMode(c.linkMode);
        sendAll();
        EXPECT_EQ(ble.sent, c.toBle) << "link mode " << c.linkMode;
        EXPECT_EQ(usb.sent, c.toUsb) << "link mode " << c.linkMode;
    }
}

TEST_F(CommandsTest, MissingLinkSendsNothing)
{
    utilities.setBluetoothLink(nullptr);
    device().setTestLinkMode(1);
    sendAll();
    EXPECT_TRUE(usb.sent.isEmpty());
}

TEST_F(CommandsTest, MicrophoneFlagIsRecordedWhateverTheLink)
{
    for (quint64 mode : { 0, 1, 2, 7 }) {
        device().setTestLinkMode(mode);
        utilities.setMicphoneOpen(true);
        EXPECT_TRUE(device().audioStreamInput()) << mode;
        utilities.setMicphoneOpen(false);
        EXPECT_FALSE(device().audioStreamInput()) << mode;
    }
}

TEST_F(CommandsTest, BatteryPollAsksForInformationUntilTheFirmwareIsKnown)
{
    device().setTestLinkMode(2);
    utilities.chaDianchi();
    device().setFirmwareVersion(QStringLiteral("1.2"));
    utilities.chaDianchi();
    EXPECT_EQ(usb.sent, (QStringList { QStringLiteral("info"), QStringLiteral("battery") }));
}

TEST_F(CommandsTest, NoBatteryPollDuringDictation)
{
    device().setTestLinkMode(2);
    device().setFirmwareVersion(QStringLiteral("1.2"));
    utilities.setMicphoneOpen(true);
    usb.sent.clear();
    utilities.chaDianchi();
    EXPECT_TRUE(usb.sent.isEmpty());
    utilities.setMicphoneOpen(false);
    utilities.chaDianchi();
    EXPECT_EQ(usb.sent, (QStringList { QStringLiteral("mic 0"), QStringLiteral("battery") }));
}

class NoAlerts final : public DeviceAlertPresenter {
public:
    void presentAlert(const QString&, const QString&, const QStringList&, std::function<void(int)>) override
    {
        ADD_FAILURE() << "no alert expected";
    }
};

// The receiver's command link writes the receiver's reports.
TEST_F(CommandsTest, UsbCommandLinkWritesTheReceiverReports)
{
    fakes::FakeHidMouse mouse;
    fakes::VirtualTime time;
    NoAlerts alerts;
    SBCDecoder decoder;
    UWHidapiManager manager(mouse, time, device(), user.webConfig(), center, alerts, decoder);
    manager.hidRequestReadMouseInfoVid(fakes::FakeHidMouse::kVendorId, fakes::FakeHidMouse::kProductId, {});
    ASSERT_TRUE(manager.hidConnected());

    const auto link = mmUtilities::usbCommandLink(manager);
    utilities.setUsbLink(link.get());
    device().setTestLinkMode(2);
    sendAll();
    device().setFirmwareVersion(QStringLiteral("1.2"));
    utilities.chaDianchi();

    const std::vector<QByteArray> expected = {
        UWHidHelper::hidPopUpWebsiteReport(true),
        UWHidHelper::hidMicrophoneReport(true),
        UWHidHelper::hidMicrophoneReport(false),
        UWHidHelper::hidDpiReport(3),
        UWHidHelper::hidGetDeviceInfoReport(),
        UWHidHelper::hidBatteryReport(),
    };
    EXPECT_EQ(mouse.writes(), expected);
    manager.hidRequestClose();
}

} // namespace
