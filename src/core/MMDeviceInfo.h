#pragma once

#include <QString>
#include <QtGlobal>

// Model codes read from the mouse's device name.
enum class DeviceModel : quint64 {
    Unknown = 0,
    KZ31 = 1,
    KZ32 = 2,
    KZ43 = 3,
    KZ45 = 4,
    KZ7 = 5,
};

// The application's picture of the connected mouse, held in memory only.
// The device links fill it from the mouse's replies, the back-end client
// fills the product values, everything else reads it. Main thread only.
class MMDeviceInfo {
public:
    MMDeviceInfo() = default;

    bool unknownDevice() const { return unknownDevice_; }
    void setUnknownDevice(bool v) { unknownDevice_ = v; }
    // Low-battery reminders are on; on at creation.
    bool remind() const { return remind_; }
    void setRemind(bool v) { remind_ = v; }
    bool audioStreamInput() const { return audioStreamInput_; }
    void setAudioStreamInput(bool v) { audioStreamInput_ = v; }
    // Battery level in percent, 0 to 100.
    float batteryfloat() const { return batteryfloat_; }
    void setBatteryfloat(float v) { batteryfloat_ = v; }
    // 12 upper-case hexadecimal digits of the mouse's MAC address; empty while no device is known.
    QString sn() const { return sn_; }
    void setSn(const QString& v) { sn_ = v; }
    QString firmwareVersion() const { return firmwareVersion_; }
    void setFirmwareVersion(const QString& v) { firmwareVersion_ = v; }
    quint64 deviceModel() const { return deviceModel_; }
    void setDeviceModel(quint64 v) { deviceModel_ = v; }
    QString openKey() const { return openKey_; }
    void setOpenKey(const QString& v) { openKey_ = v; }
    QString productModelString() const { return productModelString_; }
    void setProductModelString(const QString& v) { productModelString_ = v; }
    // Battery text such as "59%".
    QString batteryPercentage() const { return batteryPercentage_; }
    void setBatteryPercentage(const QString& v) { batteryPercentage_ = v; }
    // Link byte of the serial-and-link status: 2 Bluetooth channel 1,
    // 3 Bluetooth channel 2, 4 USB receiver; 0 no device.
    quint64 DeviceConnectionMode() const { return deviceConnectionMode_; }
    void setDeviceConnectionMode(quint64 v) { deviceConnectionMode_ = v; }
    // The link that carries commands and audio: 1 Bluetooth, 2 USB receiver,
    // 0 none yet. Keeps its value after a disconnection.
    quint64 testLinkMode() const { return testLinkMode_; }
    void setTestLinkMode(quint64 v) { testLinkMode_ = v; }
    QString country() const { return country_; }
    void setCountry(const QString& v) { country_ = v; }

private:
    bool unknownDevice_ = false;
    bool remind_ = true;
    bool audioStreamInput_ = false;
    float batteryfloat_ = 0;
    QString sn_ = QStringLiteral("");
    QString firmwareVersion_ = QStringLiteral("");
    quint64 deviceModel_ = 0;
    QString openKey_;
    QString productModelString_;
    QString batteryPercentage_;
    quint64 deviceConnectionMode_ = 0;
    quint64 testLinkMode_ = 0;
    QString country_;
};
