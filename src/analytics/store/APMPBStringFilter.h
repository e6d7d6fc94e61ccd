#pragma once

#include "analytics/store/APMPBConfigurationSchema.h"
#include "analytics/store/APMPBMessage.h"

// A string comparison of an audience filter.
class APMPBStringFilter final : public APMPBMessage<APMPBStringFilter, APMPBStringFilterMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
