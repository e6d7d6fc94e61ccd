#include "device/MMpermissionCheck.h"

#include "core/LGNLocalizedString.h"
#include "core/MMDeviceInfo.h"
#include "core/MMUserInfo.h"
#include "device/KeyEventTap.h"
#include "device/MMHidManager.h"
#include "platform/Permissions.h"
#include "platform/UserNotices.h"

const QString MMpermissionCheck::kKeyTapNoticeKey = QStringLiteral("keyTapUnavailable");
const QString MMpermissionCheck::kKeyTapNoticeText
    = QStringLiteral("鼠标的语音、翻译和AI按键暂时无法使用：当前会话不允许PraVik从键盘输入中获取这些按键。PraVik会继续尝试，获得权限后按键即可使用。");

namespace {

// "Some permissions are missing, so some features are unavailable."
const QString kPermissionsMissingTip = QStringLiteral("系统权限未完整配置，部分功能不可用。");

} // namespace

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

void MMpermissionCheck::startupCheck(platform::Executor& executor, const Tip& tip)
{
    permissionCheckCallback([](bool) {});
    if (keysTaken())
        return;
    if (tip)
        tip(LGNLocalizedString::lgnAppLocalizedString(kPermissionsMissingTip));
    keyTapRetry_.emplace(executor);
    keyTapRetry_->start(kKeyTapRetryInterval, [this] {
        canSystemAccessibility();
        if (keysTaken())
            keyTapRetry_->stop();
    });
}

bool MMpermissionCheck::canSystemAccessibility()
{
    permissionOfAccessibility_ = services_.permissions.inputAccess();
    report(permissionOfAccessibility_);
    if (permissionOfAccessibility_)
        requestAccessibilityAuth();
    if (!keysTaken())
        platform::UserNotices::shared().post(kKeyTapNoticeKey, LGNLocalizedString::lgnAppLocalizedString(kKeyTapNoticeText));
    return permissionOfAccessibility_;
}

bool MMpermissionCheck::keysTaken() const
{
    return services_.tap.installed();
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
