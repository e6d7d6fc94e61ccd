#pragma once

#include "analytics/wire/APMPBExperimentSchema.h"
#include "analytics/wire/APMPBMessage.h"

// One experiment with its flag values.
class APMPBExperiment final : public APMPBMessage<APMPBExperiment, APMPBExperimentMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
