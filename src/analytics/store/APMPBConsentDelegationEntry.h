#pragma once

#include "analytics/store/APMPBConfigurationSchema.h"
#include "analytics/store/APMPBMessage.h"

// A consent type and the consent type it is delegated to.
class APMPBConsentDelegationEntry final
    : public APMPBMessage<APMPBConsentDelegationEntry, APMPBConsentDelegationEntryMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
