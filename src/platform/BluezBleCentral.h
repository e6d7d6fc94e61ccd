#pragma once

#include "platform/BleCentral.h"

#include <QBluetoothLocalDevice>
#include <QHash>
#include <QObject>

class QLowEnergyController;
class QLowEnergyService;

namespace platform {

// The central over Qt Bluetooth LE on BlueZ. Qt cannot list the devices the
// system already has connected, so those come from BlueZ's object manager
// on the system bus (org.bluez.Device1 with Connected and the service among
// its UUIDs); connecting, discovery, notifications and writes go through
// QLowEnergyController and QLowEnergyService.
class BluezBleCentral final : public QObject, public BleCentral {
public:
    BluezBleCentral();
    ~BluezBleCentral() override;

    // Whether BlueZ answers on the system bus.
    static bool isAvailable();

    void setDelegate(BleCentralDelegate* delegate) override { delegate_ = delegate; }
    BleAdapterState state() const override;
    QList<BlePeripheral> retrieveConnectedPeripherals(const QString& service) override;
    void connectPeripheral(const QString& identifier) override;
    void cancelPeripheralConnection(const QString& identifier) override;
    void discoverServices(const QString& identifier) override;
    void discoverCharacteristics(const QString& identifier, const QString& service) override;
    void setNotifyValue(const QString& identifier, const QString& characteristic, bool on) override;
    void readValue(const QString& identifier, const QString& characteristic) override;
    void writeValue(const QString& identifier, const QString& characteristic, const QByteArray& value) override;

private:
    struct Connection {
        QLowEnergyController* controller = nullptr;
        QHash<QString, QLowEnergyService*> services; // by service UUID text
        bool connected = false;
    };

    void watchService(const QString& identifier, const QString& serviceText, QLowEnergyService* service);
    // The service of a connection that holds the characteristic; null when none does.
    QLowEnergyService* serviceHolding(const QString& identifier, const QString& characteristic) const;
    void dropConnection(const QString& identifier);

    QBluetoothLocalDevice adapter_;
    BleCentralDelegate* delegate_ = nullptr;
    QHash<QString, QString> names_; // identifier -> name, from the last retrieval
    QHash<QString, Connection> connections_;
};

} // namespace platform
