#pragma once

#include "analytics/store/APMPBMeasurementSchema.h"
#include "analytics/store/APMPBMessage.h"

// One logged event with its parameters; times in milliseconds since 1970.
class APMPBEvent final : public APMPBMessage<APMPBEvent, APMPBEventMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
