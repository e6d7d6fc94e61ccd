#pragma once

#include "analytics/store/APMPBConfigurationSchema.h"
#include "analytics/store/APMPBMessage.h"

// One event-editing program of the rules runtime.
class APMPBProgram final : public APMPBMessage<APMPBProgram, APMPBProgramMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
