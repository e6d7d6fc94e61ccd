#pragma once

#include "analytics/store/APMPBExperimentSchema.h"
#include "analytics/store/APMPBMessage.h"

// One name and value pair of an SDK taking part in experiments.
class APMPBCustomProperty final : public APMPBMessage<APMPBCustomProperty, APMPBCustomPropertyMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
