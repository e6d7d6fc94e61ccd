#pragma once

#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBMessage.h"

// A string comparison of an audience filter.
class APMPBStringFilter final : public APMPBMessage<APMPBStringFilter, APMPBStringFilterMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
