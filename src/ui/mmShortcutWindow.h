#pragma once

#include "platform/Hotkey.h"
#include "platform/NotificationCenter.h"

#include <QWidget>

#include <optional>

class MMwebconfig;
class QKeyEvent;
class QLabel;
class QPushButton;
class QShowEvent;

namespace platform {
class Preferences;
}

// The always-on-top window in which the user records the screenshot hot
// key. It opens centred and says what to press; the next key pressed with at
// least one modifier becomes the hot key at once (stored, its readable form
// kept for the settings page, "kHadNewOCRHotkeyNoti" posted so that the
// binding follows) and the window closes. A key without a modifier is
// refused with a hint; Escape or Cancel closes the window and changes
// nothing. Hot keys are shown in this desktop's words ("Ctrl+3").
class mmShortcutWindow : public QWidget {
    Q_OBJECT
public:
    // Interface texts (lookup keys).
    static const QString kTitle; // "设置截屏翻译快捷键"
    static const QString kPrompt;
    static const QString kCancel;
    static const QString kNeedsModifierHint;
    static const QString kUnknownKeyHint;

    mmShortcutWindow(
        platform::Preferences& defaults, MMwebconfig& config, platform::NotificationCenter& center);

    // The hot key a key press stands for; nullopt for a key the hot key
    // cannot use (modifiers alone, keys without a stored code).
    static std::optional<platform::Hotkey> hotkeyForKeyEvent(const QKeyEvent& event);

    QString shownHotkey() const;
    QString prompt() const;
    QString hint() const;
    QPushButton* cancelButton() const { return cancel_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void init_uidata();
    void showHint(const QString& key);
    void showCurrent();
    void centre();

    platform::Preferences& defaults_;
    MMwebconfig& config_;
    platform::NotificationCenter& center_;
    QLabel* titleString_ = nullptr;
    QLabel* shortcutView_ = nullptr;
    QLabel* prompt_ = nullptr;
    QLabel* hint_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QString hintKey_; // the hint shown, so that it follows a language change
    bool centred_ = false;
    platform::ObserverToken languageToken_;
};
