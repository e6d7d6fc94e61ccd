#pragma once

#include "analytics/wire/APMPBExperimentSchema.h"
#include "analytics/wire/APMPBMessage.h"

// A conversion-value response.
class APMPBSkAdNetworkConversionValueResponse final
    : public APMPBMessage<APMPBSkAdNetworkConversionValueResponse,
          APMPBSkAdNetworkConversionValueResponseMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
