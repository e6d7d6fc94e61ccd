#pragma once

#include <QtGlobal>

// The commands that must reach the mouse over whichever link carries it. Each
// link (USB receiver, Bluetooth) implements them by building its own frame
// and writing it; a link that is closed writes nothing. Main thread only.
class DeviceCommandLink {
public:
    virtual ~DeviceCommandLink() = default;

    // The mouse's pop-up-website switch.
    virtual void setPopUpWebsite(bool on) = 0;
    // The mouse's microphone (and with it the audio stream).
    virtual void setMicrophone(bool on) = 0;
    // The pointer speed, as the mouse's DPI level.
    virtual void setDpi(quint64 level) = 0;
    // Asks for the battery level (once the firmware version is known).
    virtual void queryBattery() = 0;
    // Asks for the device information (name, firmware, serial and link).
    virtual void queryDeviceInfo() = 0;
};
