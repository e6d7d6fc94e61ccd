#include "platform/BluezBleCentral.h"

#include <QBluetoothDeviceInfo>
#include <QBluetoothUuid>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDebug>
#include <QLowEnergyController>
#include <QLowEnergyService>

using BluezInterfaces = QMap<QString, QVariantMap>;
using BluezObjects = QMap<QDBusObjectPath, BluezInterfaces>;

namespace platform {

namespace {

const QString kBluezService = QStringLiteral("org.bluez");
const QString kDeviceInterface = QStringLiteral("org.bluez.Device1");
// BlueZ answers from memory; a bus that takes longer is not worth blocking for.
constexpr int kBusTimeoutMs = 1000;

// "AE50" for a 16-bit UUID, the full upper-case text otherwise.
QString bleUuidText(const QBluetoothUuid& uuid)
{
    bool ok = false;
    const quint16 shortId = uuid.toUInt16(&ok);
    if (ok)
        return QStringLiteral("%1").arg(shortId, 4, 16, QLatin1Char('0')).toUpper();
    return uuid.toString(QUuid::WithoutBraces).toUpper();
}

QBluetoothUuid bleUuidFromText(const QString& text)
{
    if (text.size() == 4) {
        bool ok = false;
        const quint16 shortId = text.toUShort(&ok, 16);
        if (ok)
            return QBluetoothUuid(shortId);
    }
    return QBluetoothUuid(QUuid::fromString(text));
}

} // namespace

BluezBleCentral::BluezBleCentral()
{
    qDBusRegisterMetaType<BluezInterfaces>();
    qDBusRegisterMetaType<BluezObjects>();
    QObject::connect(&adapter_, &QBluetoothLocalDevice::hostModeStateChanged, this, [this] {
        if (delegate_)
            delegate_->centralStateChanged(state());
    });
}

BluezBleCentral::~BluezBleCentral()
{
    const QStringList identifiers = connections_.keys();
    for (const QString& identifier : identifiers)
        dropConnection(identifier);
}

bool BluezBleCentral::isAvailable()
{
    const QDBusConnection bus = QDBusConnection::systemBus();
    return bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(kBluezService);
}

BleAdapterState BluezBleCentral::state() const
{
    if (!adapter_.isValid())
        return BleAdapterState::Unsupported;
    return adapter_.hostMode() == QBluetoothLocalDevice::HostPoweredOff ? BleAdapterState::PoweredOff
                                                                       : BleAdapterState::PoweredOn;
}

QList<BlePeripheral> BluezBleCentral::retrieveConnectedPeripherals(const QString& service)
{
    const QString wanted = bleUuidFromText(service).toString(QUuid::WithoutBraces).toLower();
    QDBusMessage call = QDBusMessage::createMethodCall(
        kBluezService, QStringLiteral("/"), QStringLiteral("org.freedesktop.DBus.ObjectManager"),
        QStringLiteral("GetManagedObjects"));
    const QDBusReply<BluezObjects> reply = QDBusConnection::systemBus().call(call, QDBus::Block, kBusTimeoutMs);
    if (!reply.isValid()) {
        qInfo() << "BLE: BlueZ did not list its devices:" << reply.error().message();
        return {};
    }
    QList<BlePeripheral> found;
    const BluezObjects objects = reply.value();
    for (const BluezInterfaces& interfaces : objects) {
        const auto device = interfaces.constFind(kDeviceInterface);
        if (device == interfaces.constEnd())
            continue;
        const QVariantMap& properties = *device;
        if (!properties.value(QStringLiteral("Connected")).toBool())
            continue;
        QStringList uuids;
        for (const QString& uuid : properties.value(QStringLiteral("UUIDs")).toStringList())
            uuids << uuid.toLower();
        if (!uuids.contains(wanted))
            continue;
        BlePeripheral peripheral;
        peripheral.identifier = properties.value(QStringLiteral("Address")).toString();
        peripheral.name = properties.value(QStringLiteral("Alias"), properties.value(QStringLiteral("Name"))).toString();
        if (peripheral.identifier.isEmpty())
            continue;
        names_.insert(peripheral.identifier, peripheral.name);
        found << peripheral;
    }
    return found;
}

void BluezBleCentral::connectPeripheral(const QString& identifier)
{
    dropConnection(identifier);
    QBluetoothDeviceInfo info(QBluetoothAddress(identifier), names_.value(identifier), 0);
    info.setCoreConfigurations(QBluetoothDeviceInfo::LowEnergyCoreConfiguration);
    QLowEnergyController* controller = QLowEnergyController::createCentral(info, this);
    connections_.insert(identifier, Connection { controller, {}, false });

    QObject::connect(controller, &QLowEnergyController::connected, this, [this, identifier] {
        connections_[identifier].connected = true;
        if (delegate_)
            delegate_->peripheralConnected(identifier);
    });
    QObject::connect(controller, &QLowEnergyController::disconnected, this, [this, identifier] {
        dropConnection(identifier);
        if (delegate_)
            delegate_->peripheralDisconnected(identifier);
    });
    QObject::connect(controller, &QLowEnergyController::errorOccurred, this,
        [this, identifier](QLowEnergyController::Error error) {
            const auto it = connections_.constFind(identifier);
            if (it == connections_.constEnd())
                return;
            qInfo() << "BLE:" << identifier << "controller error" << error;
            if (it->connected)
                return; // a lost link also reports disconnected()
            dropConnection(identifier);
            if (delegate_)
                delegate_->peripheralConnectFailed(identifier);
        });
    QObject::connect(controller, &QLowEnergyController::discoveryFinished, this, [this, identifier] {
        const auto it = connections_.constFind(identifier);
        if (it == connections_.constEnd() || !delegate_)
            return;
        QStringList services;
        for (const QBluetoothUuid& uuid : it->controller->services())
            services << bleUuidText(uuid);
        delegate_->servicesDiscovered(identifier, services, true);
    });
    controller->connectToDevice();
}

void BluezBleCentral::cancelPeripheralConnection(const QString& identifier)
{
    const auto it = connections_.constFind(identifier);
    if (it != connections_.constEnd())
        it->controller->disconnectFromDevice();
}

void BluezBleCentral::discoverServices(const QString& identifier)
{
    const auto it = connections_.constFind(identifier);
    if (it != connections_.constEnd())
        it->controller->discoverServices();
}

void BluezBleCentral::discoverCharacteristics(const QString& identifier, const QString& service)
{
    const auto it = connections_.find(identifier);
    if (it == connections_.end())
        return;
    QLowEnergyService* object = it->services.value(service);
    if (!object) {
        object = it->controller->createServiceObject(bleUuidFromText(service), it->controller);
        if (!object) {
            if (delegate_)
                delegate_->characteristicsDiscovered(identifier, service, {}, false);
            return;
        }
        it->services.insert(service, object);
        watchService(identifier, service, object);
    }
    object->discoverDetails();
}

void BluezBleCentral::watchService(const QString& identifier, const QString& serviceText, QLowEnergyService* service)
{
    QObject::connect(service, &QLowEnergyService::stateChanged, this,
        [this, identifier, serviceText, service](QLowEnergyService::ServiceState state) {
            if (state != QLowEnergyService::RemoteServiceDiscovered || !delegate_)
                return;
            QStringList characteristics;
            for (const QLowEnergyCharacteristic& c : service->characteristics())
                characteristics << bleUuidText(c.uuid());
            delegate_->characteristicsDiscovered(identifier, serviceText, characteristics, true);
        });
    QObject::connect(service, &QLowEnergyService::errorOccurred, this,
        [this, identifier, serviceText](QLowEnergyService::ServiceError error) {
            qInfo() << "BLE:" << identifier << serviceText << "service error" << error;
            if (!delegate_)
                return;
            if (error == QLowEnergyService::UnknownError)
                delegate_->characteristicsDiscovered(identifier, serviceText, {}, false);
        });
    const auto value = [this, identifier](const QLowEnergyCharacteristic& c, const QByteArray& bytes) {
        if (delegate_)
            delegate_->valueUpdated(identifier, bleUuidText(c.uuid()), bytes, true);
    };
    QObject::connect(service, &QLowEnergyService::characteristicChanged, this, value);
    QObject::connect(service, &QLowEnergyService::characteristicRead, this, value);
    QObject::connect(service, &QLowEnergyService::descriptorWritten, this,
        [this, identifier, service](const QLowEnergyDescriptor& descriptor, const QByteArray&) {
            if (descriptor.type() != QBluetoothUuid::DescriptorType::ClientCharacteristicConfiguration || !delegate_)
                return;
            for (const QLowEnergyCharacteristic& c : service->characteristics()) {
                if (c.descriptors().contains(descriptor))
                    delegate_->notificationStateUpdated(identifier, bleUuidText(c.uuid()), true);
            }
        });
}

QLowEnergyService* BluezBleCentral::serviceHolding(const QString& identifier, const QString& characteristic) const
{
    const auto it = connections_.constFind(identifier);
    if (it == connections_.constEnd())
        return nullptr;
    const QBluetoothUuid uuid = bleUuidFromText(characteristic);
    for (QLowEnergyService* service : it->services) {
        if (service->characteristic(uuid).isValid())
            return service;
    }
    return nullptr;
}

void BluezBleCentral::setNotifyValue(const QString& identifier, const QString& characteristic, bool on)
{
    QLowEnergyService* service = serviceHolding(identifier, characteristic);
    if (!service)
        return;
    const QLowEnergyDescriptor config = service->characteristic(bleUuidFromText(characteristic))
                                            .descriptor(QBluetoothUuid::DescriptorType::ClientCharacteristicConfiguration);
    if (!config.isValid()) {
        if (delegate_)
            delegate_->notificationStateUpdated(identifier, characteristic, false);
        return;
    }
    service->writeDescriptor(config, on ? QLowEnergyCharacteristic::CCCDEnableNotification
                                        : QLowEnergyCharacteristic::CCCDDisable);
}

void BluezBleCentral::readValue(const QString& identifier, const QString& characteristic)
{
    if (QLowEnergyService* service = serviceHolding(identifier, characteristic))
        service->readCharacteristic(service->characteristic(bleUuidFromText(characteristic)));
}

void BluezBleCentral::writeValue(const QString& identifier, const QString& characteristic, const QByteArray& value)
{
    if (QLowEnergyService* service = serviceHolding(identifier, characteristic))
        service->writeCharacteristic(service->characteristic(bleUuidFromText(characteristic)), value,
            QLowEnergyService::WriteWithoutResponse);
}

void BluezBleCentral::dropConnection(const QString& identifier)
{
    const auto it = connections_.find(identifier);
    if (it == connections_.end())
        return;
    // Deleted later: this may run inside one of the controller's own signals.
    it->controller->deleteLater();
    connections_.erase(it);
}

} // namespace platform
