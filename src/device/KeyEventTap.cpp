#include "device/KeyEventTap.h"

#include "device/MMHidManager.h"
#include "device/MMpermissionCheck.h"

#include <QDebug>

#include <utility>

KeyEventTap::KeyEventTap(platform::KeyTap& keys)
    : keys_(keys)
{
}

KeyEventTap& KeyEventTap::shared()
{
    static KeyEventTap tap(platform::KeyTap::shared());
    return tap;
}

bool KeyEventTap::install()
{
    if (installed_)
        return true;
    installed_
        = keys_.start([this](platform::MouseKey key, platform::KeyAction action) { deliver(key, action); });
    // Checks repeat while the keys cannot be taken; the log says it once.
    if (!installed_ && !std::exchange(refusalLogged_, true))
        qWarning() << "The mouse's keys cannot be taken; they reach the focused application as F18 to F20";
    return installed_;
}

void KeyEventTap::deliver(platform::MouseKey key, platform::KeyAction action)
{
    if (!target_)
        return;
    quint16 keyCode = 0;
    switch (key) {
    case platform::MouseKey::F18:
        keyCode = MMHidManager::kTranslationKey;
        break;
    case platform::MouseKey::F19:
        keyCode = MMHidManager::kVoiceKey;
        break;
    case platform::MouseKey::F20:
        keyCode = MMHidManager::kAiKey;
        break;
    }
    // Keep the target alive through the call, even if it starts a new check.
    const std::shared_ptr<MMpermissionCheck> target = target_;
    target->postNotificationWithKeyCode(
        keyCode, action == platform::KeyAction::Down ? MMHidManager::kKeyDown : MMHidManager::kKeyUp);
}
