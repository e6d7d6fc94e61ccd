#pragma once

#include "analytics/store/APMPBConfigurationSchema.h"
#include "analytics/store/APMPBMessage.h"

// The SVTM setting of the remote configuration.
class APMPBSvtmSetting final : public APMPBMessage<APMPBSvtmSetting, APMPBSvtmSettingMessageType> {
    friend APMPBMessage;
    using APMPBMessage::APMPBMessage;
};
