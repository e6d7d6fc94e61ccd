// The key fakes stand in for the session in the voice tests; what they model
// must match what the real backends do.
#include "fakes/FakeKeyPoster.h"
#include "fakes/FakeKeyTap.h"
#include "fakes/FakePasteboard.h"

#include <gtest/gtest.h>
#include <thread>

namespace {

using platform::Key;
using platform::Modifier;

TEST(FakeKeyPoster, PlaysPressesIntoATextField)
{
    fakes::FakePasteboard pasteboard;
    fakes::FakeKeyPoster poster(&pasteboard);
    pasteboard.setText(QStringLiteral("Grüße 👍🏽"));
    EXPECT_TRUE(poster.press(Key::V, Modifier::Command));
    pasteboard.setText(QStringLiteral("!"));
    EXPECT_TRUE(poster.press(Key::V, Modifier::Command));
    EXPECT_EQ(poster.fieldText(), QStringLiteral("Grüße 👍🏽!"));

    // Backspace removes one user-perceived character: the "!", then the
    // whole thumbs-up with its skin tone (four UTF-16 units).
    poster.press(Key::Backspace);
    EXPECT_EQ(poster.fieldText(), QStringLiteral("Grüße 👍🏽"));
    poster.press(Key::Backspace);
    EXPECT_EQ(poster.fieldText(), QStringLiteral("Grüße "));

    poster.press(Key::Return);
    poster.press(Key::V); // a plain "v" key is no paste
    poster.press(Key::C, Modifier::Command);
    EXPECT_EQ(poster.fieldText(), QStringLiteral("Grüße \n"));

    poster.setFieldText(QString());
    poster.press(Key::Backspace); // on an empty field: nothing
    EXPECT_EQ(poster.fieldText(), QString());

    const std::vector<fakes::FakeKeyPoster::Press> expected {
        { Key::V, Modifier::Command },
        { Key::V, Modifier::Command },
        { Key::Backspace, {} },
        { Key::Backspace, {} },
        { Key::Return, {} },
        { Key::V, {} },
        { Key::C, Modifier::Command },
        { Key::Backspace, {} },
    };
    EXPECT_EQ(poster.presses(), expected);
}

TEST(FakeKeyPoster, UnavailablePosterPostsNothing)
{
    fakes::FakeKeyPoster poster;
    poster.setAvailable(false);
    EXPECT_FALSE(poster.isAvailable());
    EXPECT_FALSE(poster.press(Key::Return));
    EXPECT_TRUE(poster.presses().empty());
}

TEST(FakeKeyPoster, PressesFromTwoThreadsAreAllRecorded)
{
    fakes::FakeKeyPoster poster;
    std::thread other([&] {
        for (int i = 0; i < 500; ++i)
            poster.press(Key::Return);
    });
    for (int i = 0; i < 500; ++i)
        poster.press(Key::Return);
    other.join();
    EXPECT_EQ(poster.presses().size(), 1000u);
    EXPECT_EQ(poster.fieldText().size(), 1000);
}

TEST(FakeKeyTap, DeliversOnlyAfterStartAndStartsOnce)
{
    fakes::FakeKeyTap tap;
    std::vector<std::pair<platform::MouseKey, platform::KeyAction>> seen;
    tap.press(platform::MouseKey::F19); // before start: the focused application would get it
    EXPECT_TRUE(tap.start(
        [&](platform::MouseKey key, platform::KeyAction action) { seen.emplace_back(key, action); }));
    EXPECT_FALSE(tap.start([](platform::MouseKey, platform::KeyAction) {}));
    tap.press(platform::MouseKey::F20);
    tap.release(platform::MouseKey::F20);
    EXPECT_EQ(seen,
        (std::vector<std::pair<platform::MouseKey, platform::KeyAction>> {
            { platform::MouseKey::F20, platform::KeyAction::Down },
            { platform::MouseKey::F20, platform::KeyAction::Up } }));
    EXPECT_EQ(tap.startCount(), 2);
}

} // namespace
