#pragma once

#include "platform/KeyPoster.h"

#include <QtGlobal>

#include <optional>

// Posts the application's synthetic key presses into the focused
// application. Callers name keys by the virtual key codes the key-function
// settings carry; the Command flag is the platform's shortcut modifier (Ctrl
// on Linux, mapped by the key poster).
//
// Every press is posted whole, key-down and key-up together, so no key is
// ever left held: a key-down request posts the press, and the matching
// key-up request finds the key already released and posts nothing.
class UWKeyboardEventManager {
public:
    // Virtual key codes.
    static constexpr quint16 kVirtualKeyV = 9;
    static constexpr quint16 kVirtualKeyC = 8;
    static constexpr quint16 kVirtualKeyDelete = 51; // erases the character before the caret
    static constexpr quint16 kVirtualKeyReturn = 36;
    static constexpr quint16 kVirtualKeyPageUp = 116;
    static constexpr quint16 kVirtualKeyPageDown = 121;
    // Modifier flag of the shortcut modifier.
    static constexpr quint64 kCommandFlag = 0x100000;

    static UWKeyboardEventManager& sharedUWKeyboardEventManager();

    explicit UWKeyboardEventManager(platform::KeyPoster& poster);

    // A plain key. True when the press was posted (or, for a key-up, when
    // there was nothing left to post); false when the session cannot post
    // keys or the key code is unknown.
    bool postKeyboardEvent(quint16 virtualKey, bool keyDown);
    // A key with modifier flags; only the Command flag is known, so a press
    // asking for any other modifier is not posted rather than posted wrong.
    bool postKeyboardEventCombinationKeyDown(quint16 virtualKey, quint64 flags, bool keyDown);

    // Whether this session lets the application post keys.
    bool systemAccessibilityStatus() const;
    bool canSystemAccessibility() const { return systemAccessibilityStatus(); }

    static std::optional<platform::Key> keyForVirtualKey(quint16 virtualKey);

private:
    platform::KeyPoster& poster_;
};
