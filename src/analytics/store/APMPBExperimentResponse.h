#pragma once

#include "analytics/store/APMPBExperimentSchema.h"
#include "analytics/store/APMPBMessage.h"

// The response of the experiment fetch.
class APMPBExperimentResponse final
    : public APMPBMessage<APMPBExperimentResponse, APMPBExperimentResponseMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
