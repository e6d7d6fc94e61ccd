#pragma once

#include "analytics/wire/APMPBExperimentSchema.h"
#include "analytics/wire/APMPBMessage.h"

// One experiment flag; its value is in one of the four value fields.
class APMPBFlag final : public APMPBMessage<APMPBFlag, APMPBFlagMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
