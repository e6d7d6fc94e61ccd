#pragma once

#include <memory>

class APMRemoteConfig;

// The measurement engine's remote configuration as the rest of the library
// reaches it: the running engine's instance once it has one, the default
// instance before (and after) that. Read and written under one process-wide
// lock.
class APMMeasurementRemoteConfig {
public:
    static std::shared_ptr<APMRemoteConfig> remoteConfig();
    // The engine installs its configuration when it starts; nullptr goes back
    // to the default instance.
    static void setRemoteConfig(std::shared_ptr<APMRemoteConfig> remoteConfig);
};
