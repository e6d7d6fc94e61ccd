#pragma once

#include "analytics/engine/APMEventSampler.h"

#include <QString>
#include <QtGlobal>

#include <functional>

class APMDatabase;
class APMMonitor;
class APMRemoteConfig;

// Thins out the events whose name has a sampling rate R in the remote
// configuration: each is kept with probability 1/R and then carries "_sr" =
// R. The first event of a name on each day of the analytics account's time
// zone is kept anyway, marked "_efs" = 1, so every name shows up at least
// once a day. What was bundled when, and at which rate, is kept in the
// sampling columns of the events table so the next bundle continues from
// there; bundling's transaction covers those writes.
class APMRateEventSampler final : public APMEventSampler {
public:
    static const QString kSamplingRateParameter; // "_sr"
    static const QString kExemptFromSamplingParameter; // "_efs"
    static const QString kComplexEventIDParameter; // "_eid"

    // A uniform random integer in [0, bound), bound at least 2.
    using RandomBelow = std::function<quint32(quint32 bound)>;

    // Asked for at each bundle: the engine makes them after its sampler.
    struct Sources {
        std::function<APMDatabase*()> database;
        std::function<APMRemoteConfig*()> remoteConfig;
        APMMonitor* monitor = nullptr;
        // Null: the process's random generator.
        RandomBelow randomBelow;
    };

    explicit APMRateEventSampler(Sources sources);

    // The kept events in their order; nothing, with the error set, when the
    // events table cannot be read or written (or the engine has no database
    // or configuration yet).
    std::optional<Events> sampleEvents(Events events, APMError* error) override;

    // Sampling is on and the name has a rate above 1. A configured rate
    // that reads as 1 is logged.
    bool canEventBeSampled(const QString& name, const APMRemoteConfig& config) const;
    // True with probability 1/rate.
    bool isEventBundledAfterRoll(qint32 rate) const;

private:
    Sources sources_;
};
