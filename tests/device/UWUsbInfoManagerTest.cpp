#include "device/UWUsbInfoManager.h"

#include "core/MMDeviceInfo.h"
#include "core/MMwebconfig.h"
#include "core/Notifications.h"
#include "device/DeviceAlertPresenter.h"
#include "device/SBCDecoder.h"
#include "device/UWHidapiManager.h"
#include "fakes/FakeHidHotplugWatcher.h"
#include "fakes/FakeHidMouse.h"
#include "fakes/VirtualTime.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using fakes::FakeHidHotplugWatcher;
using fakes::FakeHidMouse;

class NoUsbInfoAlerts final : public DeviceAlertPresenter {
public:
    void presentAlert(const QString&, const QString&, const QStringList&, std::function<void(int)>) override
    {
    }
};

platform::HidHotplugDevice receiver(const QString& key = QStringLiteral("usb1/1-2"))
{
    return FakeHidHotplugWatcher::device(
        key, QStringLiteral("USB Composite Device"), FakeHidMouse::kVendorId, FakeHidMouse::kProductId);
}

class UWUsbInfoManagerTest : public ::testing::Test {
protected:
    UWUsbInfoManagerTest()
    {
        observer = center.addObserver(
            notifications::kHadReloadConnectImage, [this](const platform::Notification& n) {
                modes.push_back(n.object.toMap().value(QStringLiteral("mode")).toULongLong());
            });
    }

    void advance(double seconds) { fakes::advanceWithMouse(time, mouse, seconds); }

    QTemporaryDir dir;
    platform::Preferences prefs { dir.filePath(QStringLiteral("defaults.plist")) };
    MMwebconfig config { prefs };
    FakeHidMouse mouse;
    fakes::VirtualTime time;
    MMDeviceInfo device;
    platform::NotificationCenter center;
    NoUsbInfoAlerts alerts;
    SBCDecoder decoder;
    UWHidapiManager link { mouse, time, device, config, center, alerts, decoder };
    FakeHidHotplugWatcher* watcher = new FakeHidHotplugWatcher;
    UWUsbInfoManager manager { std::unique_ptr<platform::HidHotplugWatcher>(watcher), link, device, center };
    platform::ObserverToken observer;
    std::vector<quint64> modes;
};

TEST_F(UWUsbInfoManagerTest, StartsWatchingWhenCreated)
{
    EXPECT_TRUE(watcher->started());
    EXPECT_TRUE(manager.isWatching());

    auto* none = new FakeHidHotplugWatcher;
    none->setAvailable(false);
    UWUsbInfoManager blind(std::unique_ptr<platform::HidHotplugWatcher>(none), link, device, center);
    EXPECT_FALSE(blind.isWatching());
}

TEST_F(UWUsbInfoManagerTest, OnlyTheReceiverIsTaken)
{
    const platform::HidHotplugDevice others[] = {
        FakeHidHotplugWatcher::device(
            "k", "USB Composite Device ", FakeHidMouse::kVendorId, FakeHidMouse::kProductId),
        FakeHidHotplugWatcher::device("k", QString(), FakeHidMouse::kVendorId, FakeHidMouse::kProductId),
        FakeHidHotplugWatcher::device(
            "k", "usb composite device", FakeHidMouse::kVendorId, FakeHidMouse::kProductId),
        FakeHidHotplugWatcher::device("k", "Keyboard", FakeHidMouse::kVendorId, FakeHidMouse::kProductId),
    };
    for (const auto& d : others) {
        watcher->attach(d);
        EXPECT_FALSE(manager.holdsDevice()) << d.product.toStdString();
    }
    EXPECT_EQ(mouse.openCount(), 0);

    watcher->attach(receiver());
    EXPECT_TRUE(manager.holdsDevice());
    EXPECT_TRUE(link.hidConnected());
    EXPECT_EQ(mouse.openedPath(), FakeHidMouse::kVendorPath);
}

TEST_F(UWUsbInfoManagerTest, FurtherAttachmentsWaitForARemoval)
{
    watcher->attach(receiver());
    watcher->attach(receiver(QStringLiteral("usb1/1-3")));
    watcher->attach(receiver()); // another node of the held receiver, link already open
    EXPECT_EQ(mouse.openCount(), 1);

    watcher->remove(receiver());
    EXPECT_FALSE(manager.holdsDevice());
    EXPECT_FALSE(link.hidConnected());
    watcher->attach(receiver(QStringLiteral("usb1/1-3")));
    EXPECT_EQ(mouse.openCount(), 2);
}

TEST_F(UWUsbInfoManagerTest, AReceiverWithoutVendorInterfaceStaysHeld)
{
    // A receiver of other ids: the link finds no interface and stays closed.
    watcher->attach(FakeHidHotplugWatcher::device("usb1/1-5", "USB Composite Device", 0x1111, 0x2222));
    EXPECT_TRUE(manager.holdsDevice());
    EXPECT_FALSE(link.hidConnected());
    watcher->attach(receiver());
    EXPECT_EQ(mouse.openCount(), 0);
}

TEST_F(UWUsbInfoManagerTest, ALaterNodeOfTheHeldReceiverRetriesTheOpen)
{
    // The vendor interface's node appears after the first node of the receiver was reported.
    const auto vendorInterface = mouse.enumerate(FakeHidMouse::kVendorId, FakeHidMouse::kProductId).back();
    mouse.setInterfaces({ mouse.enumerate(FakeHidMouse::kVendorId, FakeHidMouse::kProductId).front() });
    watcher->attach(receiver());
    EXPECT_FALSE(link.hidConnected());
    mouse.setInterfaces({ vendorInterface });
    watcher->attach(receiver());
    EXPECT_TRUE(link.hidConnected());
    EXPECT_EQ(mouse.openCount(), 1);
}

TEST_F(UWUsbInfoManagerTest, RemovalOfTheHeldReceiverReportsTheMouseGone)
{
    watcher->attach(receiver());
    advance(0.3);
    ASSERT_EQ(device.DeviceConnectionMode(), 4u);
    modes.clear();

    watcher->remove(receiver());
    EXPECT_FALSE(link.hidConnected());
    EXPECT_EQ(device.DeviceConnectionMode(), 0u);
    EXPECT_EQ(modes, std::vector<quint64> { 0 });
    EXPECT_EQ(time.pendingCount(), 0u);
}

TEST_F(UWUsbInfoManagerTest, RemovalWhileTheMouseIsOnBluetoothKeepsTheMode)
{
    watcher->attach(receiver());
    device.setDeviceConnectionMode(2);
    watcher->remove(receiver());
    EXPECT_FALSE(link.hidConnected());
    EXPECT_EQ(device.DeviceConnectionMode(), 2u);
    EXPECT_TRUE(modes.empty());
}

TEST_F(UWUsbInfoManagerTest, RemovalOfAnotherDeviceKeepsTheLink)
{
    watcher->attach(receiver());
    advance(0.3);
    modes.clear();
    watcher->remove(receiver(QStringLiteral("usb2/2-1"))); // another receiver of the same name
    watcher->remove(FakeHidHotplugWatcher::device("usb1/1-2", "Keyboard", 1, 2));
    EXPECT_TRUE(link.hidConnected());
    EXPECT_TRUE(manager.holdsDevice());
    EXPECT_EQ(device.DeviceConnectionMode(), 4u);
    EXPECT_TRUE(modes.empty());

    // Its other nodes leaving after it do nothing more.
    watcher->remove(receiver());
    watcher->remove(receiver());
    EXPECT_EQ(modes, std::vector<quint64> { 0 });
    EXPECT_EQ(mouse.exitCount(), 1);
}

} // namespace
