#include "device/BLEModel.h"

#include "core/MMDeviceInfo.h"
#include "core/MMUserInfo.h"
#include "core/Notifications.h"
#include "device/BLETool.h"
#include "device/DeviceReplyFrame.h"
#include "device/UWHidHelper.h"
#include "device/UWHidapiManager.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"

#include <QDebug>

const QString BLEModel::kServiceUuid = QStringLiteral("AE50");
const QString BLEModel::kWriteUuid = QStringLiteral("AE51");
const QString BLEModel::kReplyUuid = QStringLiteral("AE52");
const QString BLEModel::kAudioUuid = QStringLiteral("AE42");
const QString BLEModel::kNotConnectedName = QStringLiteral("Not connected");

namespace {

const QString kBleModeKey = QStringLiteral("mode");

} // namespace

BLEModel& BLEModel::sharedManager()
{
    static BLEModel* model = [] {
        auto* created = new BLEModel(platform::BleCentral::shared(), platform::MainQueue::shared(),
            MMUserInfo::sharedMMUserInfo().deviceInfo(), platform::NotificationCenter::defaultCenter(),
            BLETool::sharedBLETool());
        created->setUsbDeviceInfoRequest(
            [] { UWHidapiManager::sharedUWHidapiManager().sendGetDeviceInfoFromMouseCallBack(); });
        return created;
    }();
    return *model;
}

BLEModel::BLEModel(platform::BleCentral& central, platform::Executor& executor, MMDeviceInfo& device,
    platform::NotificationCenter& center, BLETool& tool)
    : central_(central)
    , executor_(executor)
    , device_(device)
    , center_(center)
    , tool_(tool)
    , retryTimer_(executor)
    , lowPowerTimer_(executor, device, [this] {
        if (hooks_.chaDianchi)
            hooks_.chaDianchi();
    })
{
    central_.setDelegate(this);
}

BLEModel::~BLEModel()
{
    central_.setDelegate(nullptr);
    if (infoRequest_ != 0)
        executor_.cancel(infoRequest_);
}

void BLEModel::start()
{
    if (started_)
        return;
    started_ = true;
    centralStateChanged(central_.state());
}

QString BLEModel::stateText(platform::BleAdapterState state)
{
    using State = platform::BleAdapterState;
    switch (state) {
    case State::Unknown:
        return QStringLiteral("未知蓝牙状态");
    case State::Resetting:
        return QStringLiteral("蓝牙重置");
    case State::Unsupported:
        return QStringLiteral("该设备不支持蓝牙");
    case State::Unauthorized:
        return QStringLiteral("未授权蓝牙权限");
    case State::PoweredOff:
        return QStringLiteral("蓝牙已关闭");
    case State::PoweredOn:
        return QStringLiteral("蓝牙已打开");
    }
    return QStringLiteral("未知的蓝牙错误");
}

void BLEModel::centralStateChanged(platform::BleAdapterState state)
{
    state_ = state;
    bleWorkState_ = stateText(state);
    if (!started_)
        return;
    if (state == platform::BleAdapterState::PoweredOn) {
        waitingForConnectMouseWithDaley(kRetryInterval);
    } else {
        if (state == platform::BleAdapterState::PoweredOff)
            reportDeviceState(kDeviceStateBluetoothOff);
        retryTimer_.stop(); // nothing can be found until the adapter is on again
        // A mouse held through an adapter that went away is gone too.
        cancelPeripheralConnection();
    }
    if (bleStateBlock_)
        bleStateBlock_(bleWorkState_);
}

void BLEModel::reportDeviceState(int state) const
{
    if (deviceStateBlock_)
        deviceStateBlock_(state);
}

void BLEModel::waitingForConnectMouseWithDaley(double interval)
{
    if (retryTimer_.isActive() || held_ || state_ != platform::BleAdapterState::PoweredOn)
        return;
    retryTimer_.start(interval, [this] {
        if (held_) {
            retryTimer_.stop();
            return;
        }
        retrievePeripheralWithUUIDString(kServiceUuid);
    });
}

void BLEModel::retrievePeripheralWithUUIDString(const QString& service)
{
    if (held_ || retrieving_)
        return;
    retrieving_ = true;
    central_.retrieveConnectedPeripherals(service);
}

void BLEModel::connectedPeripheralsRetrieved(const QString&, const QList<platform::BlePeripheral>& peripherals)
{
    retrieving_ = false;
    if (peripherals.isEmpty()) {
        reportDeviceState(
            bleWorkState_ == stateText(platform::BleAdapterState::PoweredOff) ? kDeviceStateBluetoothOff
                                                                              : kDeviceStateNotFound);
        return;
    }
    // A mouse taken meanwhile (a scanned one), or an adapter gone off, wins.
    if (held_ || state_ != platform::BleAdapterState::PoweredOn)
        return;
    // One mouse at a time: the first the system lists.
    held_ = peripherals.first();
    retryTimer_.stop();
    central_.connectPeripheral(held_->identifier);
}

void BLEModel::startScan()
{
    deviceArray_.clear();
    central_.scanForPeripherals();
}

void BLEModel::stopScan()
{
    central_.stopScan();
}

void BLEModel::peripheralDiscovered(const platform::BlePeripheral& peripheral)
{
    // Only while no mouse is held (connected or being connected).
    if (held_ || peripheral.name.isEmpty())
        return;
    for (const platform::BlePeripheral& listed : std::as_const(deviceArray_)) {
        if (listed.identifier == peripheral.identifier)
            return;
    }
    deviceArray_ << peripheral;
    if (searchBlock_)
        searchBlock_(deviceArray_, kSearchFound);
}

void BLEModel::connectBluetoothDevice(const platform::BlePeripheral& peripheral)
{
    stopScan();
    if (held_) {
        qInfo() << "BLE: a mouse is already held; not connecting" << peripheral.identifier;
        return;
    }
    reportDeviceState(kDeviceStateConnecting);
    held_ = peripheral;
    retryTimer_.stop();
    central_.connectPeripheral(peripheral.identifier);
}

void BLEModel::peripheralConnected(const QString& identifier)
{
    if (isHeld(identifier))
        central_.discoverServices(identifier);
}

void BLEModel::peripheralConnectFailed(const QString& identifier)
{
    if (isHeld(identifier))
        didFailToConnectPeripheral();
}

void BLEModel::didFailToConnectPeripheral()
{
    // Let go of it so the next attempt can find it (or another mouse) again.
    held_.reset();
    reportDeviceState(kDeviceStateDisconnected);
    waitingForConnectMouseWithDaley(kRetryInterval);
}

void BLEModel::cancelPeripheralConnection()
{
    if (!held_)
        return;
    central_.cancelPeripheralConnection(held_->identifier);
    peripheralHasbeenDisconnected();
}

void BLEModel::servicesDiscovered(const QString& identifier, const QStringList& services, bool ok)
{
    if (!ok || !isHeld(identifier))
        return;
    for (const QString& service : services)
        central_.discoverCharacteristics(identifier, service);
}

void BLEModel::characteristicsDiscovered(
    const QString& identifier, const QString&, const QStringList& characteristics, bool ok)
{
    if (!ok || !isHeld(identifier))
        return;
    for (const QString& characteristic : characteristics) {
        if (characteristic == kReplyUuid || characteristic == kAudioUuid) {
            central_.setNotifyValue(identifier, characteristic, true);
        } else if (characteristic == kWriteUuid) {
            peripheralHasbeenConnected();
        }
    }
}

void BLEModel::notificationStateUpdated(const QString& identifier, const QString& characteristic, bool ok)
{
    if (ok && isHeld(identifier))
        central_.readValue(identifier, characteristic);
}

void BLEModel::valueUpdated(const QString& identifier, const QString&, const QByteArray& value, bool ok)
{
    if (!ok || !isHeld(identifier))
        return;
    if (dataBlock_)
        dataBlock_(value);
    handleNotification(value);
}

void BLEModel::peripheralDisconnected(const QString& identifier)
{
    if (isHeld(identifier))
        cancelPeripheralConnection();
}

void BLEModel::peripheralHasbeenConnected()
{
    if (connected_)
        return;
    retryTimer_.stop();
    connected_ = true;
    bleName_ = held_->name;
    reportDeviceState(kDeviceStateConnected);
    sendGetMouseInfo();
    initLowPowerTimer();
}

void BLEModel::peripheralHasbeenDisconnected()
{
    held_.reset();
    connected_ = false;
    bleName_ = kNotConnectedName;
    reportDeviceState(kDeviceStateDisconnected);
    splicedVoicePack_.reset();
    if (infoRequest_ != 0) {
        executor_.cancel(infoRequest_);
        infoRequest_ = 0;
    }
    waitingForConnectMouseWithDaley(kRetryInterval);
    removeLowPowerTimer();
    device_.setDeviceConnectionMode(0);
    center_.post(notifications::kHadReloadConnectImage, QVariantMap { { kBleModeKey, QVariant::fromValue(quint64(0)) } });
    // The mouse may have gone over to its receiver.
    executor_.asyncAfter(kUsbRecheckDelay, [request = usbDeviceInfoRequest_] {
        if (request)
            request();
    });
}

void BLEModel::sendData(const QByteArray& frame)
{
    if (connected_ && held_)
        central_.writeValue(held_->identifier, kWriteUuid, frame);
}

void BLEModel::sendGetMouseInfo()
{
    if (infoRequest_ != 0)
        executor_.cancel(infoRequest_);
    infoRequest_ = executor_.asyncAfter(kDeviceInfoDelay, [this] {
        infoRequest_ = 0;
        sendData(UWHidHelper::sharedManager().sendGetDeviceInfo());
    });
}

void BLEModel::initLowPowerTimer()
{
    lowPowerTimer_.start();
}

void BLEModel::removeLowPowerTimer()
{
    lowPowerTimer_.stop();
}

void BLEModel::setPopUpWebsite(bool on)
{
    sendData(UWHidHelper::sharedManager().sendSetURLState(on));
}

void BLEModel::setMicrophone(bool on)
{
    sendData(UWHidHelper::sharedManager().sendOpenMicrophone(on));
}

void BLEModel::setDpi(quint64 level)
{
    sendData(UWHidHelper::sharedManager().sendSetDpiNum(level));
}

void BLEModel::queryBattery()
{
    sendData(UWHidHelper::sharedManager().sendGetdianchi());
}

void BLEModel::queryDeviceInfo()
{
    sendData(UWHidHelper::sharedManager().sendGetDeviceInfo());
}

void BLEModel::handleNotification(const QByteArray& value)
{
    constexpr qsizetype kPacket = DeviceReplyFrame::kBleAudioPacketBytes;
    if (value.startsWith("\xA5\x5A")) {
        tool_.eventTypeConvertDataToHexStr(value);
        return;
    }
    if (value.startsWith("\x9D\x01")) {
        if (value.size() == kPacket) {
            tool_.eventTypeConvertDataToHexStr(value);
            return;
        }
        if (value.size() < kPacket) {
            // The first part of a packet; a packet being joined is dropped.
            splicedVoicePack_ = value;
            return;
        }
    }
    if (!splicedVoicePack_)
        return;
    splicedVoicePack_->append(value);
    if (splicedVoicePack_->size() == kPacket) {
        const QByteArray packet = *splicedVoicePack_;
        // Emptied once passed on, so nothing can complete the same packet twice.
        splicedVoicePack_.reset();
        tool_.eventTypeConvertDataToHexStr(packet);
    } else if (splicedVoicePack_->size() > kPacket) {
        splicedVoicePack_.reset();
    }
}
