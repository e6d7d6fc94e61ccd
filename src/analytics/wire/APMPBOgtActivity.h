#pragma once

#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBMessage.h"

// One named activity of an event-editing program.
class APMPBOgtActivity final : public APMPBMessage<APMPBOgtActivity, APMPBOgtActivityMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
