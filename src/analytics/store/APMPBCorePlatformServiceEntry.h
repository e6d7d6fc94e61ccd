#pragma once

#include "analytics/store/APMPBConfigurationSchema.h"
#include "analytics/store/APMPBMessage.h"

// One core platform service of the consent configuration.
class APMPBCorePlatformServiceEntry final
    : public APMPBMessage<APMPBCorePlatformServiceEntry, APMPBCorePlatformServiceEntryMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
