#pragma once

#include "analytics/wire/APMPBMeasurementSchema.h"
#include "analytics/wire/APMPBMessage.h"

// One audience's current and previous filter results in a bundle.
class APMPBAudienceLeafFilterResult final
    : public APMPBMessage<APMPBAudienceLeafFilterResult, APMPBAudienceLeafFilterResultMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
