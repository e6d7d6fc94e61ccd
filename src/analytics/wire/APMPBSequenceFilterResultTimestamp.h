#pragma once

#include "analytics/wire/APMPBMeasurementSchema.h"
#include "analytics/wire/APMPBMessage.h"

// The evaluation times of one sequence audience filter.
class APMPBSequenceFilterResultTimestamp final
    : public APMPBMessage<APMPBSequenceFilterResultTimestamp, APMPBSequenceFilterResultTimestampMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
