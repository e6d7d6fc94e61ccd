#include "voice/UWHidapiPcmSource.h"

#include "device/UWHidapiManager.h"

void UWHidapiPcmSource::setPcmSubscriber(Subscriber subscriber)
{
    if (!subscriber) {
        link_.rowdataPcmAudioCallBack({});
        return;
    }
    link_.rowdataPcmAudioCallBack(
        [subscriber = std::move(subscriber)](const QByteArray& pcm, bool) { subscriber(pcm); });
}
