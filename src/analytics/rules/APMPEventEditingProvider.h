#pragma once

#include "analytics/config/APMEventEditingProvider.h"

// The remote configuration's event-editing runners: an APMPEventEditing
// whose programs may load the configuration's settings, the app metadata and
// the logger.
class APMPEventEditingProvider final : public APMEventEditingProvider {
public:
    std::shared_ptr<APMPEventEditing> eventEditingWithProgram(
        const APMPBProgram& program, Modules modules, APMError* error) const override;
};
