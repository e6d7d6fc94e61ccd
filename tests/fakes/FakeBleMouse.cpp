#include "fakes/FakeBleMouse.h"

#include "fakes/MouseReplies.h"

namespace fakes {

using mouse_replies::bytes;

const QString FakeBleMouse::kIdentifier = QStringLiteral("C0:FF:EE:00:AE:50");

namespace {

const QString kFakeService = QStringLiteral("AE50");
const QString kFakeCommand = QStringLiteral("AE51");
const QString kFakeAudio = QStringLiteral("AE42");

} // namespace

FakeBleMouse::FakeBleMouse(platform::Executor& executor)
    : executor_(executor)
{
}

FakeBleMouse::~FakeBleMouse()
{
    if (audioTask_ != 0)
        executor_.cancel(audioTask_);
}

void FakeBleMouse::later(std::function<void(platform::BleCentralDelegate&)> call)
{
    executor_.async([this, alive = std::weak_ptr<int>(alive_), call = std::move(call)] {
        if (alive.expired() || !delegate_)
            return;
        call(*delegate_);
    });
}

void FakeBleMouse::retrieveConnectedPeripherals(const QString& service)
{
    ++retrievals_;
    QList<platform::BlePeripheral> found;
    if (state_ == platform::BleAdapterState::PoweredOn && systemConnected_ && service == kFakeService)
        found = { { kIdentifier, QString::fromLatin1(name_) } };
    executor_.asyncAfter(retrievalDelay_, [this, alive = std::weak_ptr<int>(alive_), service, found] {
        if (!alive.expired() && delegate_)
            delegate_->connectedPeripheralsRetrieved(service, found);
    });
}

void FakeBleMouse::scanForPeripherals()
{
    ++scans_;
    scanning_ = true;
    if (state_ != platform::BleAdapterState::PoweredOn)
        return;
    if (advertising_)
        sight({ kIdentifier, QString::fromLatin1(name_) });
    for (const platform::BlePeripheral& device : std::as_const(nearby_))
        sight(device);
}

void FakeBleMouse::stopScan()
{
    scanning_ = false;
}

void FakeBleMouse::addNearbyDevice(const platform::BlePeripheral& device)
{
    nearby_ << device;
    if (scanning_ && state_ == platform::BleAdapterState::PoweredOn)
        sight(device);
}

void FakeBleMouse::sight(const platform::BlePeripheral& device)
{
    later([this, device](auto& d) {
        // A sighting still on its way when the scan stopped is not delivered.
        if (scanning_)
            d.peripheralDiscovered(device);
    });
}

void FakeBleMouse::connectPeripheral(const QString& identifier)
{
    ++connects_;
    if (identifier != kIdentifier || connectFails_ || !(systemConnected_ || advertising_)) {
        later([identifier](auto& d) { d.peripheralConnectFailed(identifier); });
        return;
    }
    // Connected now, whether the system held it or a scan found it.
    systemConnected_ = true;
    linked_ = true;
    later([identifier](auto& d) { d.peripheralConnected(identifier); });
}

void FakeBleMouse::cancelPeripheralConnection(const QString& identifier)
{
    ++cancels_;
    if (identifier == kIdentifier)
        linked_ = false;
}

void FakeBleMouse::discoverServices(const QString& identifier)
{
    if (!linked_ || identifier != kIdentifier)
        return;
    later([identifier](auto& d) {
        d.servicesDiscovered(identifier, { QStringLiteral("180A"), kFakeService }, true);
    });
}

void FakeBleMouse::discoverCharacteristics(const QString& identifier, const QString& service)
{
    if (!linked_ || identifier != kIdentifier)
        return;
    const QStringList found = service == kFakeService
        ? characteristics_
        : QStringList { QStringLiteral("2A29"), QStringLiteral("2A24") };
    later([identifier, service, found](auto& d) { d.characteristicsDiscovered(identifier, service, found, true); });
}

void FakeBleMouse::setNotifyValue(const QString& identifier, const QString& characteristic, bool on)
{
    if (!linked_ || identifier != kIdentifier || !characteristics_.contains(characteristic))
        return;
    if (on)
        notifying_.insert(characteristic);
    else
        notifying_.remove(characteristic);
    later([identifier, characteristic](auto& d) { d.notificationStateUpdated(identifier, characteristic, true); });
}

void FakeBleMouse::readValue(const QString& identifier, const QString& characteristic)
{
    if (!linked_ || identifier != kIdentifier)
        return;
    // A read answers with the characteristic's current value: nothing yet.
    later([identifier, characteristic](auto& d) { d.valueUpdated(identifier, characteristic, QByteArray(), true); });
}

void FakeBleMouse::writeValue(const QString& identifier, const QString& characteristic, const QByteArray& value)
{
    writes_.push_back({ identifier, characteristic, value });
    if (!linked_ || identifier != kIdentifier || characteristic != kFakeCommand) {
        unexpected_.push_back(value);
        return;
    }
    answer(value);
}

QList<QByteArray> FakeBleMouse::commandWrites() const
{
    QList<QByteArray> out;
    for (const Write& write : writes_) {
        if (write.characteristic == kFakeCommand)
            out << write.value;
    }
    return out;
}

void FakeBleMouse::answer(const QByteArray& command)
{
    if (command == bytes({ 0x9D, 0xA5, 0x5A, 0x06, 0x01, 0xFF })) {
        reply(mouse_replies::deviceName(name_, major_, minor_));
        reply(mouse_replies::serialAndLink(serial_, link_));
        return;
    }
    for (int v : { 0, 1 }) {
        if (command == bytes({ 0x9D, 0xA5, 0x5A, 0x07, 0x02, v, 0x00, 0x00, 0x00, 0xFF })) {
            popUp_ = v;
            reply(mouse_replies::popUp(popUp_));
            return;
        }
        if (command == bytes({ 0x9D, 0xA5, 0x5A, 0x07, 0x03, v, 0xFF })) {
            micOn_ = v;
            reply(mouse_replies::microphone(micOn_));
            scheduleAudio();
            return;
        }
    }
    if (command.size() == 8 && command.startsWith(bytes({ 0x9D, 0xA5, 0x5A, 0x08, 0x04 }))
        && quint8(command.at(7)) == 0xFF) {
        dpi_ = quint16(quint8(command.at(5)) | (quint8(command.at(6)) << 8));
        reply(mouse_replies::dpi(dpi_));
        return;
    }
    if (command == bytes({ 0x9D, 0xA5, 0x5A, 0x05, 0x0A })) {
        reply(mouse_replies::battery(batteryRaw_));
        return;
    }
    unexpected_.push_back(command);
}

void FakeBleMouse::notify(const QString& characteristic, const QByteArray& value, bool ok)
{
    if (!linked_ || !notifying_.contains(characteristic))
        return;
    later([characteristic, value, ok](auto& d) { d.valueUpdated(kIdentifier, characteristic, value, ok); });
}

void FakeBleMouse::setAdapterState(platform::BleAdapterState state)
{
    state_ = state;
    if (state != platform::BleAdapterState::PoweredOn && linked_)
        dropLink(false);
    later([state](auto& d) { d.centralStateChanged(state); });
}

void FakeBleMouse::dropLink(bool stillConnected)
{
    systemConnected_ = stillConnected;
    if (!linked_)
        return;
    linked_ = false;
    notifying_.clear();
    micOn_ = false;
    later([](auto& d) { d.peripheralDisconnected(kIdentifier); });
}

void FakeBleMouse::setAudioFrames(const QList<QByteArray>& frames)
{
    frames_.assign(frames.begin(), frames.end());
    scheduleAudio();
}

void FakeBleMouse::scheduleAudio()
{
    if (audioTask_ != 0 || !micOn_ || frames_.empty())
        return;
    audioTask_ = executor_.asyncAfter(kAudioInterval, [this] {
        audioTask_ = 0;
        sendAudioPacket();
        scheduleAudio();
    });
}

void FakeBleMouse::sendAudioPacket()
{
    if (!micOn_ || !linked_)
        return;
    QList<QByteArray> four;
    while (four.size() < 4 && !frames_.empty()) {
        four << frames_.front();
        frames_.pop_front();
    }
    const QByteArray packet = audioPacket(four);
    ++packets_;
    if (split_.isEmpty()) {
        notify(kFakeAudio, packet);
        return;
    }
    qsizetype at = 0;
    for (int size : split_) {
        notify(kFakeAudio, packet.mid(at, size));
        at += size;
    }
}

QByteArray FakeBleMouse::audioPacket(const QList<QByteArray>& frames)
{
    QByteArray packet;
    for (int piece = 0; piece < 4; ++piece) {
        QByteArray slot = piece < frames.size() ? frames[piece].left(58) : QByteArray();
        slot.append(QByteArray(58 - slot.size(), '\0'));
        // The packet starts 9D 01; the other pieces' headers carry a sequence number.
        packet += (piece == 0 ? bytes({ 0x9D, 0x01, 0x00 }) : bytes({ 0x00, 0x00, piece })) + slot;
    }
    return packet;
}

} // namespace fakes
