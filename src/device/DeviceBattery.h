#pragma once

#include <QtGlobal>

class DeviceAlertPresenter;
class MMDeviceInfo;

namespace platform {
class NotificationCenter;
}

// Turns a battery status reply into the device's battery level, tells the
// main window, and reminds the user when the level is 20% or less until the
// user switches the reminder off.
class DeviceBattery {
public:
    static constexpr int kLowBatteryPercent = 20;

    DeviceBattery(MMDeviceInfo& device, platform::NotificationCenter& center, DeviceAlertPresenter& alerts);

    // Battery percent for a voltage, before the correction factor; may be negative.
    static float ConvertingVoltageIntoElectricalQuantity(float volts);
    // The level shown for a raw reading in hundredths of a volt, 0 to 100.
    static float percentForRaw(quint16 raw);

    // The reply's two payload bytes, the voltage in hundredths of a volt, little-endian.
    void update(quint8 low, quint8 high);

private:
    void showLowBatteryAlert();

    MMDeviceInfo& device_;
    platform::NotificationCenter& center_;
    DeviceAlertPresenter& alerts_;
    bool alertShowing_ = false;
};
