#pragma once

#include "analytics/model/EventParameterLimits.h"

#include <QtGlobal>

#include <memory>

// The limits the measurement database applies, as the configuration sets
// them. The remote configuration implements this; the engine installs its
// configuration here, and until it does the compiled defaults apply (the
// same values the remote configuration answers without a configuration).
class APMStoreLimits {
public:
    static constexpr double kDefaultDatabaseDeleteStaleBundlesInterval = 86400; // seconds
    static constexpr double kDefaultMaxQueueTime = 2419200; // seconds
    static constexpr qint32 kDefaultMaxEventsStored = 100000;

    virtual ~APMStoreLimits() = default;

    // Seconds between two deletions of stale data.
    virtual double databaseDeleteStaleBundlesInterval() const = 0;
    // Seconds a raw event or bundle may wait before it counts as stale.
    virtual double maxQueueTime() const = 0;
    virtual qint32 maxEventsStored() const = 0;
    virtual EventParameterLimits eventParameterLimits() const = 0;

    // The limits in force now: those installed, else the compiled defaults.
    static std::shared_ptr<const APMStoreLimits> current();
    // nullptr goes back to the compiled defaults.
    static void install(std::shared_ptr<const APMStoreLimits> limits);
};
