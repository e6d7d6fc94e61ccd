#pragma once

#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBMessage.h"

// One node of a rules-runtime program tree.
class APMPBRuntimeEntity final : public APMPBMessage<APMPBRuntimeEntity, APMPBRuntimeEntityMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
