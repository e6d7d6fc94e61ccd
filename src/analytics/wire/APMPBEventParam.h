#pragma once

#include "analytics/wire/APMPBMeasurementSchema.h"
#include "analytics/wire/APMPBMessage.h"

// One event parameter; param_value holds the elements of an array value.
class APMPBEventParam final : public APMPBMessage<APMPBEventParam, APMPBEventParamMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
