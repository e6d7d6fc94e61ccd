#include "voice/UWKeyboardEventManager.h"

#include <QDebug>

UWKeyboardEventManager& UWKeyboardEventManager::sharedUWKeyboardEventManager()
{
    static UWKeyboardEventManager* shared = new UWKeyboardEventManager(platform::KeyPoster::shared());
    return *shared;
}

UWKeyboardEventManager::UWKeyboardEventManager(platform::KeyPoster& poster)
    : poster_(poster)
{
}

std::optional<platform::Key> UWKeyboardEventManager::keyForVirtualKey(quint16 virtualKey)
{
    switch (virtualKey) {
    case kVirtualKeyV:
        return platform::Key::V;
    case kVirtualKeyC:
        return platform::Key::C;
    case kVirtualKeyDelete:
        return platform::Key::Backspace;
    case kVirtualKeyReturn:
        return platform::Key::Return;
    case kVirtualKeyPageUp:
        return platform::Key::PageUp;
    case kVirtualKeyPageDown:
        return platform::Key::PageDown;
    default:
        return std::nullopt;
    }
}

bool UWKeyboardEventManager::systemAccessibilityStatus() const
{
    return poster_.isAvailable();
}

bool UWKeyboardEventManager::postKeyboardEvent(quint16 virtualKey, bool keyDown)
{
    return postKeyboardEventCombinationKeyDown(virtualKey, 0, keyDown);
}

bool UWKeyboardEventManager::postKeyboardEventCombinationKeyDown(
    quint16 virtualKey, quint64 flags, bool keyDown)
{
    const std::optional<platform::Key> key = keyForVirtualKey(virtualKey);
    if (!key || (flags & ~kCommandFlag) != 0) {
        qWarning() << "No synthetic key for virtual key" << virtualKey << "with flags" << Qt::hex << flags;
        return false;
    }
    if (!systemAccessibilityStatus())
        return false;
    if (!keyDown)
        return true; // released together with its key-down
    const platform::Modifiers modifiers
        = (flags & kCommandFlag) ? platform::Modifiers(platform::Modifier::Command) : platform::Modifiers();
    return poster_.press(*key, modifiers);
}
