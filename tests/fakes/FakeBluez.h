#pragma once

#include "fakes/FakeSessionBus.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <vector>

namespace fakes {

// BlueZ's object manager on a private bus: adapters and devices are added
// and removed by the test, each change signalled as BlueZ signals it
// (InterfacesAdded, InterfacesRemoved, and PropertiesChanged when discovery
// sees a known device again). An adapter takes SetDiscoveryFilter,
// StartDiscovery and StopDiscovery, which are written down. A listing can
// be held back until the test releases it, to show that the caller does
// not wait for it. Calls that BlueZ would refuse are recorded.
class FakeBluez : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.DBus.ObjectManager")
public:
    static const QString kAdapterPath; // "/org/bluez/hci0"

    FakeBluez();
    ~FakeBluez() override;

    bool isRunning() const { return service_.isConnected(); }
    // A client connection to the same bus, with its own unique name.
    QDBusConnection clientConnection() { return bus_.connect(); }

    void addObject(const QString& path, const QString& interface);
    void removeObject(const QString& path);
    // A device BlueZ already knows, with its properties; no signal. Answers its object path.
    QString addDevice(const QString& address, const QString& name, bool connected, const QStringList& uuids);
    // A device discovery finds for the first time: added and announced.
    QString deviceAppears(const QString& address, const QString& name);
    // Discovery sees a known device again (its signal strength changes).
    void deviceSeenAgain(const QString& path, int rssi);
    // While held, listings are answered only by release().
    void holdListings(bool hold) { hold_ = hold; }
    void release();

    int listings() const { return listings_; }
    // The adapter calls in order: "SetDiscoveryFilter le", "StartDiscovery /org/bluez/hci0", ...
    QStringList adapterCalls() const { return adapterCalls_; }
    QStringList problems() const { return problems_; }

public slots:
    void GetManagedObjects();

private:
    class Adapters;
    QDBusMessage listingReply(const QDBusMessage& call) const;
    bool handleAdapterCall(const QDBusMessage& call, const QDBusConnection& connection);

    FakeSessionBus bus_;
    QDBusConnection service_ { QString() };
    std::unique_ptr<Adapters> adapters_;
    QMap<QString, QMap<QString, QVariantMap>> objects_; // path -> interface -> properties
    bool hold_ = false;
    std::vector<QDBusMessage> held_;
    int listings_ = 0;
    QStringList adapterCalls_;
    QStringList problems_;
};

} // namespace fakes
