#pragma once

#include "analytics/store/APMPBExperimentSchema.h"
#include "analytics/store/APMPBMessage.h"

// The experiments that apply to one SDK.
class APMPBSnapshot final : public APMPBMessage<APMPBSnapshot, APMPBSnapshotMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
