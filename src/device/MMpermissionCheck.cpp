#include "device/MMpermissionCheck.h"

#include "core/MMDeviceInfo.h"
#include "core/MMUserInfo.h"
#include "device/KeyEventTap.h"
#include "device/MMHidManager.h"
#include "platform/Permissions.h"

std::shared_ptr<MMpermissionCheck> MMpermissionCheck::create()
{
    return create(Services { platform::Permissions::shared(), KeyEventTap::shared(),
        MMHidManager::sharedMMHidManager(), MMUserInfo::sharedMMUserInfo().deviceInfo() });
}

std::shared_ptr<MMpermissionCheck> MMpermissionCheck::create(const Services& services)
{
    return std::shared_ptr<MMpermissionCheck>(new MMpermissionCheck(services));
}

MMpermissionCheck::MMpermissionCheck(const Services& services)
    : services_(services)
{
}

void MMpermissionCheck::report(bool granted)
{
    if (callbackBlock_)
        callbackBlock_(granted);
}

void MMpermissionCheck::permissionCheckCallback(Handler handler)
{
    services_.tap.setTarget(shared_from_this());
    callbackBlock_ = std::move(handler);
    canSystemAccessibility();
    canRecordScreen();
    checkBluetoothPermission();
}

bool MMpermissionCheck::canSystemAccessibility()
{
    permissionOfAccessibility_ = services_.permissions.inputAccess();
    report(permissionOfAccessibility_);
    if (permissionOfAccessibility_)
        requestAccessibilityAuth();
    return permissionOfAccessibility_;
}

void MMpermissionCheck::requestAccessibilityAuth()
{
    services_.tap.install();
}

bool MMpermissionCheck::canRecordScreen()
{
    permissionOfcScreen_ = services_.permissions.screenCapture();
    report(permissionOfcScreen_);
    return permissionOfcScreen_;
}

bool MMpermissionCheck::checkBluetoothPermission()
{
    permissionOfBluetooth_ = services_.permissions.bluetoothAdapter();
    report(permissionOfBluetooth_);
    return permissionOfBluetooth_;
}

quint16 MMpermissionCheck::remappedKeyCode(quint16 keyCode, quint64 deviceModel)
{
    if (keyCode == MMHidManager::kAiKey)
        return keyCode;
    switch (static_cast<DeviceModel>(deviceModel)) {
    case DeviceModel::KZ45:
        return MMHidManager::kVoiceKey;
    case DeviceModel::KZ7:
        return keyCode == MMHidManager::kTranslationKey ? MMHidManager::kVoiceKey
                                                        : MMHidManager::kTranslationKey;
    default:
        return keyCode;
    }
}

void MMpermissionCheck::postNotificationWithKeyCode(quint16 keyCode, quint32 eventType)
{
    if (eventType != MMHidManager::kKeyDown && eventType != MMHidManager::kKeyUp)
        return;
    if (keyCode != MMHidManager::kTranslationKey && keyCode != MMHidManager::kVoiceKey
        && keyCode != MMHidManager::kAiKey)
        return;
    const quint16 key = remappedKeyCode(keyCode, services_.device.deviceModel());
    if (key == myKeycode_ && eventType == myEventType_)
        return;
    myKeycode_ = key;
    myEventType_ = eventType;
    services_.classifier.getKeyCode(key, eventType);
}
