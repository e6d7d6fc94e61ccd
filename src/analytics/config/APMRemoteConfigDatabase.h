#pragma once

#include <memory>
#include <optional>

class APMError;
class APMPBMeasurementConfig;

// What the remote configuration keeps in the measurement database: the last
// adopted configuration and when it was written. The measurement database
// implements it; the configuration holds it weakly.
class APMRemoteConfigDatabase {
public:
    virtual ~APMRemoteConfigDatabase() = default;

    // Stores the configuration with the time of writing. False on failure;
    // the error is filled when the store has one to give.
    virtual bool updateRemoteConfig(const APMPBMeasurementConfig& config, APMError* error) = 0;
    // The stored configuration; nothing, without an error, when none is
    // stored, and nothing with an error when it cannot be read.
    virtual std::unique_ptr<APMPBMeasurementConfig> queryMeasurementConfigWithError(APMError* error) = 0;
    // Seconds since 1970 of the last write; nothing when there was none (no
    // error) or it cannot be read (with an error).
    virtual std::optional<double> lastRemoteConfigUpdateTimestamp(APMError* error) = 0;
};
