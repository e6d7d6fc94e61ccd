#pragma once

#include "analytics/store/APMPBConfigurationSchema.h"
#include "analytics/store/APMPBMessage.h"

// The consent configuration: defaults, delegations, core platform services, DMA region.
class APMPBConsentConfig final : public APMPBMessage<APMPBConsentConfig, APMPBConsentConfigMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
