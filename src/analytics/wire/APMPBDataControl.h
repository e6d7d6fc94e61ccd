#pragma once

#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBMessage.h"

// One data control of the remote configuration and its opt-out regions.
class APMPBDataControl final : public APMPBMessage<APMPBDataControl, APMPBDataControlMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
