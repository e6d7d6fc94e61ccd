#pragma once

#include "analytics/wire/APMPBMeasurementSchema.h"
#include "analytics/wire/APMPBMessage.h"

// The evaluated state of one audience's filters, as bit sets and timestamps.
class APMPBResultData final : public APMPBMessage<APMPBResultData, APMPBResultDataMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
