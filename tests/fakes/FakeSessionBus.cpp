#include "fakes/FakeSessionBus.h"

namespace fakes {

FakeSessionBus::FakeSessionBus()
{
    daemon_.start(QStringLiteral("dbus-daemon"),
        { QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1") });
    if (daemon_.waitForStarted(5000) && daemon_.waitForReadyRead(5000))
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
}

FakeSessionBus::~FakeSessionBus()
{
    for (const QString& name : names_)
        QDBusConnection::disconnectFromBus(name);
    daemon_.terminate();
    daemon_.waitForFinished(5000);
}

QDBusConnection FakeSessionBus::connect()
{
    const QString name = QStringLiteral("fake-session-bus-%1-%2").arg(quintptr(this)).arg(names_.size());
    names_ << name;
    return QDBusConnection::connectToBus(address_, name);
}

} // namespace fakes
