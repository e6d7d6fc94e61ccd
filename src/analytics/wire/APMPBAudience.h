#pragma once

#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBMessage.h"

// An audience of the remote configuration with its property and event filters.
class APMPBAudience final : public APMPBMessage<APMPBAudience, APMPBAudienceMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
