// Which interface the computer reaches other networks through, from route
// tables in the kernel's own format.
#include "platform/PrimaryInterface.h"

#include <gtest/gtest.h>

namespace {

using platform::PrimaryInterface;

const QByteArray kRouteHeader = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

QByteArray routeLine(const char* name, const char* destination, const char* flags, int metric, const char* mask)
{
    return QByteArray(name) + '\t' + destination + "\t010200C0\t" + flags + "\t0\t0\t" + QByteArray::number(metric)
        + '\t' + mask + "\t0\t0\t0\n";
}

TEST(PrimaryInterfaceTest, TheDefaultRouteElseTheFirstInterfaceUp)
{
    const QList<PrimaryInterface::Interface> interfaces { { QStringLiteral("lo"), true, true },
        { QStringLiteral("docker0"), false, false }, { QStringLiteral("wlp2s0"), true, false },
        { QStringLiteral("eth1"), true, false } };
    const struct {
        const char* name;
        QByteArray table;
        QList<PrimaryInterface::Interface> interfaces;
        const char* expected;
    } cases[] = {
        { "default route", kRouteHeader + routeLine("eth1", "000200C0", "0001", 0, "00FFFFFF")
                + routeLine("eth1", "00000000", "0003", 0, "00000000"),
            interfaces, "eth1" },
        { "lowest metric of two", kRouteHeader + routeLine("wlp2s0", "00000000", "0003", 600, "00000000")
                + routeLine("eth1", "00000000", "0003", 100, "00000000"),
            interfaces, "eth1" },
        { "a route not up", kRouteHeader + routeLine("eth1", "00000000", "0002", 0, "00000000"), interfaces,
            "wlp2s0" },
        { "no default route", kRouteHeader + routeLine("eth1", "000200C0", "0001", 0, "00FFFFFF"), interfaces,
            "wlp2s0" },
        { "no table", QByteArray(), interfaces, "wlp2s0" },
        { "garbage", "Iface\nzz\tzz\tzz\tzz\tzz\tzz\tzz\tzz\n\t\t\n", interfaces, "wlp2s0" },
        { "only loopback", QByteArray(), { { QStringLiteral("lo"), true, true } }, "" },
        { "nothing", QByteArray(), {}, "" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(PrimaryInterface::choose(c.table, c.interfaces), QString::fromLatin1(c.expected)) << c.name;
}

} // namespace
