// Selected text: the primary selection first, else a copy whose result is
// read a moment later, with the user's clipboard given back whole.
#include "fakes/FakeForegroundApplication.h"
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

// What the user had on the clipboard before a copy read the selection.
struct ClipboardCase {
    const char* name;
    platform::Pasteboard::Content before;
};

void PrintTo(const ClipboardCase& c, std::ostream* os)
{
    *os << c.name;
}

QImage picture()
{
    QImage image(8, 6, QImage::Format_ARGB32);
    image.fill(QColor(20, 140, 220));
    return image;
}

platform::Pasteboard::Content textContent(const char* text)
{
    return { { { fakes::FakePasteboard::kTextFormat, QByteArray(text) } }, {} };
}

// A real application in front that copies its selection a moment after the
// key press; the clipboard holds whatever the user put there.
class SelectionOverClipboard : public ::testing::TestWithParam<ClipboardCase> {
protected:
    SelectionOverClipboard() { pasteboard_.setContent(GetParam().before); }

    std::vector<QString> read()
    {
        std::vector<QString> answers;
        selection_.getText([&answers](const QString& text) { answers.push_back(text); });
        time_.advance(Selection::kCopyDelaySeconds + 1);
        return answers;
    }

    fakes::FakePasteboard pasteboard_;
    fakes::VirtualTime time_;
    fakes::FakeForegroundApplication app_ { pasteboard_, time_ };
    Selection selection_ { pasteboard_, app_, time_ };
};

TEST_P(SelectionOverClipboard, TheSelectionIsReadAndTheClipboardGivenBackWhole)
{
    app_.select(QStringLiteral("selected words"));
    EXPECT_EQ(read(), std::vector<QString> { QStringLiteral("selected words") });
    EXPECT_EQ(pasteboard_.content(), GetParam().before);
}

TEST_P(SelectionOverClipboard, NothingSelectedIsNoSelectionAndTheClipboardIsKept)
{
    const std::vector<QString> answers = read();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_TRUE(answers[0].isNull()) << "the clipboard's own content is no selection";
    EXPECT_EQ(pasteboard_.content(), GetParam().before);
}

TEST_P(SelectionOverClipboard, ASelectionEqualToTheClipboardTextIsStillASelection)
{
    // Where the clipboard holds no text, its picture's file name stands in.
    const QString clipboardText = pasteboard_.text().isNull() ? QStringLiteral("a.png") : pasteboard_.text();
    app_.select(clipboardText);
    EXPECT_EQ(read(), std::vector<QString> { clipboardText });
    EXPECT_EQ(pasteboard_.content(), GetParam().before);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, SelectionOverClipboard, ::testing::Values(
    ClipboardCase { "Text", textContent("my password 1234") },
    ClipboardCase { "Picture", { {}, picture() } },
    ClipboardCase { "RichText", { { { fakes::FakePasteboard::kTextFormat, "bold words" },
                                    { QStringLiteral("text/html"), "<b>bold</b> words" } }, {} } },
    ClipboardCase { "PictureWithItsFile", { { { QStringLiteral("text/uri-list"), "file:///tmp/a.png\r\n" },
                                              { QStringLiteral("image/png"), "\x89PNG" } }, picture() } },
    ClipboardCase { "Empty", {} }),
    [](const ::testing::TestParamInfo<ClipboardCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST(SelectionReads, OverlappingReadsRunOneAfterTheOther)
{
    fakes::FakePasteboard pasteboard;
    fakes::VirtualTime time;
    fakes::FakeForegroundApplication app(pasteboard, time);
    Selection selection(pasteboard, app, time);
    pasteboard.setText(QStringLiteral("my password 1234"));
    std::vector<QString> answers;
    auto record = [&answers](const QString& text) { answers.push_back(text); };

    app.select(QStringLiteral("first"));
    selection.getText(record);
    time.advance(0.3);
    app.select(QStringLiteral("second"));
    selection.getText(record);
    EXPECT_EQ(app.copies(), 1) << "the second copy waits for the first to give the clipboard back";
    time.advance(Selection::kCopyDelaySeconds * 2 + 1);

    EXPECT_EQ(answers, (std::vector<QString> { QStringLiteral("first"), QStringLiteral("second") }));
    EXPECT_EQ(app.copies(), 2);
    EXPECT_EQ(pasteboard.text(), QStringLiteral("my password 1234"));
}

} // namespace
