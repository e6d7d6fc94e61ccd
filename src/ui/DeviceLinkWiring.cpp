#include "ui/DeviceLinkWiring.h"

#include "device/BLEModel.h"
#include "device/BLETool.h"
#include "device/DeviceLinkHooks.h"
#include "device/MMpermissionCheck.h"
#include "device/UWHidapiManager.h"
#include "device/UWUsbInfoManager.h"
#include "device/mmUtilities.h"
#include "platform/Permissions.h"
#include "voice/MMAudioMonitorService.h"
#include "voice/MMAudioObjectManager.h"

void DeviceLinkWiring::connectLinks()
{
    DeviceLinkHooks hooks;
    hooks.getApiKeyWithDeviceMacAdress = [](const QString& sn) {
        mmUtilities::shareInstance().getApiKeyWithDeviceMacAdress(sn);
    };
    hooks.getProductInfoWithDeviceMacAdress = [](const QString& sn, const QString& linkMode) {
        mmUtilities::shareInstance().getProductInfoWithDeviceMacAdress(sn, linkMode);
    };
    hooks.chaDianchi = [] { mmUtilities::shareInstance().chaDianchi(); };
    hooks.isQuite = [](const QByteArray& pcm) { MMAudioObjectManager::sharedManager().isQuite(pcm); };
    hooks.writePcmData = [](const QByteArray& pcm) { MMAudioObjectManager::sharedManager().writePcmData(pcm); };
    UWHidapiManager::sharedUWHidapiManager().setHooks(hooks);
    BLETool::sharedBLETool().setHooks(hooks);
    BLEModel::sharedManager().setHooks(hooks);
}

void DeviceLinkWiring::startUsbWatcher()
{
    UWUsbInfoManager::sharedUWUsbInfoManager();
}

void DeviceLinkWiring::startBluetoothLink()
{
    BLEModel::sharedManager().start();
}

void DeviceLinkWiring::watchPermissions(std::function<void()> changed)
{
    platform::Permissions::shared().setChangeListener(std::move(changed));
}

void DeviceLinkWiring::beginMouseMonitor()
{
    MMAudioMonitorService::sharedMMAudioMonitorService().beginMouseMonitor();
}

std::shared_ptr<MMpermissionCheck> DeviceLinkWiring::makePermissionCheck()
{
    return MMpermissionCheck::create();
}
