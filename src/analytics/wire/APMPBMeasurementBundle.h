#pragma once

#include "analytics/wire/APMPBMeasurementSchema.h"
#include "analytics/wire/APMPBMessage.h"

// One bundle of events with the device, application, identity and consent data
// that apply to all of them; also the metadata of stored raw events.
class APMPBMeasurementBundle final
    : public APMPBMessage<APMPBMeasurementBundle, APMPBMeasurementBundleMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
