#pragma once

#include "voice/PcmAudioSource.h"

class BLETool;

// The Bluetooth link's PCM slot (BLETool::blePcmAudioCallBack) as a PcmAudioSource.
class BLEToolPcmSource final : public PcmAudioSource {
public:
    explicit BLEToolPcmSource(BLETool& tool)
        : tool_(tool)
    {
    }

    void setPcmSubscriber(Subscriber subscriber) override;

private:
    BLETool& tool_;
};
