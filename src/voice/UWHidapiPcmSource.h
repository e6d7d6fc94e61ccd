#pragma once

#include "voice/PcmAudioSource.h"

class UWHidapiManager;

// The USB receiver link's PCM slot (UWHidapiManager::rowdataPcmAudioCallBack)
// as a PcmAudioSource.
class UWHidapiPcmSource final : public PcmAudioSource {
public:
    explicit UWHidapiPcmSource(UWHidapiManager& link)
        : link_(link)
    {
    }

    void setPcmSubscriber(Subscriber subscriber) override;

private:
    UWHidapiManager& link_;
};
