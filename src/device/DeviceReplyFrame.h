#pragma once

#include "device/DeviceLink.h"

#include <QByteArray>
#include <QString>

// A report or notification from the mouse, recognised by the markers in its
// hexadecimal text and with the fields its kind carries. Fields are read
// only from the bytes received: a reply too short for what it carries comes
// back with `tooShort` set and nothing else filled in.
struct DeviceReplyFrame {
    enum class Kind {
        None, // no test holds (or, on the USB link, neither a reply nor audio)
        Audio, // 9D 01 ...: mSBC frame slots
        Dpi,
        PopUpState,
        Firmware,
        DeviceName,
        Microphone,
        Battery,
        Serial,
        SerialAndLink,
        Status05,
    };

    Kind kind = Kind::None;
    bool tooShort = false;

    quint16 dpi = 0; // Dpi
    quint64 popUpState = 0; // PopUpState: the byte's hex digits read as a decimal number
    QString firmwareVersion; // Firmware, DeviceName: "major.minor"
    QByteArray deviceName; // DeviceName
    QString serial; // Serial, SerialAndLink: 12 upper-case hex digits
    QString linkText; // SerialAndLink: the link byte as two upper-case hex digits
    quint8 batteryLow = 0, batteryHigh = 0; // Battery

    // The bytes the hex text covers on the USB link: the first 32 of a report.
    static constexpr qsizetype kUsbReplyBytes = 32;
    // A whole BLE audio packet (four 61-byte pieces); also the smallest
    // notification taken as one.
    static constexpr qsizetype kBleAudioPacketBytes = 244;

    // Recognises `data`, the bytes actually received, with the order of tests of `link`.
    static DeviceReplyFrame parse(const QByteArray& data, DeviceLink link);

    // The leading decimal digits of a text as a number ("01" 1, "1A" 1, "A1" 0).
    static quint64 leadingDecimal(const QString& text);
    // The DPI setting level for a reported resolution: 800 1, 1000 2, 1300 3, 1600 4, else 0.
    static quint64 dpiLevel(quint16 dpi);
    // The model for a device name: KZ31 1, KZ32 2, KZ43 3, KZ45 4, KZ7 5, else 1.
    static quint64 modelForName(const QByteArray& name);
};
