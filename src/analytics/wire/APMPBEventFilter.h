#pragma once

#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBMessage.h"

// One event filter of an audience.
class APMPBEventFilter final : public APMPBMessage<APMPBEventFilter, APMPBEventFilterMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
