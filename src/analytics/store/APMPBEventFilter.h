#pragma once

#include "analytics/store/APMPBConfigurationSchema.h"
#include "analytics/store/APMPBMessage.h"

// One event filter of an audience.
class APMPBEventFilter final : public APMPBMessage<APMPBEventFilter, APMPBEventFilterMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
