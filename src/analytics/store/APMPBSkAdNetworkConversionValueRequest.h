#pragma once

#include "analytics/store/APMPBExperimentSchema.h"
#include "analytics/store/APMPBMessage.h"

// A conversion-value request.
class APMPBSkAdNetworkConversionValueRequest final
    : public APMPBMessage<APMPBSkAdNetworkConversionValueRequest,
          APMPBSkAdNetworkConversionValueRequestMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
