#include "platform/Reachability.h"

#include "platform/NullReachability.h"
#include "platform/QtReachability.h"

#include <QByteArray>
#include <QtGlobal>

namespace platform {

Reachability& Reachability::shared()
{
    static Reachability* const reachability = []() -> Reachability* {
        const QByteArray choice = qgetenv("PRAVIK_REACHABILITY");
        if (choice != "null") {
            if (std::unique_ptr<QtReachability> qt = QtReachability::create())
                return qt.release(); // lives with the process
        }
        return new NullReachability;
    }();
    return *reachability;
}

} // namespace platform
