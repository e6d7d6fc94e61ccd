#pragma once

#include "analytics/wire/APMPBExperimentSchema.h"
#include "analytics/wire/APMPBMessage.h"

// The experiments that apply to one SDK.
class APMPBSnapshot final : public APMPBMessage<APMPBSnapshot, APMPBSnapshotMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
