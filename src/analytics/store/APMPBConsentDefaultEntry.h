#pragma once

#include "analytics/store/APMPBConfigurationSchema.h"
#include "analytics/store/APMPBMessage.h"

// A consent type and its default state, as enumeration numbers.
class APMPBConsentDefaultEntry final
    : public APMPBMessage<APMPBConsentDefaultEntry, APMPBConsentDefaultEntryMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
