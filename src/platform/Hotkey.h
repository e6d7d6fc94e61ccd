#pragma once

#include <QString>

namespace platform {

// A global hot key as it is stored: a virtual key code of the ANSI keyboard
// layout and modifier flags, the format the settings have always used (the
// default Command-3 is key code 20 with flag 0x100000). Command is Ctrl on
// this platform, Control the Super key, Option Alt.
struct Hotkey {
    static constexpr quint32 kShift = 0x20000;
    static constexpr quint32 kControl = 0x40000;
    static constexpr quint32 kOption = 0x80000;
    static constexpr quint32 kCommand = 0x100000;
    static constexpr quint32 kModifierMask = kShift | kControl | kOption | kCommand;

    quint32 keyCode = 0;
    quint32 modifierFlags = 0;

    bool operator==(const Hotkey&) const = default;
    bool hasModifier() const { return (modifierFlags & kModifierMask) != 0; }

    // The X key symbol of the key code (letters, digits, punctuation,
    // function keys and a few named keys); 0 for a code without one.
    unsigned long keySymbol() const;
    // The stored key code of an X key symbol; -1 when it has none.
    static int keyCodeForSymbol(unsigned long keySymbol);
    // The key's name in shortcut triggers: "a", "3", "F5", "Return"; empty
    // for a code without one.
    QString keyName() const;
    // The readable form kept in the settings: the modifier symbols in the
    // order ⌃ ⌥ ⇧ ⌘, then the key, with " + " between them ("⌘ + 3").
    QString displayText() const;
    // What a person sees, in this desktop's words: "Ctrl+3", "Ctrl+Shift+F5".
    QString shownText() const;
    // The shown form of a stored readable text, whichever writer made it:
    // "⌘ + 3" and "⌘ + F + 5" read "Ctrl+3" and "Ctrl+F5". A text without
    // the symbols is shown as it is.
    static QString shownText(const QString& displayText);
};

} // namespace platform
