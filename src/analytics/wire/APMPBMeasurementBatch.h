#pragma once

#include "analytics/wire/APMPBMeasurementSchema.h"
#include "analytics/wire/APMPBMessage.h"

// The upload request body, one element per bundle.
class APMPBMeasurementBatch final
    : public APMPBMessage<APMPBMeasurementBatch, APMPBMeasurementBatchMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
