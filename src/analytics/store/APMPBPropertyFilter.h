#pragma once

#include "analytics/store/APMPBConfigurationSchema.h"
#include "analytics/store/APMPBMessage.h"

// One user-property filter of an audience.
class APMPBPropertyFilter final : public APMPBMessage<APMPBPropertyFilter, APMPBPropertyFilterMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
