#pragma once

#include "platform/BleCentral.h"
#include "platform/Executor.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace fakes {

// A scripted mouse that the system holds connected over Bluetooth LE, seen
// through the central. It offers the service "AE50" with the command
// characteristic "AE51", the reply characteristic "AE52" and the audio
// characteristics "AE41" and "AE42". It records every write, answers the
// command frames it knows on "AE52" (matched byte for byte; anything else is
// kept in unexpectedWrites()), and while its microphone is on sends one
// 244-byte audio packet (four 61-byte pieces: three header bytes and a
// 58-byte mSBC slot) on "AE42" every 30 ms, whole or in parts of the sizes
// the test chose. Notifications reach the link only on characteristics
// whose notifications it switched on. While scanning it reports the devices
// nearby (the mouse itself when it advertises, and others the test adds).
// Every answer comes later, on the executor (virtual time in tests), as a
// central's callbacks do.
class FakeBleMouse final : public platform::BleCentral {
public:
    static const QString kIdentifier;
    static constexpr double kAudioInterval = 0.03;

    explicit FakeBleMouse(platform::Executor& executor);
    ~FakeBleMouse() override;

    // platform::BleCentral
    void setDelegate(platform::BleCentralDelegate* delegate) override { delegate_ = delegate; }
    platform::BleAdapterState state() const override { return state_; }
    void retrieveConnectedPeripherals(const QString& service) override;
    void scanForPeripherals() override;
    void stopScan() override;
    void connectPeripheral(const QString& identifier) override;
    void cancelPeripheralConnection(const QString& identifier) override;
    void discoverServices(const QString& identifier) override;
    void discoverCharacteristics(const QString& identifier, const QString& service) override;
    void setNotifyValue(const QString& identifier, const QString& characteristic, bool on) override;
    void readValue(const QString& identifier, const QString& characteristic) override;
    void writeValue(const QString& identifier, const QString& characteristic, const QByteArray& value) override;

    // --- Script ---
    // The adapter changes state; the central tells its delegate.
    void setAdapterState(platform::BleAdapterState state);
    // Whether the system holds the mouse connected (it is found by retrieval).
    void setSystemConnected(bool connected) { systemConnected_ = connected; }
    // The mouse advertises (found by scanning, connectable without the system holding it).
    void setAdvertising(bool advertising) { advertising_ = advertising; }
    // Another device nearby, seen by the next scan; seen at once when a scan runs.
    void addNearbyDevice(const platform::BlePeripheral& device);
    // The order in which the service lists its characteristics.
    void setCharacteristicOrder(const QStringList& order) { characteristics_ = order; }
    void setConnectFails(bool fails) { connectFails_ = fails; }
    // How long the system takes to say which devices it holds connected.
    void setRetrievalDelay(double seconds) { retrievalDelay_ = seconds; }
    void setSerial(const QByteArray& sixBytes) { serial_ = sixBytes; }
    void setLinkByte(quint8 link) { link_ = link; }
    void setDeviceName(const QByteArray& name) { name_ = name; }
    void setBatteryRaw(quint16 raw) { batteryRaw_ = raw; }
    void setAudioFrames(const QList<QByteArray>& frames);
    // Each audio packet goes out in parts of these sizes (empty: whole).
    void setAudioSplit(const QList<int>& partSizes) { split_ = partSizes; }
    // A notification the mouse sends next, as given.
    void notify(const QString& characteristic, const QByteArray& value, bool ok = true);
    // The link drops; the system still holds the mouse connected only when asked to.
    void dropLink(bool stillConnected = false);

    // --- What happened ---
    struct Write {
        QString identifier;
        QString characteristic;
        QByteArray value;
    };
    const std::vector<Write>& writes() const { return writes_; }
    // The values written to "AE51", in order.
    QList<QByteArray> commandWrites() const;
    const std::vector<QByteArray>& unexpectedWrites() const { return unexpected_; }
    bool isLinked() const { return linked_; }
    bool notifying(const QString& characteristic) const { return notifying_.contains(characteristic); }
    bool microphoneOn() const { return micOn_; }
    quint16 dpi() const { return dpi_; }
    bool popUpWebsite() const { return popUp_; }
    int retrieveCount() const { return retrievals_; }
    bool isScanning() const { return scanning_; }
    int scanCount() const { return scans_; }
    int connectCount() const { return connects_; }
    int cancelCount() const { return cancels_; }
    size_t audioFramesLeft() const { return frames_.size(); }
    // Audio packets sent so far.
    int packetsSent() const { return packets_; }

    // One audio packet of the four frames (missing slots left zero).
    static QByteArray audioPacket(const QList<QByteArray>& frames);

private:
    void later(std::function<void(platform::BleCentralDelegate&)> call);
    void sight(const platform::BlePeripheral& device);
    void answer(const QByteArray& command);
    void reply(const QByteArray& frame) { notify(QStringLiteral("AE52"), frame); }
    void scheduleAudio();
    void sendAudioPacket();

    platform::Executor& executor_;
    platform::BleCentralDelegate* delegate_ = nullptr;
    platform::BleAdapterState state_ = platform::BleAdapterState::PoweredOn;
    bool systemConnected_ = true;
    bool advertising_ = false;
    double retrievalDelay_ = 0;
    bool scanning_ = false;
    QList<platform::BlePeripheral> nearby_;
    bool connectFails_ = false;
    bool linked_ = false;
    QStringList characteristics_ { QStringLiteral("AE52"), QStringLiteral("AE51"), QStringLiteral("AE41"),
        QStringLiteral("AE42") };
    QSet<QString> notifying_;

    QByteArray serial_ = QByteArray::fromHex("a1b2c3d4e5f6");
    quint8 link_ = 0x02;
    QByteArray name_ = "KZ31 Mouse";
    quint8 major_ = 1, minor_ = 2;
    quint16 batteryRaw_ = 390;
    quint16 dpi_ = 1000;
    bool popUp_ = false;
    bool micOn_ = false;
    std::deque<QByteArray> frames_;
    QList<int> split_;
    platform::TaskId audioTask_ = 0;
    int packets_ = 0;

    std::vector<Write> writes_;
    std::vector<QByteArray> unexpected_;
    int retrievals_ = 0, connects_ = 0, cancels_ = 0, scans_ = 0;
    // Answers still scheduled when the fake goes find it gone.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace fakes
