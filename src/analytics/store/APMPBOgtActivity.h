#pragma once

#include "analytics/store/APMPBConfigurationSchema.h"
#include "analytics/store/APMPBMessage.h"

// One named activity of an event-editing program.
class APMPBOgtActivity final : public APMPBMessage<APMPBOgtActivity, APMPBOgtActivityMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
