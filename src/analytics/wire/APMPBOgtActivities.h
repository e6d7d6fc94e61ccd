#pragma once

#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBMessage.h"

// The activities of an event-editing program.
class APMPBOgtActivities final : public APMPBMessage<APMPBOgtActivities, APMPBOgtActivitiesMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
