#pragma once

#include "analytics/store/APMPBConfigurationSchema.h"
#include "analytics/store/APMPBMessage.h"

// A region of the remote configuration.
class APMPBRegion final : public APMPBMessage<APMPBRegion, APMPBRegionMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
