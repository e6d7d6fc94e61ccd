#include "analytics/audience/APMAudienceLimits.h"

#include "analytics/config/APMRemoteConfig.h"

APMAudienceLimits APMAudienceLimits::fromRemoteConfig(const APMRemoteConfig& config)
{
    return { config.maxAudienceCount(), config.maxFiltersPerAudience(), config.maxFilterResultCount(),
        config.maxParametersPerFilter() };
}
