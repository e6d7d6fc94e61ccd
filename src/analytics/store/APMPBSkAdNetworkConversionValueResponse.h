#pragma once

#include "analytics/store/APMPBExperimentSchema.h"
#include "analytics/store/APMPBMessage.h"

// A conversion-value response.
class APMPBSkAdNetworkConversionValueResponse final
    : public APMPBMessage<APMPBSkAdNetworkConversionValueResponse,
          APMPBSkAdNetworkConversionValueResponseMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
