#include "platform/PrimaryInterface.h"

#include <QFile>
#include <QNetworkInterface>

#include <limits>

namespace platform {

const QString PrimaryInterface::kDefaultRouteTable = QStringLiteral("/proc/net/route");

namespace primary_interface {

// Columns of the route table, and the flag of a route in use.
constexpr int kNameColumn = 0;
constexpr int kDestinationColumn = 1;
constexpr int kFlagsColumn = 3;
constexpr int kMetricColumn = 6;
constexpr int kMaskColumn = 7;
constexpr unsigned kRouteUp = 0x1;

} // namespace primary_interface

QString PrimaryInterface::choose(const QByteArray& routeTable, const QList<Interface>& interfaces)
{
    using namespace primary_interface;
    QString best;
    qulonglong bestMetric = std::numeric_limits<qulonglong>::max();
    const QList<QByteArray> lines = routeTable.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> columns = lines[i].simplified().split(' ');
        if (columns.size() <= kMaskColumn)
            continue;
        bool destinationOk = false, maskOk = false, flagsOk = false, metricOk = false;
        const qulonglong destination = columns[kDestinationColumn].toULongLong(&destinationOk, 16);
        const qulonglong mask = columns[kMaskColumn].toULongLong(&maskOk, 16);
        const qulonglong flags = columns[kFlagsColumn].toULongLong(&flagsOk, 16);
        const qulonglong metric = columns[kMetricColumn].toULongLong(&metricOk, 10);
        if (!destinationOk || !maskOk || !flagsOk || !metricOk || destination != 0 || mask != 0
            || !(flags & kRouteUp))
            continue;
        if (best.isEmpty() || metric < bestMetric) {
            best = QString::fromUtf8(columns[kNameColumn]);
            bestMetric = metric;
        }
    }
    if (!best.isEmpty())
        return best;
    for (const Interface& interface : interfaces) {
        if (interface.up && !interface.loopback)
            return interface.name;
    }
    return {};
}

QString PrimaryInterface::name()
{
    QByteArray table;
    QFile file(kDefaultRouteTable);
    if (file.open(QIODevice::ReadOnly))
        table = file.readAll();
    QList<Interface> interfaces;
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const QNetworkInterface::InterfaceFlags flags = interface.flags();
        interfaces.append(Interface { interface.name(), flags.testFlag(QNetworkInterface::IsUp),
            flags.testFlag(QNetworkInterface::IsLoopBack) });
    }
    return choose(table, interfaces);
}

} // namespace platform
