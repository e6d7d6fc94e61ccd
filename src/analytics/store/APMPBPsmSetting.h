#pragma once

#include "analytics/store/APMPBConfigurationSchema.h"
#include "analytics/store/APMPBMessage.h"

// Hash-prefix lengths and the sign-in delay (declared defaults 14, 11, 60).
class APMPBPsmSetting final : public APMPBMessage<APMPBPsmSetting, APMPBPsmSettingMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
