#pragma once

#include "analytics/store/APMPBExperimentSchema.h"
#include "analytics/store/APMPBMessage.h"

// The application as an experiment request describes it.
class APMPBAppProperty final : public APMPBMessage<APMPBAppProperty, APMPBAppPropertyMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
