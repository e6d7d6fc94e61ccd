#include "platform/BluezAdapterWatcher.h"

#include "platform/BluezNames.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>

namespace platform {

namespace bluez_adapters {

// BlueZ answers from memory; an answer later than this is treated as none.
constexpr int kAnswerTimeoutMs = 5000;

// Said once per process: the mouse still works through its receiver.
bool g_missingSaid = false;

} // namespace bluez_adapters

BluezAdapterWatcher::BluezAdapterWatcher(const QDBusConnection& bus, QObject* parent)
    : QObject(parent)
    , bus_(bus)
    , service_(bluez::kService, bus, QDBusServiceWatcher::WatchForOwnerChange)
{
    qDBusRegisterMetaType<bluez::Interfaces>();
    qDBusRegisterMetaType<bluez::Objects>();
    if (!bus_.isConnected()) {
        setPresent(false, QStringLiteral("there is no system bus"));
        return;
    }
    QObject::connect(&service_, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] { refresh(); });
    for (const char* signal : { "InterfacesAdded", "InterfacesRemoved" })
        bus_.connect(bluez::kService, QStringLiteral("/"), bluez::kObjectManager,
            QString::fromLatin1(signal), this, SLOT(objectsChanged(QDBusMessage)));
    refresh();
}

void BluezAdapterWatcher::objectsChanged(const QDBusMessage& message)
{
    // Devices come and go all the time; only an adapter changes the answer.
    for (const QVariant& argument : message.arguments()) {
        if (argument.toStringList().contains(bluez::kAdapterInterface)) {
            refresh();
            return;
        }
        if (argument.canConvert<QDBusArgument>()) {
            const bluez::Interfaces interfaces = qdbus_cast<bluez::Interfaces>(argument);
            if (interfaces.contains(bluez::kAdapterInterface)) {
                refresh();
                return;
            }
        }
    }
}

void BluezAdapterWatcher::refresh()
{
    const quint64 generation = ++generation_;
    const QDBusMessage call = QDBusMessage::createMethodCall(bluez::kService, QStringLiteral("/"),
        bluez::kObjectManager, QStringLiteral("GetManagedObjects"));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, bluez_adapters::kAnswerTimeoutMs), this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        if (generation != generation_)
            return; // a later question is under way
        const QDBusPendingReply<bluez::Objects> reply = *watcher;
        if (reply.isError()) {
            setPresent(false,
                QStringLiteral("the Bluetooth service does not answer (%1)").arg(reply.error().name()));
            return;
        }
        bool found = false;
        const bluez::Objects objects = reply.value();
        for (const bluez::Interfaces& interfaces : objects)
            found = found || interfaces.contains(bluez::kAdapterInterface);
        setPresent(found, QStringLiteral("the Bluetooth service lists none"));
    });
}

void BluezAdapterWatcher::setPresent(bool present, const QString& reason)
{
    if (!present && !bluez_adapters::g_missingSaid) {
        bluez_adapters::g_missingSaid = true;
        qInfo(
            "No Bluetooth adapter (%s): the mouse is used through its USB receiver; Bluetooth starts when an "
            "adapter appears",
            qUtf8Printable(reason));
    }
    if (present == present_)
        return;
    present_ = present;
    if (present)
        qInfo("A Bluetooth adapter is present");
    emit presenceChanged(present);
}

} // namespace platform
