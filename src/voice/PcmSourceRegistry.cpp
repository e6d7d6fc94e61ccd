#include "voice/PcmSourceRegistry.h"

#include "device/BLETool.h"
#include "device/UWHidapiManager.h"
#include "voice/BLEToolPcmSource.h"
#include "voice/UWHidapiPcmSource.h"

namespace {

struct SharedRegistry {
    SharedRegistry()
        : usb(UWHidapiManager::sharedUWHidapiManager())
        , ble(BLETool::sharedBLETool())
    {
        registry.setSource(PcmSourceRegistry::kLinkUsb, &usb);
        registry.setSource(PcmSourceRegistry::kLinkBluetooth, &ble);
    }
    PcmSourceRegistry registry;
    UWHidapiPcmSource usb;
    BLEToolPcmSource ble;
};

} // namespace

PcmSourceRegistry& PcmSourceRegistry::shared()
{
    static SharedRegistry shared;
    return shared.registry;
}

void PcmSourceRegistry::setSource(quint64 linkMode, PcmAudioSource* source)
{
    if (source)
        sources_.insert(linkMode, source);
    else
        sources_.remove(linkMode);
}
