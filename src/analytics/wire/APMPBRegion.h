#pragma once

#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBMessage.h"

// A region of the remote configuration.
class APMPBRegion final : public APMPBMessage<APMPBRegion, APMPBRegionMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
