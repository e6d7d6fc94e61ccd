#pragma once

#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBMessage.h"

// The SVTM setting of the remote configuration.
class APMPBSvtmSetting final : public APMPBMessage<APMPBSvtmSetting, APMPBSvtmSettingMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
