#pragma once

#include "analytics/store/APMPBExperimentSchema.h"
#include "analytics/store/APMPBMessage.h"

// The experiment result for one SDK.
class APMPBSdkResponse final : public APMPBMessage<APMPBSdkResponse, APMPBSdkResponseMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
