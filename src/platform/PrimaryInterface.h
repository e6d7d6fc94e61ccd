#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace platform {

// The network interface this computer reaches other networks through: the
// one of the IPv4 default route (the lowest metric when there are several),
// else the first interface that is up and not loopback. Interface names
// are the system's own ("eth0", "wlp2s0"); no name is assumed.
class PrimaryInterface {
public:
    static const QString kDefaultRouteTable; // "/proc/net/route"

    struct Interface {
        QString name;
        bool up = false;
        bool loopback = false;
    };

    // Empty when the computer has no interface but loopback.
    static QString name();
    // The same from a route table's text (the kernel's format: a header
    // line, then tab-separated interface, destination, gateway, flags,
    // reference count, use, metric, mask, in hexadecimal where numeric) and
    // the interfaces in the system's order.
    static QString choose(const QByteArray& routeTable, const QList<Interface>& interfaces);
};

} // namespace platform
