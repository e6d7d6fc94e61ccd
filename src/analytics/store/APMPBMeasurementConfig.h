#pragma once

#include "analytics/store/APMPBConfigurationSchema.h"
#include "analytics/store/APMPBMessage.h"

// The remote measurement configuration.
class APMPBMeasurementConfig final
    : public APMPBMessage<APMPBMeasurementConfig, APMPBMeasurementConfigMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
