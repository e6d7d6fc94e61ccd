#pragma once

#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBMessage.h"

// One user-property filter of an audience.
class APMPBPropertyFilter final : public APMPBMessage<APMPBPropertyFilter, APMPBPropertyFilterMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
