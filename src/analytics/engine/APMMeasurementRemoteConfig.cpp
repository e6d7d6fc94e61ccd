#include "analytics/engine/APMMeasurementRemoteConfig.h"

#include "analytics/config/APMRemoteConfig.h"

#include "analytics/model/APMStoreLimits.h"

#include <QMutex>

namespace {

QMutex& lock()
{
    static QMutex mutex;
    return mutex;
}

std::shared_ptr<APMRemoteConfig>& engineRemoteConfig()
{
    static std::shared_ptr<APMRemoteConfig> config;
    return config;
}

} // namespace

std::shared_ptr<APMRemoteConfig> APMMeasurementRemoteConfig::remoteConfig()
{
    {
        QMutexLocker locker(&lock());
        if (engineRemoteConfig())
            return engineRemoteConfig();
    }
    return APMRemoteConfig::defaultInstance();
}

void APMMeasurementRemoteConfig::setRemoteConfig(std::shared_ptr<APMRemoteConfig> remoteConfig)
{
    QMutexLocker locker(&lock());
    // The store reads its limits from the same configuration.
    APMStoreLimits::install(remoteConfig);
    engineRemoteConfig() = std::move(remoteConfig);
}
