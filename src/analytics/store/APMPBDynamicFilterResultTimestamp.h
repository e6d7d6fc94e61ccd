#pragma once

#include "analytics/store/APMPBMeasurementSchema.h"
#include "analytics/store/APMPBMessage.h"

// The evaluation time of one dynamic audience filter.
class APMPBDynamicFilterResultTimestamp final
    : public APMPBMessage<APMPBDynamicFilterResultTimestamp, APMPBDynamicFilterResultTimestampMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
