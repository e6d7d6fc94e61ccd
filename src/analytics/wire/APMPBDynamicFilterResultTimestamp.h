#pragma once

#include "analytics/wire/APMPBMeasurementSchema.h"
#include "analytics/wire/APMPBMessage.h"

// The evaluation time of one dynamic audience filter.
class APMPBDynamicFilterResultTimestamp final
    : public APMPBMessage<APMPBDynamicFilterResultTimestamp, APMPBDynamicFilterResultTimestampMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
