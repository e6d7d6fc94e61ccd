#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

namespace platform {

// State of the Bluetooth adapter as the central sees it.
enum class BleAdapterState { Unknown, Resetting, Unsupported, Unauthorized, PoweredOff, PoweredOn };

// A peripheral the central knows: a stable identifier (the device address)
// and the name it advertises.
struct BlePeripheral {
    QString identifier;
    QString name;
};

// What the central tells its owner. Every call comes on the main thread,
// later than the request that caused it (never from inside the request).
// Services and characteristics are named by their UUID text: the four
// upper-case hex digits of a 16-bit UUID ("AE50"), the full text otherwise.
class BleCentralDelegate {
public:
    virtual ~BleCentralDelegate() = default;

    virtual void centralStateChanged(BleAdapterState state) = 0;
    // The answer to retrieveConnectedPeripherals(): empty when none offers
    // the service or the system could not say.
    virtual void connectedPeripheralsRetrieved(const QString& service, const QList<BlePeripheral>& peripherals) = 0;
    // A device seen while scanning; the same device may be reported again.
    virtual void peripheralDiscovered(const BlePeripheral& peripheral) = 0;
    virtual void peripheralConnected(const QString& identifier) = 0;
    // A connection asked for did not come about.
    virtual void peripheralConnectFailed(const QString& identifier) = 0;
    virtual void peripheralDisconnected(const QString& identifier) = 0;
    virtual void servicesDiscovered(const QString& identifier, const QStringList& services, bool ok) = 0;
    virtual void characteristicsDiscovered(
        const QString& identifier, const QString& service, const QStringList& characteristics, bool ok)
        = 0;
    virtual void notificationStateUpdated(const QString& identifier, const QString& characteristic, bool ok) = 0;
    // A notification, or the answer to readValue(); `ok` false when it came with an error.
    virtual void valueUpdated(
        const QString& identifier, const QString& characteristic, const QByteArray& value, bool ok)
        = 0;
};

// The central role of Bluetooth LE, as much of it as the mouse's link needs:
// attach to devices the system has already connected, scan for advertising
// devices, connect, discover, switch notifications on, read and write
// characteristics. No request waits for the system: answers come later
// through the delegate. Main thread only.
class BleCentral {
public:
    virtual ~BleCentral() = default;

    // One delegate; null detaches it. Set before anything is asked.
    virtual void setDelegate(BleCentralDelegate* delegate) = 0;
    // The state now; later changes go to the delegate.
    virtual BleAdapterState state() const = 0;

    // Asks which devices the system holds connected that offer the service;
    // the answer goes to connectedPeripheralsRetrieved().
    virtual void retrieveConnectedPeripherals(const QString& service) = 0;
    // Looks for advertising devices until stopScan(); each sighting goes to
    // peripheralDiscovered().
    virtual void scanForPeripherals() = 0;
    virtual void stopScan() = 0;
    virtual void connectPeripheral(const QString& identifier) = 0;
    virtual void cancelPeripheralConnection(const QString& identifier) = 0;
    virtual void discoverServices(const QString& identifier) = 0;
    virtual void discoverCharacteristics(const QString& identifier, const QString& service) = 0;
    virtual void setNotifyValue(const QString& identifier, const QString& characteristic, bool on) = 0;
    virtual void readValue(const QString& identifier, const QString& characteristic) = 0;
    // Write without response: no confirmation comes back.
    virtual void writeValue(const QString& identifier, const QString& characteristic, const QByteArray& value) = 0;

    // The central of this session: Qt Bluetooth with BlueZ when the system
    // bus offers BlueZ, else the null backend ("not available").
    // PRAVIK_BLE=bluez|null overrides the probe.
    static BleCentral& shared();
    static std::unique_ptr<BleCentral> create(const QString& choice);
};

} // namespace platform
