#pragma once

#include <QByteArray>
#include <QVariant>
#include <QVariantList>

#include <optional>

// Builds the command frames for the mouse. The BLE frames (lead byte 9D)
// are what the BLE link writes; the HID reports are what the USB link hands
// to the HID library (first byte 00: no report number, 52 before the command
// code; first byte 9D: report number 9D). Stateless; nothing is sent here.
class UWHidHelper {
public:
    static UWHidHelper& sharedManager();

    // BLE frames.
    QByteArray sendGetDeviceInfo() const;
    QByteArray sendOpenMicrophone(bool on) const;
    QByteArray sendSetURLState(bool on) const;
    QByteArray sendSetDpiNum(quint64 level) const;
    QByteArray sendGetdianchi() const;
    QByteArray sendSetDeviceName(const QVariant& name) const;
    QByteArray sendSetDownURL(const QVariant& url) const;

    // HID reports.
    static QByteArray hidGetDeviceInfoReport();
    static QByteArray hidPopUpWebsiteReport(bool on);
    static QByteArray hidMicrophoneReport(bool on);
    static QByteArray hidDpiReport(quint64 level);
    static QByteArray hidBatteryReport();
    static QByteArray hidDeviceNameReport(const QVariant& name);
    static QByteArray hidDownloadUrlReport(const QVariant& url);
    // Takes the first element as the mode and removes it from `values`; the
    // rest are sent divided by 10. Nothing (and `values` untouched) when empty.
    static std::optional<QByteArray> hidCustomLedReport(QVariantList& values);

    // The payload of the name and download-address commands: a text gives its
    // UTF-8 bytes, a map or list its JSON text, bytes stay as they are.
    static QByteArray jsonPayload(const QVariant& value);

private:
    UWHidHelper() = default;
};
