// Selected text: the primary selection first, else a copy whose result is
// read a moment later, with the user's clipboard text given back.
#include "fakes/FakeKeyPoster.h"
#include "fakes/FakePasteboard.h"
#include "fakes/VirtualTime.h"
#include "translate/Selection.h"

#include <gtest/gtest.h>

namespace {

using platform::PasteboardKind;

class SelectionTest : public ::testing::Test {
protected:
    // Calls getText and records what the handler gets.
    void ask()
    {
        selection_.getText([this](const QString& text) { answers_.push_back(text); });
    }

    fakes::FakePasteboard pasteboard_;
    fakes::FakeKeyPoster keys_ { &pasteboard_ };
    fakes::VirtualTime time_;
    Selection selection_ { pasteboard_, keys_, time_ };
    std::vector<QString> answers_;
};

TEST_F(SelectionTest, ThePrimarySelectionNeedsNoCopy)
{
    pasteboard_.setText(QStringLiteral("selected"), PasteboardKind::Selection);
    ask();
    time_.runPending();
    EXPECT_EQ(answers_, std::vector<QString> { QStringLiteral("selected") });
    EXPECT_TRUE(keys_.presses().empty());
}

TEST_F(SelectionTest, ACopyIsReadLaterAndTheClipboardGivenBack)
{
    pasteboard_.setText(QStringLiteral("the user's own"));
    ask();
    ASSERT_EQ(keys_.presses().size(), 1u);
    EXPECT_EQ(keys_.presses()[0].key, platform::Key::C);
    EXPECT_EQ(keys_.presses()[0].modifiers, platform::Modifiers(platform::Modifier::Command));
    pasteboard_.setText(QStringLiteral("copied")); // what the application copies
    time_.advance(Selection::kCopyDelaySeconds - 0.01);
    EXPECT_TRUE(answers_.empty());
    time_.advance(0.01);
    EXPECT_EQ(answers_, std::vector<QString> { QStringLiteral("copied") });
    EXPECT_EQ(pasteboard_.text(), QStringLiteral("the user's own"));
    time_.advance(5);
    EXPECT_EQ(answers_.size(), 1u) << "once per call";
}

TEST_F(SelectionTest, ACopyThatChangesNothingIsNoSelection)
{
    pasteboard_.setText(QStringLiteral("old clipboard text"));
    ask();
    time_.advance(Selection::kCopyDelaySeconds);
    ASSERT_EQ(answers_.size(), 1u);
    EXPECT_TRUE(answers_[0].isNull()) << "the old clipboard text is not translated";
    EXPECT_EQ(pasteboard_.text(), QStringLiteral("old clipboard text"));
}

} // namespace
