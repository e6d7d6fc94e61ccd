#pragma once

#include "analytics/store/APMPBMeasurementSchema.h"
#include "analytics/store/APMPBMessage.h"

// The upload request body, one element per bundle.
class APMPBMeasurementBatch final
    : public APMPBMessage<APMPBMeasurementBatch, APMPBMeasurementBatchMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
