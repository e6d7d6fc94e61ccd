#pragma once

#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBMessage.h"

// A consent type and its default state, as enumeration numbers.
class APMPBConsentDefaultEntry final
    : public APMPBMessage<APMPBConsentDefaultEntry, APMPBConsentDefaultEntryMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
