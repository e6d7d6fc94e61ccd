#pragma once

#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBMessage.h"

// One core platform service of the consent configuration.
class APMPBCorePlatformServiceEntry final
    : public APMPBMessage<APMPBCorePlatformServiceEntry, APMPBCorePlatformServiceEntryMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
