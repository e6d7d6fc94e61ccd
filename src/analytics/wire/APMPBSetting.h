#pragma once

#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBMessage.h"

// One remote setting; the value is text.
class APMPBSetting final : public APMPBMessage<APMPBSetting, APMPBSettingMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
