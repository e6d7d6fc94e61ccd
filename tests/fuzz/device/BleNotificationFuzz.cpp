// Notifications of a mouse connected over Bluetooth LE through the link's
// receive path: the joining of audio packets sent in parts, reply
// recognition in the BLE order, the reply handler (settings, device state,
// battery, identification) and the audio decoder.
//
// Input: notifications one after another, each a flag byte (bit 0: on the
// audio characteristic "AE42" rather than the reply characteristic "AE52";
// bit 1: delivered with an error), a length byte and that many bytes.

#include "FuzzTarget.h"
#include "SettledPreferences.h"
#include "VirtualExecutor.h"
#include "core/MMDeviceInfo.h"
#include "core/MMwebconfig.h"
#include "device/BLEModel.h"
#include "device/BLETool.h"
#include "device/DeviceAlertPresenter.h"
#include "device/SBCDecoder.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"

#include <QRegularExpression>

namespace {

const QString kFuzzMouse = QStringLiteral("fuzz-mouse");

// A central that holds one connected mouse and accepts every request; the
// target plays the mouse's side by calling the link's delegate methods.
class BleFuzzCentral final : public platform::BleCentral {
public:
    void setDelegate(platform::BleCentralDelegate*) override { }
    platform::BleAdapterState state() const override { return platform::BleAdapterState::PoweredOn; }
    void retrieveConnectedPeripherals(const QString&) override { }
    void scanForPeripherals() override { }
    void stopScan() override { }
    void connectPeripheral(const QString&) override { }
    void cancelPeripheralConnection(const QString&) override { }
    void discoverServices(const QString&) override { }
    void discoverCharacteristics(const QString&, const QString&) override { }
    void setNotifyValue(const QString&, const QString&, bool) override { }
    void readValue(const QString&, const QString&) override { }
    void writeValue(const QString&, const QString&, const QByteArray&) override { }
};

class BleFuzzAlerts final : public DeviceAlertPresenter {
public:
    void presentAlert(
        const QString&, const QString&, const QStringList&, std::function<void(int)> completion) override
    {
        if (completion)
            completion(0);
    }
};

void checkBleSerial(const QString& sn)
{
    static const QRegularExpression serial(QStringLiteral("^[0-9A-F]{12}$"));
    if (!serial.match(sn).hasMatch())
        fuzz::fail("identified the mouse by a malformed serial \"%s\"", qPrintable(sn));
}

} // namespace

PRAVIK_FUZZ_TARGET(ble_notification)
{
    static SettledPreferences settled(
        QStringLiteral("ble"), [](platform::Preferences& prefs) { MMwebconfig config(prefs); });
    MMwebconfig config(settled.restore());
    MMDeviceInfo device;
    platform::NotificationCenter center;
    BleFuzzAlerts alerts;
    SBCDecoder decoder;
    BleFuzzCentral central;
    VirtualExecutor executor;
    BLETool tool(device, config, center, alerts, decoder);
    BLEModel link(central, executor, device, center, tool);

    DeviceLinkHooks hooks;
    hooks.getApiKeyWithDeviceMacAdress = checkBleSerial;
    hooks.getProductInfoWithDeviceMacAdress = [](const QString& sn, const QString&) { checkBleSerial(sn); };
    // One packet carries four frame slots; a slot may hold an ordinary SBC frame of more samples.
    constexpr qsizetype kMostPcm = 4 * SBCDecoder::kMaxSamples * 2;
    // A packet whose slots do not decode reaches the recording as no bytes.
    hooks.writePcmData = [](const QByteArray& pcm) {
        if (pcm.size() % 2 != 0 || pcm.size() > kMostPcm)
            fuzz::fail("handed on %lld bytes of audio", static_cast<long long>(pcm.size()));
    };
    tool.setHooks(hooks);
    tool.blePcmAudioCallBack([](const QByteArray& pcm) {
        if (pcm.isEmpty() || pcm.size() % 2 != 0 || pcm.size() > kMostPcm)
            fuzz::fail("the subscriber got %lld bytes of audio", static_cast<long long>(pcm.size()));
    });

    // Attached and connected, as after discovery.
    link.start();
    link.retrievePeripheralWithUUIDString(BLEModel::kServiceUuid);
    link.connectedPeripheralsRetrieved(BLEModel::kServiceUuid, { { kFuzzMouse, QStringLiteral("KZ31") } });
    link.peripheralConnected(kFuzzMouse);
    link.characteristicsDiscovered(
        kFuzzMouse, BLEModel::kServiceUuid, { BLEModel::kReplyUuid, BLEModel::kWriteUuid, BLEModel::kAudioUuid }, true);
    if (!link.connected())
        fuzz::fail("the mouse did not connect");

    for (qsizetype at = 0; at + 1 < input.size();) {
        const uchar flags = static_cast<uchar>(input[at++]);
        const qsizetype length = static_cast<uchar>(input[at++]);
        const QByteArray value = input.mid(at, length);
        at += length;
        link.valueUpdated(kFuzzMouse, (flags & 1) ? BLEModel::kAudioUuid : BLEModel::kReplyUuid, value, !(flags & 2));
    }
}
