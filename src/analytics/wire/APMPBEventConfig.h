#pragma once

#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBMessage.h"

// Per-event switches and sampling rate of the remote configuration.
class APMPBEventConfig final : public APMPBMessage<APMPBEventConfig, APMPBEventConfigMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
