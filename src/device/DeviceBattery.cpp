#include "device/DeviceBattery.h"

#include "core/LGNLocalizedString.h"
#include "core/MMDeviceInfo.h"
#include "core/Notifications.h"
#include "device/DeviceAlertPresenter.h"
#include "platform/NotificationCenter.h"

namespace {

const QString kAlertTitleKey = QStringLiteral("温馨提醒");
const QString kAlertOkKey = QStringLiteral("确认");
const QString kAlertStopRemindingKey = QStringLiteral("取消提醒");
const QString kAlertMessageKey = QStringLiteral("电池电量低于20%，请及时充电。");

// The cell's empty and full voltages.
constexpr float kEmptyVolts = 3.2f;
constexpr float kFullVolts = 4.2f;
// The cell reads low under load; the level shown is scaled up by this much.
constexpr double kCorrection = 1.18;

} // namespace

DeviceBattery::DeviceBattery(
    MMDeviceInfo& device, platform::NotificationCenter& center, DeviceAlertPresenter& alerts)
    : device_(device)
    , center_(center)
    , alerts_(alerts)
{
}

float DeviceBattery::ConvertingVoltageIntoElectricalQuantity(float volts)
{
    // Single precision throughout: the span is 4.2f - 3.2f, a little under 1.
    return (volts - kEmptyVolts) / (kFullVolts - kEmptyVolts) * 100.0f;
}

float DeviceBattery::percentForRaw(quint16 raw)
{
    const float volts = float(raw) / 100.0f;
    float percent = ConvertingVoltageIntoElectricalQuantity(volts);
    if (percent < 0)
        percent = 1;
    percent = float(double(percent) * kCorrection);
    if (percent > 100)
        percent = 100;
    return percent;
}

void DeviceBattery::update(quint8 low, quint8 high)
{
    const float percent = percentForRaw(quint16(low | (high << 8)));
    const QString text = QString::asprintf("%.f%%", double(percent));
    device_.setBatteryfloat(percent);
    device_.setBatteryPercentage(text);
    center_.post(notifications::kHadReloadDianciImage);

    if (text.chopped(1).toInt() <= kLowBatteryPercent && device_.remind())
        showLowBatteryAlert();
}

void DeviceBattery::showLowBatteryAlert()
{
    // One sheet at a time: replies that arrive while it is up do not stack more.
    if (alertShowing_)
        return;
    alertShowing_ = true;
    alerts_.presentAlert(LGNLocalizedString::lgnAppLocalizedString(kAlertTitleKey),
        LGNLocalizedString::lgnAppLocalizedString(kAlertMessageKey),
        { LGNLocalizedString::lgnAppLocalizedString(kAlertOkKey),
            LGNLocalizedString::lgnAppLocalizedString(kAlertStopRemindingKey) },
        [this](int button) {
            alertShowing_ = false;
            if (button != 0)
                device_.setRemind(false);
        });
}
