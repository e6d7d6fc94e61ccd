#include "voice/PcmSourceRegistry.h"

#include "device/UWHidapiManager.h"
#include "voice/UWHidapiPcmSource.h"

namespace {

struct SharedRegistry {
    SharedRegistry()
        : usb(UWHidapiManager::sharedUWHidapiManager())
    {
        registry.setSource(PcmSourceRegistry::kLinkUsb, &usb);
    }
    PcmSourceRegistry registry;
    UWHidapiPcmSource usb;
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
