#pragma once

#include "analytics/wire/APMPBExperimentSchema.h"
#include "analytics/wire/APMPBMessage.h"

// The request body of the experiment fetch.
class APMPBExperimentRequest final
    : public APMPBMessage<APMPBExperimentRequest, APMPBExperimentRequestMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
