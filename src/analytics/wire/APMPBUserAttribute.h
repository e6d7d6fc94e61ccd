#pragma once

#include "analytics/wire/APMPBMeasurementSchema.h"
#include "analytics/wire/APMPBMessage.h"

// One user property.
class APMPBUserAttribute final : public APMPBMessage<APMPBUserAttribute, APMPBUserAttributeMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
