#pragma once

#include "analytics/store/APMPBMeasurementSchema.h"
#include "analytics/store/APMPBMessage.h"

// One user property.
class APMPBUserAttribute final : public APMPBMessage<APMPBUserAttribute, APMPBUserAttributeMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
