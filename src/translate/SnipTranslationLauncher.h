#pragma once

#include "platform/Hotkey.h"
#include "platform/NotificationCenter.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class MMsnipTransWC;
class MMwebconfig;
class Selection;

namespace platform {
class DragMonitor;
class Executor;
class GlobalHotkey;
class Preferences;
} // namespace platform

// Starts the two translation features: screenshot translation from the hot
// key and, through the main window, from the mouse's click function and the
// capture's cancel ("kHadSnipTransNoti", "HadCancelSnipTransNoti"); selection
// translation when a drag in another application ends while the selection
// switch is on. Owns the result window, made on first use and kept; a
// cancelled capture hides it. Main thread.
class SnipTranslationLauncher {
public:
    using WindowFactory = std::function<std::unique_ptr<MMsnipTransWC>()>;

    static const QString kShortcutKey; // "customShortcut"
    static const QString kKeyCodeField, kModifierFlagsField;
    static const platform::Hotkey kDefaultHotkey; // Command-3
    static const QString kHotkeyNoticeKey;
    // Before a screenshot translation the result window closes; the capture
    // starts this much later, once it is gone from the screen.
    static constexpr double kSnipDelaySeconds = 0.3;
    // A drag's selection is read this long after the button goes up.
    static constexpr double kSelectionDelaySeconds = 0.1;

    struct Services {
        platform::Preferences& defaults;
        MMwebconfig& config;
        platform::GlobalHotkey& hotkey;
        platform::DragMonitor& dragMonitor;
        Selection& selection;
        platform::Executor& executor;
        platform::NotificationCenter& center;
        WindowFactory makeWindow;
    };

    explicit SnipTranslationLauncher(Services services);
    ~SnipTranslationLauncher();

    // The stored hot key (key code and modifier flags); the default when
    // none is stored or the stored value is unreadable.
    static platform::Hotkey storedHotkey(const platform::Preferences& defaults);
    static void storeHotkey(platform::Preferences& defaults, const platform::Hotkey& hotkey);

    // Registers the default, binds the stored hot key and, with the
    // selection switch on, starts the drag monitor.
    void start();
    // Binds the stored hot key again (after the recorder changed it). A key
    // that cannot be bound is reported to the user.
    void registerHotKey();

    void showSnipTransWC();
    // Hides the result window when there is one.
    void cancelSnipTrans();
    void showSelectionTranslateWindow();
    void beginGlobalEventMonitor();
    void endGlobalEventMonitor();

    MMsnipTransWC* window() const { return window_.get(); }
    QString selectionText() const { return selectionText_; }

private:
    MMsnipTransWC& ensureWindow();
    void dragEnded();

    Services services_;
    std::unique_ptr<MMsnipTransWC> window_;
    QString selectionText_;
    quint64 pendingSelection_ = 0;
    bool selectionPending_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::vector<platform::ObserverToken> tokens_;
};
