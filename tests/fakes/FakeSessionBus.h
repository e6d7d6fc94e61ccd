#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QStringList>

namespace fakes {

// A private D-Bus session bus (its own dbus-daemon) for the fakes of
// desktop services; connections to it are closed with it.
class FakeSessionBus {
public:
    FakeSessionBus();
    ~FakeSessionBus();
    FakeSessionBus(const FakeSessionBus&) = delete;
    FakeSessionBus& operator=(const FakeSessionBus&) = delete;

    bool isRunning() const { return !address_.isEmpty(); }
    // A new connection with its own unique name.
    QDBusConnection connect();

private:
    QProcess daemon_;
    QString address_;
    QStringList names_;
};

} // namespace fakes
