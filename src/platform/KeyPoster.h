#pragma once

#include <QFlags>
#include <QString>

#include <memory>

namespace platform {

// The keys the application presses on the user's behalf.
enum class Key {
    V, // with Command: paste
    C, // with Command: copy
    Backspace, // deletes the character before the caret
    Return,
    PageUp,
    PageDown,
};

enum class Modifier {
    // The platform's shortcut modifier: Ctrl on Linux.
    Command = 0x1,
};
Q_DECLARE_FLAGS(Modifiers, Modifier)

// Synthetic key presses into whatever application has the keyboard focus.
// Each press is a whole one: modifiers down, key down, key up, modifiers up,
// so no key is ever left held. Text is never typed key by key (that would
// depend on the keyboard layout); it goes through the pasteboard and a
// Command-V press. Safe to call from any thread.
class KeyPoster {
public:
    virtual ~KeyPoster() = default;

    virtual bool isAvailable() const = 0;
    // False when nothing was posted (no backend, or the key has no key code
    // in the current keyboard map).
    virtual bool press(Key key, Modifiers modifiers = {}) = 0;

    // The backend of this session: XTest in an X session, uinput where
    // /dev/uinput is writable (Wayland sessions), else the null backend.
    // PRAVIK_KEYPOSTER=x11|uinput|null overrides the probe ("evdev" is taken
    // for "uinput", to match PRAVIK_KEYTAP).
    static KeyPoster& shared();
    static std::unique_ptr<KeyPoster> create(const QString& choice);
};

} // namespace platform

Q_DECLARE_OPERATORS_FOR_FLAGS(platform::Modifiers)
