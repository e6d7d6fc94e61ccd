#include "platform/Hotkey.h"

#include <QStringList>

#include <algorithm>

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <array>

namespace platform {

namespace {

struct HotkeyKey {
    quint32 code;
    unsigned long symbol;
    const char* text;
};

// The ANSI layout's virtual key codes.
constexpr std::array<HotkeyKey, 70> kHotkeyKeys { {
    { 0, XK_a, "A" },
    { 11, XK_b, "B" },
    { 8, XK_c, "C" },
    { 2, XK_d, "D" },
    { 14, XK_e, "E" },
    { 3, XK_f, "F" },
    { 5, XK_g, "G" },
    { 4, XK_h, "H" },
    { 34, XK_i, "I" },
    { 38, XK_j, "J" },
    { 40, XK_k, "K" },
    { 37, XK_l, "L" },
    { 46, XK_m, "M" },
    { 45, XK_n, "N" },
    { 31, XK_o, "O" },
    { 35, XK_p, "P" },
    { 12, XK_q, "Q" },
    { 15, XK_r, "R" },
    { 1, XK_s, "S" },
    { 17, XK_t, "T" },
    { 32, XK_u, "U" },
    { 9, XK_v, "V" },
    { 13, XK_w, "W" },
    { 7, XK_x, "X" },
    { 16, XK_y, "Y" },
    { 6, XK_z, "Z" },
    { 29, XK_0, "0" },
    { 18, XK_1, "1" },
    { 19, XK_2, "2" },
    { 20, XK_3, "3" },
    { 21, XK_4, "4" },
    { 23, XK_5, "5" },
    { 22, XK_6, "6" },
    { 26, XK_7, "7" },
    { 28, XK_8, "8" },
    { 25, XK_9, "9" },
    { 27, XK_minus, "-" },
    { 24, XK_equal, "=" },
    { 33, XK_bracketleft, "[" },
    { 30, XK_bracketright, "]" },
    { 41, XK_semicolon, ";" },
    { 39, XK_apostrophe, "'" },
    { 43, XK_comma, "," },
    { 47, XK_period, "." },
    { 44, XK_slash, "/" },
    { 42, XK_backslash, "\\" },
    { 50, XK_grave, "`" },
    { 49, XK_space, "Space" },
    { 36, XK_Return, "↩" },
    { 48, XK_Tab, "⇥" },
    { 51, XK_BackSpace, "⌫" },
    { 53, XK_Escape, "⎋" },
    { 122, XK_F1, "F1" },
    { 120, XK_F2, "F2" },
    { 99, XK_F3, "F3" },
    { 118, XK_F4, "F4" },
    { 96, XK_F5, "F5" },
    { 97, XK_F6, "F6" },
    { 98, XK_F7, "F7" },
    { 100, XK_F8, "F8" },
    { 101, XK_F9, "F9" },
    { 109, XK_F10, "F10" },
    { 103, XK_F11, "F11" },
    { 111, XK_F12, "F12" },
    { 123, XK_Left, "←" },
    { 124, XK_Right, "→" },
    { 125, XK_Down, "↓" },
    { 126, XK_Up, "↑" },
    { 117, XK_Delete, "⌦" },
    { 115, XK_Home, "↖" },
} };

const HotkeyKey* hotkeyKeyByCode(quint32 code)
{
    for (const HotkeyKey& key : kHotkeyKeys) {
        if (key.code == code)
            return &key;
    }
    return nullptr;
}

// This desktop's words for the modifiers, in the order it writes them.
// Command is Ctrl here, Control the Super key, Option Alt.
struct HotkeyModifierWord {
    quint32 flag;
    char16_t sign;
    const char* word;
};

constexpr std::array<HotkeyModifierWord, 4> kHotkeyModifierWords { {
    { Hotkey::kCommand, u'\u2318', "Ctrl" },
    { Hotkey::kOption, u'\u2325', "Alt" },
    { Hotkey::kShift, u'\u21e7', "Shift" },
    { Hotkey::kControl, u'\u2303', "Super" },
} };

// Keys written as symbols in the readable form, and their names here.
struct HotkeyKeyWord {
    const char* sign;
    const char* word;
};

constexpr std::array<HotkeyKeyWord, 10> kHotkeyKeyWords { {
    { "↩", "Enter" },
    { "⇥", "Tab" },
    { "⌫", "Backspace" },
    { "⎋", "Esc" },
    { "⌦", "Del" },
    { "↖", "Home" },
    { "←", "Left" },
    { "→", "Right" },
    { "↓", "Down" },
    { "↑", "Up" },
} };

QString hotkeyKeyWord(const QString& key)
{
    for (const HotkeyKeyWord& entry : kHotkeyKeyWords) {
        if (key == QString::fromUtf8(entry.sign))
            return QString::fromLatin1(entry.word);
    }
    return key.size() == 1 ? key.toUpper() : key;
}

} // namespace

unsigned long Hotkey::keySymbol() const
{
    const HotkeyKey* key = hotkeyKeyByCode(keyCode);
    return key ? key->symbol : 0;
}

int Hotkey::keyCodeForSymbol(unsigned long keySymbol)
{
    // Upper-case letters name the same keys.
    if (keySymbol >= XK_A && keySymbol <= XK_Z)
        keySymbol += XK_a - XK_A;
    for (const HotkeyKey& key : kHotkeyKeys) {
        if (key.symbol == keySymbol)
            return int(key.code);
    }
    return -1;
}

QString Hotkey::keyName() const
{
    const unsigned long symbol = keySymbol();
    if (!symbol)
        return {};
    // Key symbol names as X spells them, which shortcut triggers use.
    return QString::fromLatin1(XKeysymToString(symbol));
}

QString Hotkey::displayText() const
{
    QStringList parts;
    if (modifierFlags & kControl)
        parts << QStringLiteral("⌃");
    if (modifierFlags & kOption)
        parts << QStringLiteral("⌥");
    if (modifierFlags & kShift)
        parts << QStringLiteral("⇧");
    if (modifierFlags & kCommand)
        parts << QStringLiteral("⌘");
    const HotkeyKey* key = hotkeyKeyByCode(keyCode);
    parts << (key ? QString::fromUtf8(key->text) : QStringLiteral("#%1").arg(keyCode));
    return parts.join(QStringLiteral(" + "));
}

} // namespace platform

namespace platform {

QString Hotkey::shownText() const
{
    return shownText(displayText());
}

QString Hotkey::shownText(const QString& displayText)
{
    // The readable form puts " + " between its elements; older writers put
    // it between every two characters, so a key name comes apart ("F + 5").
    QString rest = displayText.trimmed();
    rest.replace(QStringLiteral(" + "), QString());
    quint32 flags = 0;
    while (!rest.isEmpty()) {
        const auto modifier = std::find_if(kHotkeyModifierWords.begin(), kHotkeyModifierWords.end(),
            [&](const HotkeyModifierWord& entry) { return rest.front() == QChar(entry.sign); });
        if (modifier == kHotkeyModifierWords.end())
            break;
        flags |= modifier->flag;
        rest.remove(0, 1);
    }
    if (flags == 0)
        return displayText;
    QStringList parts;
    for (const HotkeyModifierWord& entry : kHotkeyModifierWords) {
        if (flags & entry.flag)
            parts << QString::fromLatin1(entry.word);
    }
    if (!rest.isEmpty())
        parts << hotkeyKeyWord(rest);
    return parts.join(u'+');
}

} // namespace platform
