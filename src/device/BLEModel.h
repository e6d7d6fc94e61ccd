#pragma once

#include "device/DeviceCommandLink.h"
#include "device/DeviceLinkHooks.h"
#include "device/LowPowerTimer.h"
#include "device/RepeatingTimer.h"
#include "platform/BleCentral.h"
#include "platform/Executor.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

class BLETool;
class MMDeviceInfo;

namespace platform {
class NotificationCenter;
}

// The link to the mouse over Bluetooth LE, in the central role. Every
// second while it holds no mouse and the adapter is on, it looks for a
// mouse the system already has connected that offers the service "AE50",
// connects it, finds the command characteristic "AE51" (write), the reply
// characteristic "AE52" and the audio characteristic "AE42" (both notify),
// asks for the device information, and hands every notification to
// BLETool, joining audio packets that arrive in parts. Commands
// (DeviceCommandLink) are written to "AE51" without response.
//
// It can also scan: startScan() lists the named devices seen while no
// mouse is held (searchBlock), and connectBluetoothDevice() connects one of
// them the same way. Observers: bleStateBlock (the adapter state's text),
// deviceStateBlock (the codes below), searchBlock, dataBlock (every value
// the held mouse notifies, as it arrives). Main thread only.
class BLEModel final : public platform::BleCentralDelegate, public DeviceCommandLink {
public:
    static const QString kServiceUuid; // "AE50"
    static const QString kWriteUuid; // "AE51"
    static const QString kReplyUuid; // "AE52"
    static const QString kAudioUuid; // "AE42"
    static const QString kNotConnectedName; // "Not connected"

    static constexpr double kRetryInterval = 1.0;
    // The single-precision 0.3 the device-information request waits.
    static constexpr double kDeviceInfoDelay = double(0.3f);
    static constexpr double kUsbRecheckDelay = 3.0;
    static constexpr double kLowPowerInterval = LowPowerTimer::kInterval;

    // What deviceStateBlock is told.
    enum DeviceState : int {
        kDeviceStateBluetoothOff = -2,
        kDeviceStateNotFound = -1, // no connected mouse offers the service
        kDeviceStateConnecting = 4, // a scanned device is being connected
        kDeviceStateConnected = 5,
        kDeviceStateDisconnected = 6, // disconnected, or the connection failed
    };
    // searchBlock's second value for a new device in the list.
    static constexpr int kSearchFound = 1;

    using BleStateBlock = std::function<void(const QString& state)>;
    using DeviceStateBlock = std::function<void(int state)>;
    using SearchBlock = std::function<void(const QList<platform::BlePeripheral>& devices, int found)>;
    using DataBlock = std::function<void(const QByteArray& value)>;

    // The process's link over the session's central; created idle.
    static BLEModel& sharedManager();

    BLEModel(platform::BleCentral& central, platform::Executor& executor, MMDeviceInfo& device,
        platform::NotificationCenter& center, BLETool& tool);
    ~BLEModel() override;
    BLEModel(const BLEModel&) = delete;
    BLEModel& operator=(const BLEModel&) = delete;

    // The low-power timer's battery query (chaDianchi) comes from here.
    void setHooks(DeviceLinkHooks hooks) { hooks_ = std::move(hooks); }
    // Asked 3 s after a disconnection: the USB receiver link's device-information request.
    void setUsbDeviceInfoRequest(std::function<void()> request) { usbDeviceInfoRequest_ = std::move(request); }

    void setBleStateBlock(BleStateBlock block) { bleStateBlock_ = std::move(block); }
    void setDeviceStateBlock(DeviceStateBlock block) { deviceStateBlock_ = std::move(block); }
    void setSearchBlock(SearchBlock block) { searchBlock_ = std::move(block); }
    void setDataBlock(DataBlock block) { dataBlock_ = std::move(block); }

    // Starts the link: takes the adapter's state as it is now (attachment
    // starts 1 s later when it is on). Later calls do nothing.
    void start();

    bool connected() const { return connected_; }
    bool holdsMouse() const { return held_.has_value(); }
    QString BLEName() const { return bleName_; }
    QString bleWorkState() const { return bleWorkState_; }
    bool isRetrying() const { return retryTimer_.isActive(); }

    // Starts the attachment retry unless it runs, a mouse is held or the
    // adapter is not on.
    void waitingForConnectMouseWithDaley(double interval);
    // One attachment attempt: asks for the connected devices that offer the
    // service and holds and connects the first. One question at a time: a
    // slow answer is waited for, not asked again.
    void retrievePeripheralWithUUIDString(const QString& service);

    // Scanning: empties the list and looks for advertising devices.
    void startScan();
    void stopScan();
    // The named devices seen since startScan(), in the order first seen.
    const QList<platform::BlePeripheral>& deviceArray() const { return deviceArray_; }
    // Stops scanning and connects the device (one seen while scanning),
    // unless a mouse is already held.
    void connectBluetoothDevice(const platform::BlePeripheral& peripheral);
    // A connection asked for did not come about: the mouse is let go and looked for again.
    void didFailToConnectPeripheral();
    // Ends the held mouse's connection as a disconnection would.
    void cancelPeripheralConnection();
    // Writes one command frame to "AE51" of the held mouse; nothing until it is connected.
    void sendData(const QByteArray& frame);
    // The device-information request, 0.3 s from now.
    void sendGetMouseInfo();

    void initLowPowerTimer();
    void removeLowPowerTimer();

    // DeviceCommandLink
    void setPopUpWebsite(bool on) override;
    void setMicrophone(bool on) override;
    void setDpi(quint64 level) override;
    void queryBattery() override;
    void queryDeviceInfo() override;

    // platform::BleCentralDelegate
    void centralStateChanged(platform::BleAdapterState state) override;
    void connectedPeripheralsRetrieved(
        const QString& service, const QList<platform::BlePeripheral>& peripherals) override;
    void peripheralDiscovered(const platform::BlePeripheral& peripheral) override;
    void peripheralConnected(const QString& identifier) override;
    void peripheralConnectFailed(const QString& identifier) override;
    void peripheralDisconnected(const QString& identifier) override;
    void servicesDiscovered(const QString& identifier, const QStringList& services, bool ok) override;
    void characteristicsDiscovered(
        const QString& identifier, const QString& service, const QStringList& characteristics, bool ok) override;
    void notificationStateUpdated(const QString& identifier, const QString& characteristic, bool ok) override;
    void valueUpdated(
        const QString& identifier, const QString& characteristic, const QByteArray& value, bool ok) override;

    // The adapter state's text ("蓝牙已打开", ...).
    static QString stateText(platform::BleAdapterState state);

private:
    bool isHeld(const QString& identifier) const { return held_ && held_->identifier == identifier; }
    void peripheralHasbeenConnected();
    void peripheralHasbeenDisconnected();
    // A notification of "AE52" or "AE42": replies and whole packets to the
    // decoder, parts of a packet joined first.
    void handleNotification(const QByteArray& value);
    void reportDeviceState(int state) const;

    platform::BleCentral& central_;
    platform::Executor& executor_;
    MMDeviceInfo& device_;
    platform::NotificationCenter& center_;
    BLETool& tool_;
    DeviceLinkHooks hooks_;
    std::function<void()> usbDeviceInfoRequest_;
    BleStateBlock bleStateBlock_;
    DeviceStateBlock deviceStateBlock_;
    SearchBlock searchBlock_;
    DataBlock dataBlock_;

    bool started_ = false;
    platform::BleAdapterState state_ = platform::BleAdapterState::Unknown;
    QString bleWorkState_;
    std::optional<platform::BlePeripheral> held_;
    bool retrieving_ = false;
    QList<platform::BlePeripheral> deviceArray_;
    bool connected_ = false;
    QString bleName_;
    RepeatingTimer retryTimer_;
    LowPowerTimer lowPowerTimer_;
    platform::TaskId infoRequest_ = 0;
    std::optional<QByteArray> splicedVoicePack_;
};
