#pragma once

#include "analytics/wire/APMPBExperimentSchema.h"
#include "analytics/wire/APMPBMessage.h"

// One name and value pair of an SDK taking part in experiments.
class APMPBCustomProperty final : public APMPBMessage<APMPBCustomProperty, APMPBCustomPropertyMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
