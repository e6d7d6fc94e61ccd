#pragma once

#include "platform/Hotkey.h"

#include <QString>

#include <functional>
#include <memory>

namespace platform {

// One system-wide key combination that reaches the application whichever
// window has the focus. Main thread.
class GlobalHotkey {
public:
    enum class Result {
        Registered,
        NotAvailable, // this session offers no global keys
        Taken, // another program holds the combination
        UnknownKey, // the key code has no key on this keyboard
    };
    using Action = std::function<void()>;

    virtual ~GlobalHotkey() = default;

    virtual bool isAvailable() const = 0;
    // Replaces the combination registered before (which is released even
    // when the new one fails). The action runs on the main thread at each
    // press, whatever the state of Caps Lock and Num Lock.
    virtual Result registerHotkey(const Hotkey& hotkey, Action action) = 0;
    virtual void unregisterHotkey() = 0;

    // The text telling the user why a hot key does not work; empty for
    // Registered.
    static QString problemText(Result result, const Hotkey& hotkey);

    // X11 key grab in an X session, the desktop portal's global shortcuts
    // where the session bus offers them (Wayland), else the null backend.
    // PRAVIK_GLOBALHOTKEY=x11|portal|null overrides the probe.
    static GlobalHotkey& shared();
    static std::unique_ptr<GlobalHotkey> create(const QString& choice);
};

} // namespace platform
