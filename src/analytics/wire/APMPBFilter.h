#pragma once

#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBMessage.h"

// A value filter: a string filter or a number filter, possibly inverted.
class APMPBFilter final : public APMPBMessage<APMPBFilter, APMPBFilterMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
