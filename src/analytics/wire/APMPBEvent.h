#pragma once

#include "analytics/wire/APMPBMeasurementSchema.h"
#include "analytics/wire/APMPBMessage.h"

// One logged event with its parameters; times in milliseconds since 1970.
class APMPBEvent final : public APMPBMessage<APMPBEvent, APMPBEventMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
