#include "device/UWHidapiManager.h"

#include "core/MMDeviceInfo.h"
#include "core/MMwebconfig.h"
#include "device/DeviceAlertPresenter.h"
#include "device/SBCDecoder.h"
#include "device/UWHidHelper.h"
#include "fakes/FakeHidMouse.h"
#include "fakes/VirtualTime.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using fakes::FakeHidMouse;

QByteArray managerHex(const char* text)
{
    return QByteArray::fromHex(text);
}

class NoManagerAlerts final : public DeviceAlertPresenter {
public:
    void presentAlert(const QString&, const QString&, const QStringList&, std::function<void(int)>) override
    {
    }
};

class UWHidapiManagerTest : public ::testing::Test {
protected:
    UWHidapiManagerTest()
    {
        hooks.chaDianchi = [this] { ++batteryPolls; };
        link.setHooks(hooks);
    }

    void open()
    {
        link.hidRequestReadMouseInfoVid(
            FakeHidMouse::kVendorId, FakeHidMouse::kProductId, [this](bool ok, qint64 code) {
                opens.push_back({ ok, code });
            });
    }
    qsizetype infoRequests() const { return mouse.countWrites(UWHidHelper::hidGetDeviceInfoReport()); }
    void advance(double seconds) { fakes::advanceWithMouse(time, mouse, seconds); }

    QTemporaryDir dir;
    platform::Preferences prefs { dir.filePath(QStringLiteral("defaults.plist")) };
    MMwebconfig config { prefs };
    FakeHidMouse mouse;
    fakes::VirtualTime time;
    MMDeviceInfo device;
    platform::NotificationCenter center;
    NoManagerAlerts alerts;
    SBCDecoder decoder;
    UWHidapiManager link { mouse, time, device, config, center, alerts, decoder };
    DeviceLinkHooks hooks;
    std::vector<std::pair<bool, qint64>> opens;
    int batteryPolls = 0;
};

TEST_F(UWHidapiManagerTest, OpensTheFirstVendorInterfaceAndAsksForTheDeviceSoonAfter)
{
    open();
    ASSERT_TRUE(link.hidConnected());
    EXPECT_EQ(mouse.openedPath(), FakeHidMouse::kVendorPath); // FF01 is skipped
    EXPECT_TRUE(opens.empty()); // success is not reported
    advance(0.19);
    EXPECT_EQ(infoRequests(), 0);
    advance(0.02);
    EXPECT_EQ(infoRequests(), 1);
    advance(0.1);
    // The answer was polled in: name and serial-and-link status.
    EXPECT_EQ(device.sn(), QStringLiteral("A1B2C3D4E5F6"));
    EXPECT_EQ(device.deviceModel(), 1u);
    EXPECT_EQ(device.DeviceConnectionMode(), 4u);
    EXPECT_EQ(device.testLinkMode(), 2u);
}

TEST_F(UWHidapiManagerTest, WhichInterfacesAreOpened)
{
    const auto iface = [](const char* path, quint16 page) {
        platform::HidDeviceInfo info;
        info.path = path;
        info.vendorId = FakeHidMouse::kVendorId;
        info.productId = FakeHidMouse::kProductId;
        info.usagePage = page;
        return info;
    };
    const struct {
        std::vector<platform::HidDeviceInfo> interfaces;
        const char* opened; // nullptr: nothing opened
    } cases[] = {
        { { iface("a", 0xFF01) }, nullptr },
        { { iface("a", 0x0001), iface("b", 0xFF02), iface("c", 0xFF00) }, "b" },
        { { iface("a", 0xFF03) }, "a" },
        { { iface("", 0xFF00) }, nullptr },
        { {}, nullptr },
    };
    for (const auto& c : cases) {
        FakeHidMouse receiver;
        receiver.setInterfaces(c.interfaces);
        UWHidapiManager other(receiver, time, device, config, center, alerts, decoder);
        bool called = false;
        other.hidRequestReadMouseInfoVid(
            FakeHidMouse::kVendorId, FakeHidMouse::kProductId, [&](bool, qint64) { called = true; });
        EXPECT_FALSE(called);
        EXPECT_EQ(other.hidConnected(), c.opened != nullptr);
        EXPECT_EQ(receiver.openedPath(), QByteArray(c.opened));
        other.hidRequestClose();
    }
    EXPECT_EQ(time.pendingCount(), 0u);
}

TEST_F(UWHidapiManagerTest, LibraryOrOpenFailureIsReported)
{
    mouse.setInitFails(true);
    open();
    mouse.setInitFails(false);
    mouse.setOpenFails(true);
    open();
    EXPECT_EQ(opens, (std::vector<std::pair<bool, qint64>> { { false, 0 }, { false, 0 } }));
    EXPECT_FALSE(link.hidConnected());
    EXPECT_EQ(time.pendingCount(), 0u);
    // Commands on a link that never opened write nothing; closing it does nothing.
    link.SetMicrophoneOpen(true);
    link.sendGetDeviceInfoFromMouseCallBack();
    link.hidRequestClose();
    EXPECT_TRUE(mouse.writes().empty());
    EXPECT_EQ(mouse.exitCount(), 0);
}

TEST_F(UWHidapiManagerTest, CommandWritersSendTheirReports)
{
    mouse.setReportSize(0);
    open();
    link.SetThePopUpWebsiteSwitch(true);
    link.SetMicrophoneOpen(true);
    link.SetMicrophoneOpen(false);
    link.SetDpiWithIndex(3);
    link.getDianchi();
    link.setDevName(QStringLiteral("AB"));
    link.setDownLoadURL(QStringLiteral("x"));
    QVariantList led { 1, 20 };
    link.setcustomLedCallBack(led);
    EXPECT_EQ(led, QVariantList { 20 });

    const std::vector<QByteArray> expected = {
        managerHex("00a55a07520201000000ff"),
        managerHex("00a55a07520301ff"),
        managerHex("00a55a07520300ff"),
        managerHex("00a55a0852041405ff"),
        managerHex("9da55a050a"),
        managerHex("9da55a07084142"),
        managerHex("9da55a060978"),
        managerHex("9da55a060c0102ff"),
    };
    EXPECT_EQ(mouse.writes(), expected);
    // The mouse understood every command it knows.
    EXPECT_EQ(mouse.unexpectedWrites(),
        (std::vector<QByteArray> { managerHex("9da55a07084142"), managerHex("9da55a060978"), managerHex("9da55a060c0102ff") }));
    EXPECT_TRUE(mouse.popUpWebsite());
    EXPECT_EQ(mouse.dpi(), 1300);

    // Their replies come back through the poll.
    advance(0.1);
    EXPECT_EQ(config.fir_downAddress(), 1u);
    EXPECT_EQ(config.fir_dpi(), 3u);
    EXPECT_EQ(device.batteryPercentage(), QStringLiteral("83%")); // 3.90 V
}

TEST_F(UWHidapiManagerTest, FailedWritesAreReportedAndChangeNothing)
{
    open();
    mouse.setWriteFails(true);
    testing::internal::CaptureStdout();
    link.SetMicrophoneOpen(true);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Unable to write()"), std::string::npos);
    EXPECT_NE(out.find("Error: fake write failure"), std::string::npos);
    EXPECT_TRUE(link.hidConnected());
    EXPECT_FALSE(mouse.microphoneOn());
}

TEST_F(UWHidapiManagerTest, DeviceInformationIsAskedEverySecondUntilTheSerialArrives)
{
    mouse.ignoreDeviceInfoRequests(2);
    open();
    advance(0.21);
    EXPECT_EQ(infoRequests(), 1);
    advance(1.0);
    EXPECT_EQ(infoRequests(), 2);
    EXPECT_TRUE(device.sn().isEmpty());
    advance(1.0); // the third is answered
    EXPECT_EQ(infoRequests(), 3);
    advance(0.1);
    EXPECT_EQ(device.sn(), QStringLiteral("A1B2C3D4E5F6"));
    advance(10);
    EXPECT_EQ(infoRequests(), 3);

    // A later explicit request writes once and starts the repeats again, which stop at once.
    link.sendGetDeviceInfoFromMouseCallBack();
    advance(5);
    EXPECT_EQ(infoRequests(), 4);
}

TEST_F(UWHidapiManagerTest, ClosingStopsEveryTimerAndEveryWrite)
{
    mouse.ignoreDeviceInfoRequests(1000);
    open();
    advance(2.5); // the first request and two repeats
    EXPECT_EQ(infoRequests(), 3);
    mouse.queueReport(managerHex("a55a0554ee")); // any reply starts the low-power timer
    advance(0.01);

    link.hidRequestClose();
    EXPECT_FALSE(link.hidConnected());
    EXPECT_FALSE(mouse.isOpen());
    EXPECT_EQ(mouse.exitCount(), 1);
    EXPECT_EQ(time.pendingCount(), 0u);
    const size_t written = mouse.writes().size();
    advance(600);
    link.SetMicrophoneOpen(true);
    link.getDianchi();
    link.sendGetDeviceInfoFromMouseCallBack();
    EXPECT_EQ(mouse.writes().size(), written);
    EXPECT_EQ(batteryPolls, 0);

    // Closed before the first request left: it never leaves.
    FakeHidMouse quick;
    UWHidapiManager other(quick, time, device, config, center, alerts, decoder);
    other.hidRequestReadMouseInfoVid(FakeHidMouse::kVendorId, FakeHidMouse::kProductId, {});
    time.advance(0.1);
    other.hidRequestClose();
    time.advance(5);
    EXPECT_TRUE(quick.writes().empty());
}

TEST_F(UWHidapiManagerTest, OpeningAgainReplacesTheEarlierLink)
{
    open();
    open();
    EXPECT_EQ(mouse.openCount(), 2);
    EXPECT_EQ(mouse.exitCount(), 1);
    EXPECT_TRUE(mouse.isOpen());
    advance(0.3);
    EXPECT_EQ(infoRequests(), 1); // one first request, not two
}

TEST_F(UWHidapiManagerTest, BytesOfAnEarlierReportNeverCount)
{
    mouse.ignoreDeviceInfoRequests(1000);
    open();
    mouse.queueReport(mouse.serialAndLinkReport() + QByteArray(44, '\0'));
    advance(0.01);
    ASSERT_EQ(device.sn(), QStringLiteral("A1B2C3D4E5F6"));
    device.setSn(QString());
    // A short serial status: with the earlier report's bytes behind it, it would pass as complete.
    mouse.queueReport(managerHex("a55a0c5406b1b2"));
    advance(0.01);
    EXPECT_TRUE(device.sn().isEmpty());
    EXPECT_EQ(mouse.reportsWaiting(), 0u);
}

TEST_F(UWHidapiManagerTest, ShortOrBadAudioReportsGiveNoPcm)
{
    QStringList calls;
    hooks.isQuite = [&](const QByteArray&) { calls << "level"; };
    hooks.writePcmData = [&](const QByteArray&) { calls << "write"; };
    link.setHooks(hooks);
    link.rowdataPcmAudioCallBack([&](const QByteArray&, bool) { calls << "pcm"; });
    open();
    QByteArray truncated = FakeHidMouse::audioReport(QByteArray(57, '\xAD')).left(30);
    mouse.queueReport(truncated);
    mouse.queueReport(managerHex("9d01"));
    mouse.queueReport(FakeHidMouse::audioReport(QByteArray(58, '\x11'))); // bad sync byte
    advance(0.05);
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_EQ(mouse.reportsWaiting(), 0u);
}

TEST_F(UWHidapiManagerTest, LowPowerTimerPollsTheBatteryWhileRepliesComeIn)
{
    mouse.ignoreDeviceInfoRequests(1000);
    open();
    mouse.queueReport(managerHex("0011223344")); // not a reply: no timer
    advance(0.01);
    advance(400);
    EXPECT_EQ(batteryPolls, 0);

    mouse.queueReport(managerHex("a55a0554ee")); // a reply that matches nothing still starts it
    advance(0.01);
    advance(300);
    EXPECT_EQ(batteryPolls, 1);
    advance(300);
    EXPECT_EQ(batteryPolls, 2);

    // With reminders off the timer removes itself at its next firing...
    device.setRemind(false);
    advance(300);
    EXPECT_EQ(batteryPolls, 3);
    advance(900);
    EXPECT_EQ(batteryPolls, 3);
    // ...and the next reply starts it again.
    mouse.queueReport(managerHex("a55a0554ee"));
    advance(300.01);
    EXPECT_EQ(batteryPolls, 4);
}

// Closing joins the reader before the device closes, also when the receiver
// was pulled out under a read; reopening reads again from the new handle.
TEST_F(UWHidapiManagerTest, CloseStopsTheReaderFirstAndReopeningReadsAgain)
{
    open();
    advance(0.3);
    ASSERT_EQ(device.sn(), QStringLiteral("A1B2C3D4E5F6"));
    link.hidRequestClose();
    EXPECT_FALSE(mouse.isOpen());
    EXPECT_EQ(mouse.closesDuringRead(), 0);

    // A reply the mouse sends while the link is closed is read after the reopen.
    device.setDeviceConnectionMode(0);
    mouse.queueReport(mouse.serialAndLinkReport());
    open();
    advance(0.01);
    EXPECT_EQ(device.DeviceConnectionMode(), 4u);

    mouse.unplug();
    advance(0.01);
    EXPECT_TRUE(link.hidConnected()); // the watcher closes the link, not a failed read
    link.hidRequestClose();
    EXPECT_FALSE(mouse.isOpen());
    EXPECT_EQ(mouse.closesDuringRead(), 0);
}

// Reports read but not yet handled when the link closes or goes away are
// dropped, never handled by a closed or destroyed link.
TEST_F(UWHidapiManagerTest, ReportsInFlightAtCloseAreDropped)
{
    QStringList calls;
    {
        FakeHidMouse receiver;
        UWHidapiManager other(receiver, time, device, config, center, alerts, decoder);
        other.rowdataPcmAudioCallBack([&](const QByteArray&, bool) { calls << "pcm"; });
        other.hidRequestReadMouseInfoVid(FakeHidMouse::kVendorId, FakeHidMouse::kProductId, {});
        receiver.queueReport(receiver.serialAndLinkReport());
        QElapsedTimer started;
        started.start();
        while (receiver.reportsHandedOut() == 0 && started.elapsed() < 2000)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(receiver.reportsHandedOut(), 1u);
        other.hidRequestClose(); // before the main thread ran the hand-over
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(device.sn().isEmpty());
    EXPECT_TRUE(calls.isEmpty());
}

} // namespace
