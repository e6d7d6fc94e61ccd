#pragma once

#include "analytics/store/APMPBConfigurationSchema.h"
#include "analytics/store/APMPBMessage.h"

// One data control of the remote configuration and its opt-out regions.
class APMPBDataControl final : public APMPBMessage<APMPBDataControl, APMPBDataControlMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
