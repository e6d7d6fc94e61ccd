// The hot key in this desktop's words: what a person sees of the stored
// readable form, whichever writer made it.
#include "platform/Hotkey.h"

#include <gtest/gtest.h>

namespace hotkeytest {

using platform::Hotkey;

TEST(HotkeyTest, StoredReadableTextsAreShownInThisDesktopsWords)
{
    const struct {
        const char* stored;
        const char* shown;
    } cases[] = {
        { "⌘ + 3", "Ctrl+3" }, // the first-launch value
        { "⇧ + ⌘ + F5", "Ctrl+Shift+F5" },
        { "⇧ + ⌘ + F + 5", "Ctrl+Shift+F5" }, // a separator between every two characters
        { "⌃ + ⌥ + ⇧ + ⌘ + A", "Ctrl+Alt+Shift+Super+A" },
        { "⌘ + ⌥ + a", "Ctrl+Alt+A" }, // any order of signs, the desktop's order of words
        { "⌃ + F5", "Super+F5" },
        { "⌥ + ↩", "Alt+Enter" },
        { "⌘ + ⌫", "Ctrl+Backspace" },
        { "⌘ + S + p + a + c + e", "Ctrl+Space" },
        { "⌘ + ←", "Ctrl+Left" },
        { "⌘ + #122", "Ctrl+#122" },
        { "⌘", "Ctrl" },
        { "Ctrl+3", "Ctrl+3" }, // already in this desktop's words
        { "", "" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Hotkey::shownText(QString::fromUtf8(c.stored)), QString::fromUtf8(c.shown)) << c.stored;
    }
}

TEST(HotkeyTest, AHotKeyIsStoredWithSignsAndShownInWords)
{
    const struct {
        Hotkey hotkey;
        const char* stored;
        const char* shown;
    } cases[] = {
        { Hotkey { 20, Hotkey::kCommand }, "⌘ + 3", "Ctrl+3" },
        { Hotkey { 96, Hotkey::kCommand | Hotkey::kShift }, "⇧ + ⌘ + F5", "Ctrl+Shift+F5" },
        { Hotkey { 49, Hotkey::kOption | Hotkey::kControl }, "⌃ + ⌥ + Space", "Alt+Super+Space" },
        { Hotkey { 126, Hotkey::kCommand | Hotkey::kOption }, "⌥ + ⌘ + ↑", "Ctrl+Alt+Up" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.hotkey.displayText(), QString::fromUtf8(c.stored)) << c.stored;
        EXPECT_EQ(c.hotkey.shownText(), QString::fromUtf8(c.shown)) << c.stored;
    }
}

} // namespace hotkeytest
