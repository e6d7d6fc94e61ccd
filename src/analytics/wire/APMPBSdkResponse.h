#pragma once

#include "analytics/wire/APMPBExperimentSchema.h"
#include "analytics/wire/APMPBMessage.h"

// The experiment result for one SDK.
class APMPBSdkResponse final : public APMPBMessage<APMPBSdkResponse, APMPBSdkResponseMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
