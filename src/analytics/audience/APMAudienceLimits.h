#pragma once

#include <QtGlobal>

class APMRemoteConfig;

// The audience limits of the remote configuration, read afresh at each use
// so that a new configuration applies to the next call.
struct APMAudienceLimits {
    qint32 maxAudienceCount = 100;
    qint32 maxFiltersPerAudience = 10;
    qint32 maxFilterResultCount = 200;
    qint32 maxParametersPerFilter = 25;

    static APMAudienceLimits fromRemoteConfig(const APMRemoteConfig& config);
};
