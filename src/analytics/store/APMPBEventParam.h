#pragma once

#include "analytics/store/APMPBMeasurementSchema.h"
#include "analytics/store/APMPBMessage.h"

// One event parameter; param_value holds the elements of an array value.
class APMPBEventParam final : public APMPBMessage<APMPBEventParam, APMPBEventParamMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
