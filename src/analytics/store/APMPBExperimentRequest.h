#pragma once

#include "analytics/store/APMPBExperimentSchema.h"
#include "analytics/store/APMPBMessage.h"

// The request body of the experiment fetch.
class APMPBExperimentRequest final
    : public APMPBMessage<APMPBExperimentRequest, APMPBExperimentRequestMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
