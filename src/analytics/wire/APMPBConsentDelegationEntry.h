#pragma once

#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBMessage.h"

// A consent type and the consent type it is delegated to.
class APMPBConsentDelegationEntry final
    : public APMPBMessage<APMPBConsentDelegationEntry, APMPBConsentDelegationEntryMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
