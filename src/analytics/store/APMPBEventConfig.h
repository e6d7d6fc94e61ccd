#pragma once

#include "analytics/store/APMPBConfigurationSchema.h"
#include "analytics/store/APMPBMessage.h"

// Per-event switches and sampling rate of the remote configuration.
class APMPBEventConfig final : public APMPBMessage<APMPBEventConfig, APMPBEventConfigMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
