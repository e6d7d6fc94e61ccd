#pragma once

#include "platform/Hotkey.h"
#include "platform/NotificationCenter.h"

#include <QWidget>

#include <optional>

class MMwebconfig;
class QKeyEvent;
class QLabel;

namespace platform {
class Preferences;
}

// The always-on-top window in which the user records the screenshot hot
// key: the next key pressed with at least one modifier becomes the hot key
// at once (stored, its readable form kept for the settings page, and
// "kHadNewOCRHotkeyNoti" posted so that the binding follows). A key without
// a modifier is refused with a hint.
class mmShortcutWindow : public QWidget {
    Q_OBJECT
public:
    static const QString kTitle; // "设置截屏翻译快捷键"
    static const QString kNeedsModifierHint;
    static const QString kUnknownKeyHint;

    mmShortcutWindow(
        platform::Preferences& defaults, MMwebconfig& config, platform::NotificationCenter& center);

    // The hot key a key press stands for; nullopt for a key the hot key
    // cannot use (modifiers alone, keys without a stored code).
    static std::optional<platform::Hotkey> hotkeyForKeyEvent(const QKeyEvent& event);

    QString shownHotkey() const;
    QString hint() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void init_uidata();
    void showCurrent();

    platform::Preferences& defaults_;
    MMwebconfig& config_;
    platform::NotificationCenter& center_;
    QLabel* titleString_ = nullptr;
    QLabel* shortcutView_ = nullptr;
    QLabel* hint_ = nullptr;
    platform::ObserverToken languageToken_;
};
