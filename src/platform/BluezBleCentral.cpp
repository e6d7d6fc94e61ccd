#include "platform/BluezBleCentral.h"

#include "platform/BluezNames.h"

#include <QBluetoothDeviceInfo>
#include <QBluetoothUuid>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>
#include <QLowEnergyController>
#include <QLowEnergyService>

namespace platform {

namespace bluez_central {

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

// A device's address and the name it goes by; no identifier when BlueZ gave no address.
BlePeripheral peripheralOf(const QVariantMap& device)
{
    BlePeripheral peripheral;
    peripheral.identifier = device.value(QStringLiteral("Address")).toString();
    peripheral.name = device.value(QStringLiteral("Alias"), device.value(QStringLiteral("Name"))).toString();
    return peripheral;
}

// Logs a bus call that failed; nothing else waits for its answer.
void logFailure(QObject* owner, const QDBusPendingCall& call, const char* what)
{
    auto* watcher = new QDBusPendingCallWatcher(call, owner);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, owner, [watcher, what] {
        watcher->deleteLater();
        if (watcher->isError())
            qInfo() << "BLE:" << what << "failed:" << watcher->error().message();
    });
}

} // namespace bluez_central

BluezBleCentral::BluezBleCentral(const QDBusConnection& bus)
    : bus_(bus)
{
    qDBusRegisterMetaType<bluez::Interfaces>();
    qDBusRegisterMetaType<bluez::Objects>();
    QObject::connect(&adapter_, &QBluetoothLocalDevice::hostModeStateChanged, this, [this] {
        if (delegate_)
            delegate_->centralStateChanged(state());
    });
}

BluezBleCentral::~BluezBleCentral()
{
    stopScan();
    const QStringList identifiers = connections_.keys();
    for (const QString& identifier : identifiers)
        dropConnection(identifier);
}

bool BluezBleCentral::isAvailable()
{
    const QDBusConnection bus = QDBusConnection::systemBus();
    return bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(bluez::kService);
}

BleAdapterState BluezBleCentral::state() const
{
    if (!adapter_.isValid())
        return BleAdapterState::Unsupported;
    return adapter_.hostMode() == QBluetoothLocalDevice::HostPoweredOff ? BleAdapterState::PoweredOff
                                                                       : BleAdapterState::PoweredOn;
}

void BluezBleCentral::managedObjects(ObjectsHandler handler)
{
    const QDBusMessage call = QDBusMessage::createMethodCall(
        bluez::kService, QStringLiteral("/"), bluez::kObjectManager, QStringLiteral("GetManagedObjects"));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kBusTimeoutMs), this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, handler = std::move(handler)] {
        watcher->deleteLater();
        const QDBusPendingReply<bluez::Objects> reply = *watcher;
        QMap<QString, bluez::Interfaces> objects;
        if (reply.isError()) {
            qInfo() << "BLE: BlueZ did not list its devices:" << reply.error().message();
            handler(false, objects);
            return;
        }
        const bluez::Objects listed = reply.value();
        for (auto it = listed.constBegin(); it != listed.constEnd(); ++it)
            objects.insert(it.key().path(), it.value());
        handler(true, objects);
    });
}

void BluezBleCentral::retrieveConnectedPeripherals(const QString& service)
{
    const QString wanted = bluez_central::bleUuidFromText(service).toString(QUuid::WithoutBraces).toLower();
    managedObjects([this, service, wanted](bool, const QMap<QString, bluez::Interfaces>& objects) {
        QList<BlePeripheral> found;
        for (const bluez::Interfaces& interfaces : objects) {
            const auto device = interfaces.constFind(bluez::kDeviceInterface);
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
            const BlePeripheral peripheral = bluez_central::peripheralOf(properties);
            if (peripheral.identifier.isEmpty())
                continue;
            names_.insert(peripheral.identifier, peripheral.name);
            found << peripheral;
        }
        if (delegate_)
            delegate_->connectedPeripheralsRetrieved(service, found);
    });
}

void BluezBleCentral::scanForPeripherals()
{
    if (scanning_)
        return;
    scanning_ = true;
    bus_.connect(bluez::kService, QString(), bluez::kObjectManager, QStringLiteral("InterfacesAdded"), this,
        SLOT(interfacesAdded(QDBusMessage)));
    bus_.connect(bluez::kService, QString(), bluez::kProperties, QStringLiteral("PropertiesChanged"), this,
        SLOT(propertiesChanged(QDBusMessage)));
    managedObjects([this](bool ok, const QMap<QString, bluez::Interfaces>& objects) {
        if (!scanning_ || !ok || !discoveryAdapter_.isEmpty())
            return;
        QString adapterPath;
        for (auto it = objects.constBegin(); it != objects.constEnd(); ++it) {
            if (adapterPath.isEmpty() && it->contains(bluez::kAdapterInterface))
                adapterPath = it.key();
            // Devices BlueZ already knows are reported when discovery sees them again.
            if (it->contains(bluez::kDeviceInterface) && !scannedDevices_.contains(it.key()))
                scannedDevices_.insert(it.key(), it->value(bluez::kDeviceInterface));
        }
        if (adapterPath.isEmpty()) {
            qInfo() << "BLE: no adapter to scan with";
            return;
        }
        startDiscoveryOn(adapterPath);
    });
}

void BluezBleCentral::startDiscoveryOn(const QString& adapterPath)
{
    discoveryAdapter_ = adapterPath;
    QDBusMessage filter = QDBusMessage::createMethodCall(
        bluez::kService, adapterPath, bluez::kAdapterInterface, QStringLiteral("SetDiscoveryFilter"));
    filter << QVariantMap { { QStringLiteral("Transport"), QStringLiteral("le") } };
    bluez_central::logFailure(this, bus_.asyncCall(filter, kBusTimeoutMs), "the discovery filter");
    const QDBusMessage start = QDBusMessage::createMethodCall(
        bluez::kService, adapterPath, bluez::kAdapterInterface, QStringLiteral("StartDiscovery"));
    bluez_central::logFailure(this, bus_.asyncCall(start, kBusTimeoutMs), "starting discovery");
}

void BluezBleCentral::stopScan()
{
    if (!scanning_)
        return;
    scanning_ = false;
    bus_.disconnect(bluez::kService, QString(), bluez::kObjectManager, QStringLiteral("InterfacesAdded"), this,
        SLOT(interfacesAdded(QDBusMessage)));
    bus_.disconnect(bluez::kService, QString(), bluez::kProperties, QStringLiteral("PropertiesChanged"), this,
        SLOT(propertiesChanged(QDBusMessage)));
    scannedDevices_.clear();
    if (discoveryAdapter_.isEmpty())
        return;
    const QDBusMessage stop = QDBusMessage::createMethodCall(
        bluez::kService, discoveryAdapter_, bluez::kAdapterInterface, QStringLiteral("StopDiscovery"));
    discoveryAdapter_.clear();
    bluez_central::logFailure(this, bus_.asyncCall(stop, kBusTimeoutMs), "stopping discovery");
}

void BluezBleCentral::interfacesAdded(const QDBusMessage& message)
{
    const QList<QVariant> arguments = message.arguments();
    if (!scanning_ || arguments.size() < 2 || !arguments[1].canConvert<QDBusArgument>())
        return;
    const QString path = qvariant_cast<QDBusObjectPath>(arguments[0]).path();
    const bluez::Interfaces interfaces = qdbus_cast<bluez::Interfaces>(arguments[1].value<QDBusArgument>());
    const auto device = interfaces.constFind(bluez::kDeviceInterface);
    if (path.isEmpty() || device == interfaces.constEnd())
        return;
    scannedDevices_.insert(path, *device);
    reportSighting(*device);
}

void BluezBleCentral::propertiesChanged(const QDBusMessage& message)
{
    const QList<QVariant> arguments = message.arguments();
    if (!scanning_ || arguments.size() < 2 || arguments[0].toString() != bluez::kDeviceInterface
        || !arguments[1].canConvert<QDBusArgument>())
        return;
    const auto known = scannedDevices_.find(message.path());
    if (known == scannedDevices_.end())
        return;
    const QVariantMap changed = qdbus_cast<QVariantMap>(arguments[1].value<QDBusArgument>());
    for (auto it = changed.constBegin(); it != changed.constEnd(); ++it)
        known->insert(it.key(), it.value());
    // A new signal strength is discovery seeing the device again.
    if (changed.contains(QStringLiteral("RSSI")) || changed.contains(QStringLiteral("Alias"))
        || changed.contains(QStringLiteral("Name")))
        reportSighting(*known);
}

void BluezBleCentral::reportSighting(const QVariantMap& device)
{
    const BlePeripheral peripheral = bluez_central::peripheralOf(device);
    if (peripheral.identifier.isEmpty())
        return;
    names_.insert(peripheral.identifier, peripheral.name);
    if (delegate_)
        delegate_->peripheralDiscovered(peripheral);
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
            services << bluez_central::bleUuidText(uuid);
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
        object = it->controller->createServiceObject(bluez_central::bleUuidFromText(service), it->controller);
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
                characteristics << bluez_central::bleUuidText(c.uuid());
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
            delegate_->valueUpdated(identifier, bluez_central::bleUuidText(c.uuid()), bytes, true);
    };
    QObject::connect(service, &QLowEnergyService::characteristicChanged, this, value);
    QObject::connect(service, &QLowEnergyService::characteristicRead, this, value);
    QObject::connect(service, &QLowEnergyService::descriptorWritten, this,
        [this, identifier, service](const QLowEnergyDescriptor& descriptor, const QByteArray&) {
            if (descriptor.type() != QBluetoothUuid::DescriptorType::ClientCharacteristicConfiguration || !delegate_)
                return;
            for (const QLowEnergyCharacteristic& c : service->characteristics()) {
                if (c.descriptors().contains(descriptor))
                    delegate_->notificationStateUpdated(identifier, bluez_central::bleUuidText(c.uuid()), true);
            }
        });
}

QLowEnergyService* BluezBleCentral::serviceHolding(const QString& identifier, const QString& characteristic) const
{
    const auto it = connections_.constFind(identifier);
    if (it == connections_.constEnd())
        return nullptr;
    const QBluetoothUuid uuid = bluez_central::bleUuidFromText(characteristic);
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
    const QLowEnergyDescriptor config = service->characteristic(bluez_central::bleUuidFromText(characteristic))
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
        service->readCharacteristic(service->characteristic(bluez_central::bleUuidFromText(characteristic)));
}

void BluezBleCentral::writeValue(const QString& identifier, const QString& characteristic, const QByteArray& value)
{
    if (QLowEnergyService* service = serviceHolding(identifier, characteristic))
        service->writeCharacteristic(service->characteristic(bluez_central::bleUuidFromText(characteristic)), value,
            QLowEnergyService::WriteWithoutResponse);
}

void BluezBleCentral::dropConnection(const QString& identifier)
{
    const auto it = connections_.find(identifier);
    if (it == connections_.end())
        return;
    // Nothing a dropped controller or its services still say may reach a
    // newer connection to the same device: a late "disconnected" would end it.
    for (QLowEnergyService* service : std::as_const(it->services))
        QObject::disconnect(service, nullptr, this, nullptr);
    QObject::disconnect(it->controller, nullptr, this, nullptr);
    // Deleted later: this may run inside one of the controller's own signals.
    it->controller->deleteLater();
    connections_.erase(it);
}

} // namespace platform
