#pragma once

// Names on the system bus that BlueZ answers under, and the shape of its
// object manager's answer, shared by everything that talks to it.
#include <QDBusObjectPath>
#include <QMap>
#include <QString>
#include <QVariantMap>

namespace platform::bluez {

inline const QString kService = QStringLiteral("org.bluez");
inline const QString kObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
inline const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
inline const QString kAdapterInterface = QStringLiteral("org.bluez.Adapter1");
inline const QString kDeviceInterface = QStringLiteral("org.bluez.Device1");

// One object's interfaces with their properties; every object by its path.
using Interfaces = QMap<QString, QVariantMap>;
using Objects = QMap<QDBusObjectPath, Interfaces>;

} // namespace platform::bluez
