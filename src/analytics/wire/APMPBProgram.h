#pragma once

#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBMessage.h"

// One event-editing program of the rules runtime.
class APMPBProgram final : public APMPBMessage<APMPBProgram, APMPBProgramMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
