#pragma once

#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBMessage.h"

// Hash-prefix lengths and the sign-in delay (declared defaults 14, 11, 60).
class APMPBPsmSetting final : public APMPBMessage<APMPBPsmSetting, APMPBPsmSettingMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
