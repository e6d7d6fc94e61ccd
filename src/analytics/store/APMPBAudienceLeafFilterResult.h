#pragma once

#include "analytics/store/APMPBMeasurementSchema.h"
#include "analytics/store/APMPBMessage.h"

// One audience's current and previous filter results in a bundle.
class APMPBAudienceLeafFilterResult final
    : public APMPBMessage<APMPBAudienceLeafFilterResult, APMPBAudienceLeafFilterResultMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
