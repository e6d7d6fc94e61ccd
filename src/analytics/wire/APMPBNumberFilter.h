#pragma once

#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBMessage.h"

// A comparison against one value or a range; values travel as decimal text.
class APMPBNumberFilter final : public APMPBMessage<APMPBNumberFilter, APMPBNumberFilterMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
