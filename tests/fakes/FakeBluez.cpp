#include "fakes/FakeBluez.h"

#include <QDBusMetaType>
#include <QDBusVirtualObject>

using FakeBluezInterfaces = QMap<QString, QVariantMap>;
using FakeBluezObjects = QMap<QDBusObjectPath, FakeBluezInterfaces>;

namespace fakes {

namespace fake_bluez {

const QString kObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kAdapter = QStringLiteral("org.bluez.Adapter1");
const QString kDevice = QStringLiteral("org.bluez.Device1");

QString devicePath(const QString& address)
{
    return FakeBluez::kAdapterPath + QStringLiteral("/dev_")
        + QString(address).replace(QLatin1Char(':'), QLatin1Char('_'));
}

} // namespace fake_bluez

const QString FakeBluez::kAdapterPath = QStringLiteral("/org/bluez/hci0");

// The objects below "/org/bluez" (adapters and devices), answered by hand.
class FakeBluez::Adapters final : public QDBusVirtualObject {
public:
    explicit Adapters(FakeBluez& owner)
        : owner_(owner)
    {
    }
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        return owner_.handleAdapterCall(message, connection);
    }

private:
    FakeBluez& owner_;
};

FakeBluez::FakeBluez()
    : adapters_(std::make_unique<Adapters>(*this))
{
    qDBusRegisterMetaType<FakeBluezInterfaces>();
    qDBusRegisterMetaType<FakeBluezObjects>();
    if (!bus_.isRunning())
        return;
    service_ = bus_.connect();
    if (!service_.registerService(QStringLiteral("org.bluez"))
        || !service_.registerObject(QStringLiteral("/"), this, QDBusConnection::ExportAllSlots)
        || !service_.registerVirtualObject(
            QStringLiteral("/org/bluez"), adapters_.get(), QDBusConnection::SubPath))
        problems_ << QStringLiteral("could not register org.bluez");
}

FakeBluez::~FakeBluez()
{
    if (service_.isConnected()) {
        service_.unregisterObject(QStringLiteral("/org/bluez"), QDBusConnection::UnregisterTree);
        service_.unregisterObject(QStringLiteral("/"));
    }
}

void FakeBluez::addObject(const QString& path, const QString& interface)
{
    objects_.insert(path, { { interface, QVariantMap() } });
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/"), fake_bluez::kObjectManager, QStringLiteral("InterfacesAdded"));
    signal << QVariant::fromValue(QDBusObjectPath(path)) << QVariant::fromValue(objects_.value(path));
    service_.send(signal);
}

void FakeBluez::removeObject(const QString& path)
{
    const FakeBluezInterfaces interfaces = objects_.take(path);
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/"), fake_bluez::kObjectManager, QStringLiteral("InterfacesRemoved"));
    signal << QVariant::fromValue(QDBusObjectPath(path)) << QStringList(interfaces.keys());
    service_.send(signal);
}

QString FakeBluez::addDevice(
    const QString& address, const QString& name, bool connected, const QStringList& uuids)
{
    const QString path = fake_bluez::devicePath(address);
    QVariantMap properties { { QStringLiteral("Address"), address },
        { QStringLiteral("Connected"), connected }, { QStringLiteral("UUIDs"), uuids } };
    if (!name.isEmpty()) {
        properties.insert(QStringLiteral("Name"), name);
        properties.insert(QStringLiteral("Alias"), name);
    }
    objects_.insert(path, { { fake_bluez::kDevice, properties } });
    return path;
}

QString FakeBluez::deviceAppears(const QString& address, const QString& name)
{
    const QString path = addDevice(address, name, false, {});
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/"), fake_bluez::kObjectManager, QStringLiteral("InterfacesAdded"));
    signal << QVariant::fromValue(QDBusObjectPath(path)) << QVariant::fromValue(objects_.value(path));
    service_.send(signal);
    return path;
}

void FakeBluez::deviceSeenAgain(const QString& path, int rssi)
{
    const QVariant strength = QVariant::fromValue(qint16(rssi));
    objects_[path][fake_bluez::kDevice].insert(QStringLiteral("RSSI"), strength);
    QDBusMessage signal
        = QDBusMessage::createSignal(path, fake_bluez::kProperties, QStringLiteral("PropertiesChanged"));
    signal << fake_bluez::kDevice << QVariantMap { { QStringLiteral("RSSI"), strength } } << QStringList();
    service_.send(signal);
}

void FakeBluez::GetManagedObjects()
{
    ++listings_;
    if (!message().arguments().isEmpty())
        problems_ << QStringLiteral("GetManagedObjects takes no arguments");
    setDelayedReply(true);
    if (hold_)
        held_.push_back(message());
    else
        service_.send(listingReply(message()));
}

void FakeBluez::release()
{
    for (const QDBusMessage& call : held_)
        service_.send(listingReply(call));
    held_.clear();
}

QDBusMessage FakeBluez::listingReply(const QDBusMessage& call) const
{
    FakeBluezObjects objects;
    for (auto it = objects_.cbegin(); it != objects_.cend(); ++it)
        objects.insert(QDBusObjectPath(it.key()), it.value());
    return call.createReply(QVariant::fromValue(objects));
}

bool FakeBluez::handleAdapterCall(const QDBusMessage& call, const QDBusConnection& connection)
{
    if (call.type() != QDBusMessage::MethodCallMessage)
        return false;
    const QString member = call.member();
    const bool adapter = objects_.value(call.path()).contains(fake_bluez::kAdapter);
    if (adapter && call.interface() == fake_bluez::kAdapter
        && member == QStringLiteral("SetDiscoveryFilter")) {
        const QVariantMap filter = qdbus_cast<QVariantMap>(call.arguments().value(0));
        adapterCalls_ << member + QLatin1Char(' ') + filter.value(QStringLiteral("Transport")).toString();
    } else if (adapter && call.interface() == fake_bluez::kAdapter
        && (member == QStringLiteral("StartDiscovery") || member == QStringLiteral("StopDiscovery"))) {
        adapterCalls_ << member + QLatin1Char(' ') + call.path();
    } else {
        problems_ << QStringLiteral("unexpected %1.%2 at %3").arg(call.interface(), member, call.path());
        connection.send(call.createErrorReply(QDBusError::UnknownMethod, member));
        return true;
    }
    connection.send(call.createReply());
    return true;
}

} // namespace fakes
