#include "device/DeviceBattery.h"

#include "core/LGNLocalizedString.h"
#include "core/MMDeviceInfo.h"
#include "core/Notifications.h"
#include "device/DeviceAlertPresenter.h"
#include "platform/NotificationCenter.h"

#include <gtest/gtest.h>

namespace {

// Keeps the alerts it was asked to show; the test answers them.
class AnsweredAlerts final : public DeviceAlertPresenter {
public:
    struct Alert {
        QString message, informative;
        QStringList buttons;
        std::function<void(int)> completion;
    };
    void presentAlert(const QString& message, const QString& informative, const QStringList& buttons,
        std::function<void(int)> completion) override
    {
        shown.push_back({ message, informative, buttons, std::move(completion) });
    }
    void answer(int button)
    {
        ASSERT_FALSE(shown.empty());
        auto completion = shown.back().completion;
        completion(button);
    }
    std::vector<Alert> shown;
};

class DeviceBatteryTest : public ::testing::Test {
protected:
    DeviceBatteryTest()
    {
        observer = center.addObserver(
            notifications::kHadReloadDianciImage, [this](const platform::Notification& n) {
                ++posts;
                EXPECT_FALSE(n.object.isValid());
            });
    }
    void reply(quint16 raw) { battery.update(quint8(raw & 0xFF), quint8(raw >> 8)); }

    MMDeviceInfo device;
    platform::NotificationCenter center;
    AnsweredAlerts alerts;
    DeviceBattery battery { device, center, alerts };
    platform::ObserverToken observer;
    int posts = 0;
};

TEST_F(DeviceBatteryTest, VoltsToPercent)
{
    const struct {
        quint16 raw;
        float percent;
        const char* text;
        bool alert;
    } cases[] = {
        { 320, 0.0f, "0%", true },
        { 319, 1.18f, "1%", true },
        { 0, 1.18f, "1%", true },
        { 337, 20.059986f, "20%", true },
        { 338, 21.240013f, "21%", false },
        { 370, 59.000015f, "59%", false },
        { 405, 100.0f, "100%", false },
        { 65535, 100.0f, "100%", false },
    };
    for (const auto& c : cases) {
        MMDeviceInfo fresh;
        AnsweredAlerts freshAlerts;
        DeviceBattery b(fresh, center, freshAlerts);
        b.update(quint8(c.raw & 0xFF), quint8(c.raw >> 8));
        // Exact: the computation is single precision with a double-precision correction.
        EXPECT_EQ(fresh.batteryfloat(), c.percent) << c.raw;
        EXPECT_EQ(DeviceBattery::percentForRaw(c.raw), c.percent) << c.raw;
        EXPECT_EQ(fresh.batteryPercentage(), QString::fromLatin1(c.text)) << c.raw;
        EXPECT_EQ(freshAlerts.shown.size(), c.alert ? 1u : 0u) << c.raw;
    }
    EXPECT_EQ(posts, int(std::size(cases)));
    // 4.2 - 3.2 in single precision is a little under 1.
    EXPECT_EQ(DeviceBattery::ConvertingVoltageIntoElectricalQuantity(3.7f), 50.000012f);
}

TEST_F(DeviceBatteryTest, LowBatteryReminderUntilSwitchedOff)
{
    reply(330);
    ASSERT_EQ(alerts.shown.size(), 1u);
    const AnsweredAlerts::Alert& alert = alerts.shown.front();
    EXPECT_EQ(alert.message, LGNLocalizedString::lgnAppLocalizedString(QStringLiteral("温馨提醒")));
    EXPECT_EQ(alert.informative,
        LGNLocalizedString::lgnAppLocalizedString(QStringLiteral("电池电量低于20%，请及时充电。")));
    EXPECT_EQ(alert.buttons,
        (QStringList { LGNLocalizedString::lgnAppLocalizedString(QStringLiteral("确认")),
            LGNLocalizedString::lgnAppLocalizedString(QStringLiteral("取消提醒")) }));

    // While the sheet is up, another low reply updates the level but adds no second sheet.
    reply(325);
    EXPECT_EQ(alerts.shown.size(), 1u);
    EXPECT_EQ(device.batteryPercentage(), QStringLiteral("6%"));

    // The first button keeps reminding.
    alerts.answer(0);
    EXPECT_TRUE(device.remind());
    reply(330);
    ASSERT_EQ(alerts.shown.size(), 2u);

    // The second button stops the reminders; the level still updates and is still announced.
    alerts.answer(1);
    EXPECT_FALSE(device.remind());
    const int postsBefore = posts;
    reply(321);
    EXPECT_EQ(alerts.shown.size(), 2u);
    EXPECT_EQ(device.batteryPercentage(), QStringLiteral("1%"));
    EXPECT_EQ(posts, postsBefore + 1);
}

TEST_F(DeviceBatteryTest, ClosingTheSheetAnotherWayAlsoStopsReminders)
{
    reply(320);
    alerts.answer(-1);
    EXPECT_FALSE(device.remind());
}

} // namespace
