#include "voice/BLEToolPcmSource.h"

#include "device/BLETool.h"

void BLEToolPcmSource::setPcmSubscriber(Subscriber subscriber)
{
    tool_.blePcmAudioCallBack(std::move(subscriber));
}
