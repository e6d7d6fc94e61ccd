#pragma once

#include "analytics/store/APMPBConfigurationSchema.h"
#include "analytics/store/APMPBMessage.h"

// One remote setting; the value is text.
class APMPBSetting final : public APMPBMessage<APMPBSetting, APMPBSettingMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
