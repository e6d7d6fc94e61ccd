#include "device/DeviceReplyHandler.h"

#include "core/MMDeviceInfo.h"
#include "core/MMwebconfig.h"
#include "core/Notifications.h"
#include "device/DeviceAlertPresenter.h"
#include "device/DeviceBattery.h"
#include "device/DeviceLinkHooks.h"
#include "device/DeviceReplyFrame.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class SilentAlerts final : public DeviceAlertPresenter {
public:
    void presentAlert(const QString&, const QString&, const QStringList&, std::function<void(int)>) override
    {
        ++shown;
    }
    int shown = 0;
};

class DeviceReplyHandlerTest : public ::testing::Test {
protected:
    DeviceReplyHandlerTest()
    {
        hooks.getApiKeyWithDeviceMacAdress
            = [this](const QString& sn) { log << QStringLiteral("getKey ") + sn; };
        hooks.getProductInfoWithDeviceMacAdress = [this](const QString& sn, const QString& linkMode) {
            log << QStringLiteral("product %1 [%2]").arg(sn, linkMode);
        };
        observer = center.addObserver({}, [this](const platform::Notification& n) {
            QString entry = n.name;
            if (n.name == notifications::kHadReloadConnectImage)
                entry += QStringLiteral(" mode=%1 device=%2")
                             .arg(n.object.toMap().value(QStringLiteral("mode")).toULongLong())
                             .arg(device.DeviceConnectionMode());
            log << entry;
        });
    }

    void handle(const char* hex, DeviceLink link = DeviceLink::Usb)
    {
        handler.handle(DeviceReplyFrame::parse(QByteArray::fromHex(hex), link), link);
    }

    QTemporaryDir dir;
    platform::Preferences prefs { dir.filePath(QStringLiteral("defaults.plist")) };
    MMwebconfig config { prefs };
    MMDeviceInfo device;
    platform::NotificationCenter center;
    SilentAlerts alerts;
    DeviceBattery battery { device, center, alerts };
    DeviceLinkHooks hooks;
    DeviceReplyHandler handler { device, config, center, battery, hooks };
    platform::ObserverToken observer;
    QStringList log;
};

TEST_F(DeviceReplyHandlerTest, DpiAndPopUpRepliesSetTheSettings)
{
    const struct {
        const char* report;
        quint64 level;
    } dpis[] = { { "a55a085404580200", 0 }, { "a55a085404200300", 1 }, { "a55a085404e80300", 2 },
        { "a55a085404140500", 3 }, { "a55a085404400600", 4 }, { "a55a085404b00400", 0 } };
    for (const auto& c : dpis) {
        config.setFir_dpi(99);
        handle(c.report);
        EXPECT_EQ(config.fir_dpi(), c.level) << c.report;
    }
    handle("a55a0754020100");
    EXPECT_EQ(config.fir_downAddress(), 1u);
    handle("a55a0754020000", DeviceLink::Ble);
    EXPECT_EQ(config.fir_downAddress(), 0u);
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(DeviceReplyHandlerTest, FirmwareAndDeviceNameReplies)
{
    handle("a55a070b010a00");
    EXPECT_EQ(device.firmwareVersion(), QStringLiteral("1.0"));
    handle("a55a11540b4b5a3332204d6f757365010aff"); // "KZ32 Mouse", 1.10
    EXPECT_EQ(device.firmwareVersion(), QStringLiteral("1.10"));
    EXPECT_EQ(device.deviceModel(), 2u);
}

TEST_F(DeviceReplyHandlerTest, SerialStatusIdentifiesWithoutAnnouncing)
{
    device.setTestLinkMode(1);
    device.setDeviceConnectionMode(3);
    handle("a55a0c5406a1b2c3d4e5f600");
    EXPECT_EQ(device.sn(), QStringLiteral("A1B2C3D4E5F6"));
    EXPECT_EQ(log, (QStringList { "getKey A1B2C3D4E5F6", "product A1B2C3D4E5F6 []" }));
    EXPECT_EQ(device.testLinkMode(), 1u);
    EXPECT_EQ(device.DeviceConnectionMode(), 3u);
}

TEST_F(DeviceReplyHandlerTest, SerialAndLinkStatusByLinkByte)
{
    const struct {
        const char* link;
        quint64 testLinkMode;
        const char* linkModeText;
        quint64 mode;
    } cases[] = { { "02", 1, "蓝牙1", 2 }, { "03", 1, "蓝牙2", 3 }, { "04", 2, "接收器", 4 },
        { "05", 7, "", 5 }, { "1a", 7, "", 1 } };
    for (const auto& c : cases) {
        for (DeviceLink link : { DeviceLink::Usb, DeviceLink::Ble }) {
            log.clear();
            device.setTestLinkMode(7);
            const QByteArray report = "a55a145406a1b2c3d4e5f600000000000000" + QByteArray(c.link) + "00";
            handle(report.constData(), link);
            EXPECT_EQ(device.sn(), QStringLiteral("A1B2C3D4E5F6"));
            EXPECT_EQ(device.testLinkMode(), c.testLinkMode) << c.link;
            EXPECT_EQ(device.DeviceConnectionMode(), c.mode) << c.link;
            const QString notice = QStringLiteral("kHadReloadConnectImageNoti mode=%1 device=%1").arg(c.mode);
            const QString getKey = QStringLiteral("getKey A1B2C3D4E5F6");
            const QString product
                = QStringLiteral("product A1B2C3D4E5F6 [%1]").arg(QString::fromUtf8(c.linkModeText));
            // The receiver asks the back end before it announces; BLE announces first.
            if (link == DeviceLink::Usb)
                EXPECT_EQ(log, (QStringList { getKey, product, notice })) << c.link;
            else
                EXPECT_EQ(log, (QStringList { notice, getKey, product })) << c.link;
        }
    }
}

TEST_F(DeviceReplyHandlerTest, BatteryReplyUpdatesTheLevel)
{
    handle("a55a09540672010000");
    EXPECT_EQ(device.batteryPercentage(), QStringLiteral("59%"));
    EXPECT_EQ(log, QStringList { notifications::kHadReloadDianciImage });
    EXPECT_EQ(alerts.shown, 0);
}

TEST_F(DeviceReplyHandlerTest, RepliesThatChangeNothing)
{
    device.setFirmwareVersion(QStringLiteral("3.4"));
    device.setSn(QStringLiteral("OLD"));
    config.setFir_dpi(2);
    for (const char* report :
        { "a55a07540301", "a55a055405", "a55a0554ee", "a55a085404", "a55a06540bff", "a55a070b01",
            "a55a09540672", "a55a0c5406a1b2c3d4e5f6", "a55a145406a1b2c3d4e5f60000000000000004" }) {
        handle(report);
        handle(report, DeviceLink::Ble);
    }
    EXPECT_EQ(device.firmwareVersion(), QStringLiteral("3.4"));
    EXPECT_EQ(device.sn(), QStringLiteral("OLD"));
    EXPECT_EQ(config.fir_dpi(), 2u);
    EXPECT_EQ(device.batteryPercentage(), QString());
    EXPECT_TRUE(log.isEmpty()) << log.join(QLatin1Char('|')).toStdString();
}

} // namespace
