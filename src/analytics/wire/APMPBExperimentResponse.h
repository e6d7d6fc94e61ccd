#pragma once

#include "analytics/wire/APMPBExperimentSchema.h"
#include "analytics/wire/APMPBMessage.h"

// The response of the experiment fetch.
class APMPBExperimentResponse final
    : public APMPBMessage<APMPBExperimentResponse, APMPBExperimentResponseMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
