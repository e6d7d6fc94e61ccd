#include "analytics/interface/BASInstallations.h"
#include "analytics/interface/NullInstallations.h"

#include <atomic>

const QString BASInstallations::kIDDidChangeNotification = QStringLiteral("BASInstallationIDDidChangeNotification");

namespace bas_installations {

std::atomic<BASInstallations*>& current()
{
    static std::atomic<BASInstallations*> installed { nullptr };
    return installed;
}

} // namespace bas_installations

BASInstallations& BASInstallations::shared()
{
    static NullInstallations none;
    BASInstallations* installed = bas_installations::current().load();
    return installed ? *installed : none;
}

void BASInstallations::setShared(BASInstallations* installations)
{
    bas_installations::current().store(installations);
}
