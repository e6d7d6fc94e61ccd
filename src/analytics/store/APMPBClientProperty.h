#pragma once

#include "analytics/store/APMPBExperimentSchema.h"
#include "analytics/store/APMPBMessage.h"

// One SDK taking part in experiments, with its custom properties.
class APMPBClientProperty final : public APMPBMessage<APMPBClientProperty, APMPBClientPropertyMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
