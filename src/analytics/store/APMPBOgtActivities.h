#pragma once

#include "analytics/store/APMPBConfigurationSchema.h"
#include "analytics/store/APMPBMessage.h"

// The activities of an event-editing program.
class APMPBOgtActivities final : public APMPBMessage<APMPBOgtActivities, APMPBOgtActivitiesMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
