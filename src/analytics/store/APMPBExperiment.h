#pragma once

#include "analytics/store/APMPBExperimentSchema.h"
#include "analytics/store/APMPBMessage.h"

// One experiment with its flag values.
class APMPBExperiment final : public APMPBMessage<APMPBExperiment, APMPBExperimentMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
