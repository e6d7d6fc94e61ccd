#include "analytics/reporters/APMMeasurementRemoteConfig.h"

#include "analytics/config/APMRemoteConfig.h"
#include "analytics/model/APMStoreLimits.h"

std::shared_ptr<APMRemoteConfig> APMMeasurementRemoteConfig::remoteConfig()
{
    return APMRemoteConfig::engineInstance();
}

void APMMeasurementRemoteConfig::setRemoteConfig(std::shared_ptr<APMRemoteConfig> remoteConfig)
{
    // The store and the identity read their limits from the same configuration.
    APMStoreLimits::install(remoteConfig);
    APMRemoteConfig::setEngineInstance(std::move(remoteConfig));
}
