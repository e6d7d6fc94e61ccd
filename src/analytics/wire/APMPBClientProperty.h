#pragma once

#include "analytics/wire/APMPBExperimentSchema.h"
#include "analytics/wire/APMPBMessage.h"

// One SDK taking part in experiments, with its custom properties.
class APMPBClientProperty final : public APMPBMessage<APMPBClientProperty, APMPBClientPropertyMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
