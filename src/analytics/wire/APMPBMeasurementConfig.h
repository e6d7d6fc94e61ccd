#pragma once

#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBMessage.h"

// The remote measurement configuration.
class APMPBMeasurementConfig final
    : public APMPBMessage<APMPBMeasurementConfig, APMPBMeasurementConfigMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
