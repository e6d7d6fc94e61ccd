// The Bluetooth LE link against a scripted mouse: attachment to a mouse the
// system holds connected, scanning for one, the link's observers,
// identification, command frames, every kind of notification and its
// observer, joined audio packets, battery, disconnection and reattachment.
#include "device/BLEModel.h"
#include "device/BLETool.h"

#include "core/MMDeviceInfo.h"
#include "core/MMwebconfig.h"
#include "core/Notifications.h"
#include "device/DeviceAlertPresenter.h"
#include "device/DeviceCommandLink.h"
#include "device/SBCDecoder.h"
#include "fakes/FakeBleMouse.h"
#include "fakes/MouseReplies.h"
#include "fakes/VirtualTime.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace bletest {

using fakes::FakeBleMouse;
using platform::BleAdapterState;

class CountingAlerts final : public DeviceAlertPresenter {
public:
    void presentAlert(const QString&, const QString&, const QStringList&, std::function<void(int)>) override
    {
        ++shown;
    }
    int shown = 0;
};

// One mSBC frame of silence: the header of a 57-byte frame with a zero payload.
QByteArray silentMsbcFrame()
{
    QByteArray frame(57, '\0');
    frame[0] = char(0xAD);
    return frame;
}

class BleLinkTest : public ::testing::Test {
protected:
    BleLinkTest()
    {
        hooks.getApiKeyWithDeviceMacAdress = [this](const QString& sn) { log << QStringLiteral("getKey ") + sn; };
        hooks.getProductInfoWithDeviceMacAdress
            = [this](const QString& sn, const QString& mode) { log << QStringLiteral("product %1 [%2]").arg(sn, mode); };
        hooks.chaDianchi = [this] {
            log << QStringLiteral("chaDianchi");
            link.queryBattery();
        };
        hooks.isQuite = [this](const QByteArray& pcm) { log << QStringLiteral("level %1").arg(pcm.size()); };
        hooks.writePcmData = [this](const QByteArray& pcm) { log << QStringLiteral("record %1").arg(pcm.size()); };
        tool.setHooks(hooks);
        link.setHooks(hooks);
        link.setUsbDeviceInfoRequest([this] { log << QStringLiteral("usb device info"); });
        observer = center.addObserver({}, [this](const platform::Notification& n) {
            QString entry = n.name;
            if (n.name == notifications::kHadReloadConnectImage)
                entry += QStringLiteral(" mode=%1").arg(n.object.toMap().value(QStringLiteral("mode")).toULongLong());
            log << entry;
        });
    }

    // The link started with the adapter on; the mouse attached and identified.
    void attach()
    {
        link.start();
        time.advance(1.0);
        ASSERT_TRUE(link.connected());
        time.advance(BLEModel::kDeviceInfoDelay);
        ASSERT_EQ(device.sn(), QStringLiteral("A1B2C3D4E5F6"));
    }

    void subscribe()
    {
        tool.blePcmAudioCallBack([this](const QByteArray& pcm) {
            log << QStringLiteral("pcm %1").arg(pcm.size());
            heard += pcm.size();
        });
    }

    QTemporaryDir dir;
    platform::Preferences prefs { dir.filePath(QStringLiteral("defaults.plist")) };
    MMwebconfig config { prefs };
    MMDeviceInfo device;
    platform::NotificationCenter center;
    CountingAlerts alerts;
    SBCDecoder decoder;
    fakes::VirtualTime time;
    FakeBleMouse mouse { time };
    DeviceLinkHooks hooks;
    BLETool tool { device, config, center, alerts, decoder };
    BLEModel link { mouse, time, device, center, tool };
    platform::ObserverToken observer;
    QStringList log;
    qsizetype heard = 0;
};

TEST_F(BleLinkTest, AttachesTheConnectedMouseWithinASecondAndIdentifiesIt)
{
    link.start();
    EXPECT_EQ(link.bleWorkState(), QStringLiteral("蓝牙已打开"));
    time.advance(0.99);
    EXPECT_EQ(mouse.retrieveCount(), 0);
    time.advance(0.01);
    EXPECT_EQ(mouse.retrieveCount(), 1);
    EXPECT_TRUE(link.connected());
    EXPECT_EQ(link.BLEName(), QStringLiteral("KZ31 Mouse"));
    EXPECT_TRUE(mouse.notifying(QStringLiteral("AE52")));
    EXPECT_TRUE(mouse.notifying(QStringLiteral("AE42")));
    EXPECT_FALSE(mouse.notifying(QStringLiteral("AE41")));
    EXPECT_FALSE(link.isRetrying());

    // The device-information request leaves 0.3 s after "AE51" was found.
    time.advance(0.29);
    EXPECT_TRUE(mouse.commandWrites().isEmpty());
    time.advance(0.02);
    ASSERT_EQ(mouse.commandWrites(), QList<QByteArray> { QByteArray::fromHex("9da55a0601ff") });

    EXPECT_EQ(device.sn(), QStringLiteral("A1B2C3D4E5F6"));
    EXPECT_EQ(device.firmwareVersion(), QStringLiteral("1.2"));
    EXPECT_EQ(device.deviceModel(), 1u);
    EXPECT_EQ(device.testLinkMode(), 1u);
    EXPECT_EQ(device.DeviceConnectionMode(), 2u);
    // Over BLE the connection is announced before the back end is asked.
    EXPECT_EQ(log,
        QStringList({ QStringLiteral("kHadReloadConnectImageNoti mode=2"), QStringLiteral("getKey A1B2C3D4E5F6"),
            QStringLiteral("product A1B2C3D4E5F6 [蓝牙1]") }));
    EXPECT_TRUE(mouse.unexpectedWrites().empty());
}

TEST_F(BleLinkTest, CharacteristicsInAnyOrderStillGetNotificationsOnAndTheRequestOut)
{
    mouse.setCharacteristicOrder({ QStringLiteral("AE51"), QStringLiteral("AE42"), QStringLiteral("AE52") });
    mouse.setLinkByte(0x03);
    attach();
    EXPECT_EQ(device.DeviceConnectionMode(), 3u);
    EXPECT_TRUE(log.contains(QStringLiteral("product A1B2C3D4E5F6 [蓝牙2]")));
}

TEST_F(BleLinkTest, NothingIsTriedWhileTheAdapterIsOffAndAttachmentStartsASecondAfterItIsOn)
{
    mouse.setAdapterState(BleAdapterState::PoweredOff);
    time.runPending();
    link.start();
    EXPECT_EQ(link.bleWorkState(), QStringLiteral("蓝牙已关闭"));
    link.waitingForConnectMouseWithDaley(1.0); // as the main window does when the mode becomes 0
    time.advance(10);
    EXPECT_EQ(mouse.retrieveCount(), 0);
    EXPECT_FALSE(link.isRetrying());

    mouse.setAdapterState(BleAdapterState::PoweredOn);
    time.runPending();
    EXPECT_TRUE(link.isRetrying());
    time.advance(1.0);
    EXPECT_EQ(mouse.retrieveCount(), 1);
    EXPECT_TRUE(link.connected());
}

TEST_F(BleLinkTest, StateTextsFollowTheAdapter)
{
    const std::pair<BleAdapterState, const char*> cases[] = {
        { BleAdapterState::Unknown, "未知蓝牙状态" },
        { BleAdapterState::Resetting, "蓝牙重置" },
        { BleAdapterState::Unsupported, "该设备不支持蓝牙" },
        { BleAdapterState::Unauthorized, "未授权蓝牙权限" },
        { BleAdapterState::PoweredOff, "蓝牙已关闭" },
        { BleAdapterState::PoweredOn, "蓝牙已打开" },
    };
    for (const auto& [state, text] : cases)
        EXPECT_EQ(BLEModel::stateText(state), QString::fromUtf8(text));
}

TEST_F(BleLinkTest, TheRetryNeverSpinsAndStopsWhileAMouseIsHeld)
{
    mouse.setSystemConnected(false);
    link.start();
    link.waitingForConnectMouseWithDaley(0.5); // already running: ignored
    time.advance(10.0);
    EXPECT_EQ(mouse.retrieveCount(), 10);

    // The adapter goes off: the retry stops; back on, it runs again.
    mouse.setAdapterState(BleAdapterState::PoweredOff);
    time.runPending();
    EXPECT_FALSE(link.isRetrying());
    mouse.setAdapterState(BleAdapterState::PoweredOn);
    time.runPending();

    mouse.setSystemConnected(true);
    time.advance(1.0);
    ASSERT_TRUE(link.connected());
    const int afterAttach = mouse.retrieveCount();
    time.advance(30.0);
    EXPECT_EQ(mouse.retrieveCount(), afterAttach);
    EXPECT_FALSE(link.isRetrying());
}

TEST_F(BleLinkTest, AFailedConnectionLetsGoOfTheMouseAndTriesAgain)
{
    mouse.setConnectFails(true);
    link.start();
    time.advance(1.0);
    EXPECT_EQ(mouse.connectCount(), 1);
    EXPECT_FALSE(link.holdsMouse());
    mouse.setConnectFails(false);
    time.advance(1.0);
    EXPECT_EQ(mouse.connectCount(), 2);
    EXPECT_TRUE(link.connected());
}

TEST_F(BleLinkTest, CommandFramesAreWrittenByteForByte)
{
    mouse.setBatteryRaw(370);
    attach();
    DeviceCommandLink& commands = link;
    const struct {
        std::function<void()> send;
        const char* frame;
    } cases[] = {
        { [&] { commands.setPopUpWebsite(true); }, "9da55a0702010000 00ff" },
        { [&] { commands.setPopUpWebsite(false); }, "9da55a0702000000 00ff" },
        { [&] { commands.setMicrophone(true); }, "9da55a070301ff" },
        { [&] { commands.setMicrophone(false); }, "9da55a070300ff" },
        { [&] { commands.setDpi(0); }, "9da55a08045802ff" },
        { [&] { commands.setDpi(3); }, "9da55a08041405ff" },
        { [&] { commands.setDpi(7); }, "9da55a08040000ff" },
        { [&] { commands.queryBattery(); }, "9da55a050a" },
        { [&] { commands.queryDeviceInfo(); }, "9da55a0601ff" },
    };
    for (const auto& c : cases) {
        const qsizetype before = mouse.commandWrites().size();
        c.send();
        ASSERT_EQ(mouse.commandWrites().size(), before + 1);
        EXPECT_EQ(mouse.commandWrites().last().toHex(), QByteArray::fromHex(c.frame).toHex());
        time.runPending();
    }
    // The mouse took them: its replies came back and were applied.
    EXPECT_EQ(mouse.dpi(), 0);
    EXPECT_EQ(config.fir_dpi(), 0u);
    EXPECT_FALSE(mouse.popUpWebsite());
    EXPECT_EQ(config.fir_downAddress(), 0u);
    EXPECT_EQ(device.batteryPercentage(), QStringLiteral("59%"));
    EXPECT_TRUE(mouse.unexpectedWrites().empty());

    // Once the link is gone nothing is written.
    mouse.dropLink();
    time.runPending();
    const qsizetype written = mouse.commandWrites().size();
    commands.setMicrophone(true);
    link.sendData(QByteArray::fromHex("9da55a050a"));
    EXPECT_EQ(mouse.commandWrites().size(), written);
}

// Every kind of notification, straight into the decoder: its event code and
// what it changes. Short ones change nothing.
TEST_F(BleLinkTest, EveryNotificationKind)
{
    const QByteArray audio = FakeBleMouse::audioPacket(QList<QByteArray>(4, silentMsbcFrame()));
    const struct {
        QByteArray data;
        int event;
        const char* change; // what the state shows afterwards
    } cases[] = {
        { QByteArray(), BLETool::kEventNone, "" },
        { audio, BLETool::kEventAudio, "pcm 960" },
        { audio + QByteArray(61, '\0'), BLETool::kEventNone, "" }, // not 244 bytes
        { audio.left(243) + QByteArray(20, '\0'), BLETool::kEventNone, "" },
        { QByteArray::fromHex("a55a08540414 0500"), BLETool::kEventDpi, "dpi 3" },
        { QByteArray::fromHex("a55a0854045802"), BLETool::kEventDpi, "dpi 0" },
        { QByteArray::fromHex("a55a08540420"), BLETool::kEventNone, "" }, // DPI without its second byte
        { QByteArray::fromHex("a55a07540201 00"), BLETool::kEventPopUpState, "popup 1" },
        { QByteArray::fromHex("a55a075402"), BLETool::kEventNone, "" },
        { QByteArray::fromHex("a55a070b010a00"), BLETool::kEventNone, "firmware 1.0" },
        { QByteArray::fromHex("a55a070b01"), BLETool::kEventNone, "" },
        { QByteArray::fromHex("a55a0f540b4b5a3435204d0a01ff"), BLETool::kEventNone, "firmware 10.1 model 4" },
        { QByteArray::fromHex("a55a07540b01ff"), BLETool::kEventNone, "" }, // run shorter than major, minor, FF
        { QByteArray::fromHex("a55a07540301 00"), BLETool::kEventNone, "" },
        { QByteArray::fromHex("a55a0954067201 0000"), BLETool::kEventNone, "battery 59%" },
        { QByteArray::fromHex("a55a09540672"), BLETool::kEventNone, "" },
        { QByteArray::fromHex("a55a0c5406a1b2c3d4e5f600"), BLETool::kEventSerial, "sn A1B2C3D4E5F6 mode 0" },
        { QByteArray::fromHex("a55a0c5406a1b2c3d4e5"), BLETool::kEventNone, "" },
        { QByteArray::fromHex("a55a145406a1b2c3d4e5f6 00000000000000 04 00"), BLETool::kEventSerial,
            "sn A1B2C3D4E5F6 mode 4" },
        { QByteArray::fromHex("a55a145406a1b2c3d4e5f6 00000000000000"), BLETool::kEventNone, "" },
        { QByteArray::fromHex("a55a055405"), BLETool::kEventStatus05, "" },
        { QByteArray::fromHex("0102030405"), BLETool::kEventNone, "" },
    };
    subscribe();
    for (const auto& c : cases) {
        MMDeviceInfo fresh;
        device = fresh;
        config.setFir_dpi(9);
        config.setFir_downAddress(9);
        log.clear();
        const int event = tool.eventTypeConvertDataToHexStr(c.data);
        EXPECT_EQ(event, c.event) << c.data.toHex().constData();

        QStringList seen;
        if (config.fir_dpi() != 9)
            seen << QStringLiteral("dpi %1").arg(config.fir_dpi());
        if (config.fir_downAddress() != 9)
            seen << QStringLiteral("popup %1").arg(config.fir_downAddress());
        if (!device.firmwareVersion().isEmpty())
            seen << QStringLiteral("firmware %1").arg(device.firmwareVersion());
        if (device.deviceModel() != 0)
            seen << QStringLiteral("model %1").arg(device.deviceModel());
        if (!device.batteryPercentage().isEmpty())
            seen << QStringLiteral("battery %1").arg(device.batteryPercentage());
        if (!device.sn().isEmpty())
            seen << QStringLiteral("sn %1 mode %2").arg(device.sn()).arg(device.DeviceConnectionMode());
        for (const QString& entry : log) {
            if (entry.startsWith(QStringLiteral("pcm")))
                seen << entry;
        }
        EXPECT_EQ(seen.join(u' '), QString::fromLatin1(c.change)) << c.data.toHex().constData();
    }
}

TEST_F(BleLinkTest, AudioGoesToTheSubscriberBeforeTheRecording)
{
    attach();
    subscribe();
    log.clear();
    mouse.notify(QStringLiteral("AE42"), FakeBleMouse::audioPacket(QList<QByteArray>(4, silentMsbcFrame())));
    time.runPending();
    EXPECT_EQ(log, QStringList({ "pcm 960", "level 960", "record 960" }));

    // Without a subscriber the audio is still decoded and recorded.
    tool.blePcmAudioCallBack({});
    log.clear();
    mouse.notify(QStringLiteral("AE42"), FakeBleMouse::audioPacket(QList<QByteArray>(4, silentMsbcFrame())));
    time.runPending();
    EXPECT_EQ(log, QStringList({ "level 960", "record 960" }));

    // Undecodable slots give no audio at all: the subscriber hears nothing,
    // the recording is still handed the (empty) packet.
    subscribe();
    log.clear();
    mouse.notify(QStringLiteral("AE42"), FakeBleMouse::audioPacket({}));
    time.runPending();
    EXPECT_EQ(log, QStringList({ "level 0", "record 0" }));
}

TEST_F(BleLinkTest, PacketsInPartsAreJoined)
{
    attach();
    subscribe();
    const QByteArray packet = FakeBleMouse::audioPacket(QList<QByteArray>(4, silentMsbcFrame()));
    const auto send = [&](const QByteArray& part) {
        mouse.notify(QStringLiteral("AE42"), part);
        time.runPending();
    };

    // Four parts of 61 bytes: decoded once, when the fourth arrives.
    for (int i = 0; i < 3; ++i)
        send(packet.mid(61 * i, 61));
    EXPECT_EQ(heard, 0);
    send(packet.mid(183));
    EXPECT_EQ(heard, 960);

    // The packet passed on is not decoded again by a part that adds nothing.
    send(QByteArray());
    EXPECT_EQ(heard, 960);

    // 100 + 100 + 100: never decoded.
    heard = 0;
    send(packet.left(100));
    send(packet.mid(100, 100));
    send(packet.mid(200, 44) + QByteArray(56, '\0'));
    EXPECT_EQ(heard, 0);

    // A second first part drops the packet being joined.
    send(packet.left(150));
    send(packet.left(100));
    send(packet.mid(100));
    EXPECT_EQ(heard, 960);

    // A reply between the parts is decoded at once, and the packet still completes.
    heard = 0;
    send(packet.left(122));
    send(QByteArray::fromHex("a55a09540672010000"));
    EXPECT_EQ(device.batteryPercentage(), QStringLiteral("59%"));
    send(packet.mid(122));
    EXPECT_EQ(heard, 960);

    // A value delivered with an error is dropped.
    heard = 0;
    mouse.notify(QStringLiteral("AE42"), packet, false);
    time.runPending();
    EXPECT_EQ(heard, 0);
}

TEST_F(BleLinkTest, TheMouseStreamsWhileItsMicrophoneIsOn)
{
    attach();
    subscribe();
    mouse.setAudioSplit({ 100, 100, 44 });
    mouse.setAudioFrames(QList<QByteArray>(40, silentMsbcFrame()));
    link.setMicrophone(true);
    time.advance(0.5);
    EXPECT_EQ(heard, 40 * 240);
    EXPECT_EQ(mouse.packetsSent(), 10);
    link.setMicrophone(false);
    mouse.setAudioFrames(QList<QByteArray>(40, silentMsbcFrame()));
    time.advance(0.5);
    EXPECT_EQ(heard, 40 * 240);
}

TEST_F(BleLinkTest, TheBatteryIsPolledEveryFiveMinutesWhileConnected)
{
    mouse.setBatteryRaw(370);
    attach();
    log.clear();
    time.advance(BLEModel::kLowPowerInterval);
    EXPECT_EQ(log, QStringList({ "chaDianchi", "kHadReloadDianciImageNoti" }));
    EXPECT_EQ(device.batteryPercentage(), QStringLiteral("59%"));
    EXPECT_EQ(alerts.shown, 0);

    // A low battery reminds the user; once reminders are off the poll stops.
    mouse.setBatteryRaw(330);
    time.advance(BLEModel::kLowPowerInterval);
    EXPECT_EQ(alerts.shown, 1);
    device.setRemind(false);
    log.clear();
    time.advance(BLEModel::kLowPowerInterval);
    EXPECT_EQ(log.count(QStringLiteral("chaDianchi")), 1);
    time.advance(3 * BLEModel::kLowPowerInterval);
    EXPECT_EQ(log.count(QStringLiteral("chaDianchi")), 1);
}

TEST_F(BleLinkTest, DisconnectionReportsModeZeroAndTheMouseIsAttachedAgain)
{
    attach();
    log.clear();
    mouse.dropLink(false);
    time.runPending();
    EXPECT_FALSE(link.connected());
    EXPECT_FALSE(link.holdsMouse());
    EXPECT_EQ(link.BLEName(), QStringLiteral("Not connected"));
    EXPECT_EQ(device.DeviceConnectionMode(), 0u);
    EXPECT_EQ(device.testLinkMode(), 1u); // keeps its last value
    EXPECT_EQ(mouse.cancelCount(), 1);
    EXPECT_TRUE(link.isRetrying());
    EXPECT_EQ(log, QStringList { "kHadReloadConnectImageNoti mode=0" });

    // 3 s later the USB receiver link is asked for the device information.
    time.advance(2.9);
    EXPECT_FALSE(log.contains("usb device info"));
    time.advance(0.1);
    EXPECT_TRUE(log.contains("usb device info"));
    // No battery poll for a mouse that is gone.
    log.clear();
    time.advance(BLEModel::kLowPowerInterval);
    EXPECT_FALSE(log.contains("chaDianchi"));

    // The system connects the mouse again: attached and identified again.
    mouse.setSystemConnected(true);
    time.advance(1.0 + BLEModel::kDeviceInfoDelay);
    EXPECT_TRUE(link.connected());
    EXPECT_EQ(device.DeviceConnectionMode(), 2u);
    EXPECT_EQ(mouse.commandWrites().count(QByteArray::fromHex("9da55a0601ff")), 2);
}

TEST_F(BleLinkTest, TheAdapterGoingOffLetsGoOfTheMouseOnce)
{
    attach();
    log.clear();
    mouse.setAdapterState(BleAdapterState::PoweredOff);
    time.runPending();
    EXPECT_FALSE(link.connected());
    EXPECT_FALSE(link.holdsMouse());
    EXPECT_FALSE(link.isRetrying());
    EXPECT_EQ(log.count("kHadReloadConnectImageNoti mode=0"), 1);

    mouse.setSystemConnected(true);
    mouse.setAdapterState(BleAdapterState::PoweredOn);
    time.advance(1.0 + BLEModel::kDeviceInfoDelay);
    EXPECT_TRUE(link.connected());
    EXPECT_EQ(device.DeviceConnectionMode(), 2u);
}

TEST_F(BleLinkTest, ADisconnectionBeforeTheRequestLeavesCancelsIt)
{
    link.start();
    time.advance(1.0);
    ASSERT_TRUE(link.connected());
    mouse.dropLink(true);
    time.advance(BLEModel::kDeviceInfoDelay);
    EXPECT_TRUE(mouse.commandWrites().isEmpty());
}

// The link's observers, as a person's code would install them.
class BleObservedTest : public BleLinkTest {
protected:
    BleObservedTest()
    {
        link.setBleStateBlock([this](const QString& state) { seen << QStringLiteral("state ") + state; });
        link.setDeviceStateBlock([this](int code) { seen << QStringLiteral("device %1").arg(code); });
        link.setSearchBlock([this](const QList<platform::BlePeripheral>& devices, int found) {
            QStringList names;
            for (const platform::BlePeripheral& d : devices)
                names << d.name;
            seen << QStringLiteral("search %1 [%2]").arg(found).arg(names.join(u','));
        });
    }
    QStringList seen;
};

TEST_F(BleObservedTest, StateAndDeviceObserversFollowTheLink)
{
    mouse.setSystemConnected(false);
    link.start();
    time.advance(1.0); // no connected mouse yet
    mouse.setSystemConnected(true);
    time.advance(1.0);
    time.advance(BLEModel::kDeviceInfoDelay);
    mouse.dropLink(false);
    time.runPending();
    mouse.setAdapterState(BleAdapterState::PoweredOff);
    time.runPending();
    EXPECT_EQ(seen,
        QStringList({ "state 蓝牙已打开", "device -1", "device 5", "device 6", "device -2", "state 蓝牙已关闭" }));
}

TEST_F(BleObservedTest, AScanListsNamedDevicesOnceAndConnectsTheChosenOne)
{
    mouse.setSystemConnected(false);
    mouse.setAdvertising(true);
    mouse.addNearbyDevice({ QStringLiteral("11:11:11:11:11:11"), QString() }); // no name: not listed
    mouse.addNearbyDevice({ QStringLiteral("22:22:22:22:22:22"), QStringLiteral("Keyboard") });
    link.start();
    seen.clear();
    link.startScan();
    time.runPending();
    EXPECT_TRUE(mouse.isScanning());
    EXPECT_EQ(seen, QStringList({ "search 1 [KZ31 Mouse]", "search 1 [KZ31 Mouse,Keyboard]" }));
    // Seen again: already listed.
    mouse.addNearbyDevice({ QStringLiteral("22:22:22:22:22:22"), QStringLiteral("Keyboard") });
    time.runPending();
    EXPECT_EQ(link.deviceArray().size(), 2);

    seen.clear();
    link.connectBluetoothDevice(link.deviceArray().first());
    EXPECT_FALSE(mouse.isScanning());
    time.advance(BLEModel::kDeviceInfoDelay);
    EXPECT_EQ(seen, QStringList({ "device 4", "device 5" }));
    EXPECT_TRUE(link.connected());
    EXPECT_EQ(device.sn(), QStringLiteral("A1B2C3D4E5F6"));

    // A new scan while the mouse is held lists nothing, and starts empty.
    seen.clear();
    link.startScan();
    time.runPending();
    EXPECT_TRUE(link.deviceArray().isEmpty());
    EXPECT_EQ(seen, QStringList());
    link.stopScan();
    EXPECT_FALSE(mouse.isScanning());
}

TEST_F(BleObservedTest, AFailedConnectionOfAScannedDeviceIsReportedAndLetGo)
{
    mouse.setSystemConnected(false);
    mouse.setAdvertising(true);
    mouse.setConnectFails(true);
    link.start();
    link.startScan();
    time.runPending();
    ASSERT_EQ(link.deviceArray().size(), 1);
    seen.clear();
    link.connectBluetoothDevice(link.deviceArray().first());
    time.runPending();
    EXPECT_EQ(seen, QStringList({ "device 4", "device 6" }));
    EXPECT_FALSE(link.holdsMouse());
    EXPECT_TRUE(link.isRetrying());
}

TEST_F(BleObservedTest, CancellingTheConnectionIsADisconnection)
{
    link.cancelPeripheralConnection(); // nothing held: nothing to cancel
    EXPECT_EQ(mouse.cancelCount(), 0);
    attach();
    seen.clear();
    log.clear();
    mouse.setSystemConnected(false);
    link.cancelPeripheralConnection();
    EXPECT_EQ(mouse.cancelCount(), 1);
    EXPECT_FALSE(link.holdsMouse());
    EXPECT_EQ(link.BLEName(), QStringLiteral("Not connected"));
    EXPECT_EQ(device.DeviceConnectionMode(), 0u);
    EXPECT_TRUE(link.isRetrying());
    EXPECT_EQ(seen, QStringList({ "device 6" }));
    time.advance(BLEModel::kUsbRecheckDelay);
    EXPECT_TRUE(log.contains(QStringLiteral("kHadReloadConnectImageNoti mode=0")));
    EXPECT_TRUE(log.contains(QStringLiteral("usb device info")));
}

TEST_F(BleLinkTest, ASlowAnswerIsWaitedForNotAskedAgain)
{
    mouse.setRetrievalDelay(2.5);
    link.start();
    time.advance(3.0); // the retry fired at 1, 2 and 3 s
    EXPECT_EQ(mouse.retrieveCount(), 1);
    EXPECT_FALSE(link.holdsMouse());
    time.advance(0.5);
    EXPECT_TRUE(link.holdsMouse());
    EXPECT_EQ(mouse.connectCount(), 1);
}

TEST_F(BleLinkTest, TheDataObserverHearsEveryValueAndTheEventObserverEachDecodedOne)
{
    attach();
    QList<QByteArray> values;
    QStringList events;
    link.setDataBlock([&](const QByteArray& value) { values << value; });
    tool.bleEventCallBack([&](int event, const QString& hex, const QByteArray& data) {
        events << QStringLiteral("%1 %2").arg(event).arg(hex);
        EXPECT_EQ(BLETool::stringToByte(hex).value_or(QByteArray()), data);
    });
    const QByteArray dpi = fakes::mouse_replies::dpi(1000);
    const QByteArray packet = FakeBleMouse::audioPacket(QList<QByteArray>(4, silentMsbcFrame()));
    mouse.notify(QStringLiteral("AE52"), dpi);
    mouse.notify(QStringLiteral("AE42"), packet.left(100)); // half a packet: not decoded yet
    mouse.notify(QStringLiteral("AE42"), packet.mid(100));
    time.runPending();
    EXPECT_EQ(values, QList<QByteArray>({ dpi, packet.left(100), packet.mid(100) }));
    EXPECT_EQ(events,
        QStringList({ QStringLiteral("2 ") + QString::fromLatin1(dpi.toHex()),
            QStringLiteral("1 ") + QString::fromLatin1(packet.toHex()) }));

    // Cleared observers hear nothing more.
    link.setDataBlock({});
    tool.bleEventCallBack({});
    mouse.notify(QStringLiteral("AE52"), dpi);
    time.runPending();
    EXPECT_EQ(values.size(), 3);
    EXPECT_EQ(events.size(), 2);
}

TEST(BleHexTest, HexTextAndBackAgain)
{
    const QByteArray bytes = QByteArray::fromHex("00a55a0fff");
    EXPECT_EQ(BLETool::byteToString(bytes), QStringLiteral("00a55a0fff"));
    EXPECT_EQ(BLETool::convertDataToHexStr(bytes), QStringLiteral("00a55a0fff"));
    EXPECT_TRUE(BLETool::convertDataToHexStr({}).isNull());
    EXPECT_TRUE(BLETool::byteToString({}).isEmpty());
    EXPECT_FALSE(BLETool::byteToString({}).isNull());

    const struct {
        const char* text;
        std::optional<QByteArray> bytes;
    } cases[] = {
        { "a55a0fff", QByteArray::fromHex("a55a0fff") },
        { "A5 5A 0F FF", QByteArray::fromHex("a55a0fff") },
        { " 0 0 ", QByteArray(1, '\0') },
        { "", QByteArray() },
        { "a55", std::nullopt }, // the digits do not pair up
        { "a5 5", std::nullopt },
        { "a5g0", std::nullopt }, // not a hex digit
        { "0x1f", std::nullopt },
        { "a5-5a", std::nullopt },
    };
    for (const auto& c : cases) {
        const std::optional<QByteArray> got = BLETool::stringToByte(QString::fromLatin1(c.text));
        EXPECT_EQ(got.has_value(), c.bytes.has_value()) << c.text;
        if (got && c.bytes) {
            EXPECT_EQ(*got, *c.bytes) << c.text;
        }
    }
}

} // namespace bletest
