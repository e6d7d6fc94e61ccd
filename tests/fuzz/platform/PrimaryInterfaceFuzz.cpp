// The primary interface is read from the kernel's route table.
//
// Input: the table's bytes.

#include "FuzzTarget.h"
#include "platform/PrimaryInterface.h"

PRAVIK_FUZZ_TARGET(route_table)
{
    const QList<platform::PrimaryInterface::Interface> interfaces { { QStringLiteral("lo"), true, true },
        { QStringLiteral("eth9"), true, false } };
    const QString name = platform::PrimaryInterface::choose(input, interfaces);
    if (name.isEmpty())
        fuzz::fail("an interface that is up was not chosen");
    if (name.contains(QLatin1Char('\n')) || name.contains(QLatin1Char(' ')) || name.contains(QLatin1Char('\t')))
        fuzz::fail("a name that is not one field of the table");
}
