#pragma once

#include "analytics/store/APMPBExperimentSchema.h"
#include "analytics/store/APMPBMessage.h"

// One experiment flag; its value is in one of the four value fields.
class APMPBFlag final : public APMPBMessage<APMPBFlag, APMPBFlagMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
