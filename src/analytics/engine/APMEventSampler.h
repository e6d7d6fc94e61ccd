#pragma once

#include "analytics/wire/APMPBEvent.h"

#include <memory>
#include <optional>
#include <vector>

class APMError;

// What bundling asks of event sampling when the configuration switches it
// on: the events of a bundle that are kept. The engine's own is
// APMRateEventSampler.
class APMEventSampler {
public:
    using Events = std::vector<std::unique_ptr<APMPBEvent>>;

    virtual ~APMEventSampler() = default;

    // Nothing, with the error set, when sampling failed.
    virtual std::optional<Events> sampleEvents(Events events, APMError* error) = 0;
};
