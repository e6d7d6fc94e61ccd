#pragma once

#include "analytics/wire/APMPBExperimentSchema.h"
#include "analytics/wire/APMPBMessage.h"

// The application as an experiment request describes it.
class APMPBAppProperty final : public APMPBMessage<APMPBAppProperty, APMPBAppPropertyMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
