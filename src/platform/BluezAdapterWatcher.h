#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>

class QDBusMessage;

namespace platform {

// Whether BlueZ lists a Bluetooth adapter on the bus, followed as adapters
// are plugged in or removed and as the Bluetooth service starts or stops.
// Every question to the bus is asynchronous, so a slow or absent service
// never holds up the main thread; until the first answer arrives there is
// no adapter. A missing adapter is logged once per process. Main thread.
class BluezAdapterWatcher : public QObject {
    Q_OBJECT
public:
    explicit BluezAdapterWatcher(const QDBusConnection& bus, QObject* parent = nullptr);

    bool present() const { return present_; }

signals:
    void presenceChanged(bool present);

private slots:
    void objectsChanged(const QDBusMessage& message);

private:
    void refresh();
    void setPresent(bool present, const QString& reason);

    QDBusConnection bus_;
    QDBusServiceWatcher service_;
    quint64 generation_ = 0;
    bool present_ = false;
};

} // namespace platform
