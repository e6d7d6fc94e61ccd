#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace platform {

// The mouse's three function keys as they reach the computer: keyboard keys
// F18 (evdev KEY_F18 = 188, X key code 196), F19 (189, 197) and F20 (190, 198).
enum class MouseKey { F18, F19, F20 };

// Down is also reported for the auto-repeats of a held key.
enum class KeyAction { Down, Up };

// Takes the mouse's function keys out of the session: their key-down and
// key-up events are delivered here and nowhere else, so the focused
// application never sees them (a leaked F20, for example, mutes the
// microphone on common desktops). Keys are matched by key code, never by key
// symbol, since the default keyboard maps give these codes other names.
// Every other key reaches the session as before. Main thread only.
class KeyTap {
public:
    using Handler = std::function<void(MouseKey key, KeyAction action)>;

    virtual ~KeyTap() = default;

    // Whether this session lets the backend take the keys at all.
    virtual bool isAvailable() const = 0;
    // Starts taking the keys; events are then delivered to the handler on the
    // main thread until the tap is destroyed (keyboards plugged in later
    // included). False when the backend cannot take keys at all. Called
    // again only after it answered false: it tries once more.
    virtual bool start(Handler handler) = 0;

    // The backend of this session: X11 in an X session, evdev where the input
    // devices are accessible (Wayland sessions), else the null backend.
    // PRAVIK_KEYTAP=x11|evdev|null overrides the probe.
    static KeyTap& shared();
    static std::unique_ptr<KeyTap> create(const QString& choice);
};

} // namespace platform
