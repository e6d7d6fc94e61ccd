#pragma once

#include "analytics/store/APMPBConfigurationSchema.h"
#include "analytics/store/APMPBMessage.h"

// An audience of the remote configuration with its property and event filters.
class APMPBAudience final : public APMPBMessage<APMPBAudience, APMPBAudienceMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
