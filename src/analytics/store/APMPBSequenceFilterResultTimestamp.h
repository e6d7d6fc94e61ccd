#pragma once

#include "analytics/store/APMPBMeasurementSchema.h"
#include "analytics/store/APMPBMessage.h"

// The evaluation times of one sequence audience filter.
class APMPBSequenceFilterResultTimestamp final
    : public APMPBMessage<APMPBSequenceFilterResultTimestamp, APMPBSequenceFilterResultTimestampMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
