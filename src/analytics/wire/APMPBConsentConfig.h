#pragma once

#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBMessage.h"

// The consent configuration: defaults, delegations, core platform services, DMA region.
class APMPBConsentConfig final : public APMPBMessage<APMPBConsentConfig, APMPBConsentConfigMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
