#pragma once

#include "analytics/store/APMPBConfigurationSchema.h"
#include "analytics/store/APMPBMessage.h"

// One node of a rules-runtime program tree.
class APMPBRuntimeEntity final : public APMPBMessage<APMPBRuntimeEntity, APMPBRuntimeEntityMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
