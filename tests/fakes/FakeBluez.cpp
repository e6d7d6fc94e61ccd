#include "fakes/FakeBluez.h"

#include <QDBusMetaType>

using FakeBluezInterfaces = QMap<QString, QVariantMap>;
using FakeBluezObjects = QMap<QDBusObjectPath, FakeBluezInterfaces>;

namespace fakes {

namespace fake_bluez {
const QString kObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
}

FakeBluez::FakeBluez()
{
    qDBusRegisterMetaType<FakeBluezInterfaces>();
    qDBusRegisterMetaType<FakeBluezObjects>();
    if (!bus_.isRunning())
        return;
    service_ = bus_.connect();
    if (!service_.registerService(QStringLiteral("org.bluez"))
        || !service_.registerObject(QStringLiteral("/"), this, QDBusConnection::ExportAllSlots))
        problems_ << QStringLiteral("could not register org.bluez");
}

FakeBluez::~FakeBluez()
{
    if (service_.isConnected())
        service_.unregisterObject(QStringLiteral("/"));
}

void FakeBluez::addObject(const QString& path, const QString& interface)
{
    objects_.insert(path, interface);
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/"), fake_bluez::kObjectManager, QStringLiteral("InterfacesAdded"));
    signal << QVariant::fromValue(QDBusObjectPath(path))
           << QVariant::fromValue(FakeBluezInterfaces { { interface, QVariantMap() } });
    service_.send(signal);
}

void FakeBluez::removeObject(const QString& path)
{
    const QString interface = objects_.take(path);
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/"), fake_bluez::kObjectManager, QStringLiteral("InterfacesRemoved"));
    signal << QVariant::fromValue(QDBusObjectPath(path)) << QStringList { interface };
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
        objects.insert(QDBusObjectPath(it.key()), FakeBluezInterfaces { { it.value(), QVariantMap() } });
    return call.createReply(QVariant::fromValue(objects));
}

} // namespace fakes
