#include "fakes/FakeKeyPoster.h"
#include "voice/UWKeyboardEventManager.h"

#include <gtest/gtest.h>

namespace {

using Press = fakes::FakeKeyPoster::Press;
using platform::Key;
using platform::Modifier;
using platform::Modifiers;

TEST(TypingKeyboard, VirtualKeysPostTheirKeys)
{
    const struct {
        quint16 virtualKey;
        Key key;
    } cases[] = {
        { 9, Key::V },
        { 8, Key::C },
        { 51, Key::Backspace },
        { 36, Key::Return },
        { 116, Key::PageUp },
        { 121, Key::PageDown },
    };
    for (const auto& c : cases) {
        fakes::FakeKeyPoster poster;
        UWKeyboardEventManager keys(poster);
        EXPECT_TRUE(keys.postKeyboardEvent(c.virtualKey, true)) << c.virtualKey;
        EXPECT_TRUE(keys.postKeyboardEventCombinationKeyDown(
            c.virtualKey, UWKeyboardEventManager::kCommandFlag, true));
        EXPECT_EQ(poster.presses(),
            (std::vector<Press> { { c.key, Modifiers() }, { c.key, Modifiers(Modifier::Command) } }))
            << c.virtualKey;
    }
}

TEST(TypingKeyboard, KeyUpIsPostedWithItsKeyDown)
{
    fakes::FakeKeyPoster poster;
    UWKeyboardEventManager keys(poster);
    // A caller that asks for key-down and key-up gets one whole press, not two.
    EXPECT_TRUE(keys.postKeyboardEventCombinationKeyDown(9, 0x100000, true));
    EXPECT_TRUE(keys.postKeyboardEventCombinationKeyDown(9, 0x100000, false));
    EXPECT_TRUE(keys.postKeyboardEvent(51, false));
    EXPECT_EQ(poster.presses(), (std::vector<Press> { { Key::V, Modifiers(Modifier::Command) } }));
}

TEST(TypingKeyboard, UnknownKeysAndModifiersPostNothing)
{
    fakes::FakeKeyPoster poster;
    UWKeyboardEventManager keys(poster);
    EXPECT_FALSE(keys.postKeyboardEvent(0, true)); // the A key: not one the application presses
    EXPECT_FALSE(keys.postKeyboardEvent(0xFFFF, true));
    // Shift-Command-V is not Command-V.
    EXPECT_FALSE(keys.postKeyboardEventCombinationKeyDown(9, 0x100000 | 0x20000, true));
    EXPECT_TRUE(poster.presses().empty());
}

TEST(TypingKeyboard, NothingIsPostedWithoutKeyAccess)
{
    fakes::FakeKeyPoster poster;
    UWKeyboardEventManager keys(poster);
    EXPECT_TRUE(keys.systemAccessibilityStatus());
    poster.setAvailable(false);
    EXPECT_FALSE(keys.systemAccessibilityStatus());
    EXPECT_FALSE(keys.canSystemAccessibility());
    EXPECT_FALSE(keys.postKeyboardEvent(51, true));
    EXPECT_FALSE(keys.postKeyboardEventCombinationKeyDown(9, 0x100000, true));
    EXPECT_TRUE(poster.presses().empty());
}

} // namespace
