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

#include <vector>

namespace fakes {

// BlueZ's object manager on a private bus: adapters (and devices) are added
// and removed by the test, each change signalled as BlueZ signals it. A
// listing can be held back until the test releases it, to show that the
// caller does not wait for it. Calls that BlueZ would refuse are recorded.
class FakeBluez : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.DBus.ObjectManager")
public:
    FakeBluez();
    ~FakeBluez() override;

    bool isRunning() const { return service_.isConnected(); }
    // A client connection to the same bus, with its own unique name.
    QDBusConnection clientConnection() { return bus_.connect(); }

    void addObject(const QString& path, const QString& interface);
    void removeObject(const QString& path);
    // While held, listings are answered only by release().
    void holdListings(bool hold) { hold_ = hold; }
    void release();

    int listings() const { return listings_; }
    QStringList problems() const { return problems_; }

public slots:
    void GetManagedObjects();

private:
    QDBusMessage listingReply(const QDBusMessage& call) const;

    FakeSessionBus bus_;
    QDBusConnection service_ { QString() };
    QMap<QString, QString> objects_; // path -> interface
    bool hold_ = false;
    std::vector<QDBusMessage> held_;
    int listings_ = 0;
    QStringList problems_;
};

} // namespace fakes
