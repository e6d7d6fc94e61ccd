#pragma once

#include "platform/BleCentral.h"

#include <QBluetoothLocalDevice>
#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QVariantMap>

#include <functional>

class QDBusMessage;
class QLowEnergyController;
class QLowEnergyService;

namespace platform {

// The central over Qt Bluetooth LE on BlueZ. Qt cannot list the devices the
// system already has connected, so those come from BlueZ's object manager
// on the system bus (org.bluez.Device1 with Connected and the service among
// its UUIDs); scanning is BlueZ's discovery on the first adapter, its
// devices read from the object manager's and the devices' signals. Every
// bus call is asynchronous, so a slow bus never holds up the main thread.
// Connecting, discovery, notifications and writes go through
// QLowEnergyController and QLowEnergyService.
class BluezBleCentral final : public QObject, public BleCentral {
    Q_OBJECT

public:
    // How long a bus call may take before it counts as failed.
    static constexpr int kBusTimeoutMs = 5000;

    explicit BluezBleCentral(const QDBusConnection& bus = QDBusConnection::systemBus());
    ~BluezBleCentral() override;

    // Whether BlueZ answers on the system bus.
    static bool isAvailable();

    void setDelegate(BleCentralDelegate* delegate) override { delegate_ = delegate; }
    BleAdapterState state() const override;
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

private Q_SLOTS:
    void interfacesAdded(const QDBusMessage& message);
    void propertiesChanged(const QDBusMessage& message);

private:
    using ObjectsHandler = std::function<void(bool ok, const QMap<QString, QMap<QString, QVariantMap>>& objects)>;
    // BlueZ's objects (path -> interface -> properties), asked without waiting.
    void managedObjects(ObjectsHandler handler);
    void startDiscoveryOn(const QString& adapterPath);
    void reportSighting(const QVariantMap& device);

    struct Connection {
        QLowEnergyController* controller = nullptr;
        QHash<QString, QLowEnergyService*> services; // by service UUID text
        bool connected = false;
    };

    void watchService(const QString& identifier, const QString& serviceText, QLowEnergyService* service);
    // The service of a connection that holds the characteristic; null when none does.
    QLowEnergyService* serviceHolding(const QString& identifier, const QString& characteristic) const;
    void dropConnection(const QString& identifier);

    QDBusConnection bus_;
    QBluetoothLocalDevice adapter_;
    BleCentralDelegate* delegate_ = nullptr;
    bool scanning_ = false;
    QString discoveryAdapter_; // the adapter discovering for us; empty when none
    QHash<QString, QVariantMap> scannedDevices_; // object path -> Device1 properties, while scanning
    QHash<QString, QString> names_; // identifier -> name, from the last retrieval
    QHash<QString, Connection> connections_;
};

} // namespace platform
