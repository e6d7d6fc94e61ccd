#pragma once

#include "analytics/wire/APMPBExperimentSchema.h"
#include "analytics/wire/APMPBMessage.h"

// A conversion-value request.
class APMPBSkAdNetworkConversionValueRequest final
    : public APMPBMessage<APMPBSkAdNetworkConversionValueRequest,
          APMPBSkAdNetworkConversionValueRequestMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
