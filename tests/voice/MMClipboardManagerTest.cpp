#include "voice/MMClipboardManager.h"

#include "fakes/FakeKeyPoster.h"
#include "fakes/FakePasteboard.h"
#include "fakes/VirtualTime.h"
#include "platform/SerialQueue.h"
#include "voice/UWKeyboardEventManager.h"
#include "voice/mmTypingManager.h"

#include <QStringList>

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

// The paste queue over the typing manager, with a pasteboard and a model
// text field behind the key poster; the typing queue and the check timer
// run on virtual time.
class MMClipboardManagerTest : public ::testing::Test {
protected:
    QString field()
    {
        typingQueue_.runPending();
        return poster_.fieldText();
    }

    fakes::FakePasteboard pasteboard_;
    fakes::FakeKeyPoster poster_ { &pasteboard_ };
    UWKeyboardEventManager keys_ { poster_ };
    fakes::VirtualTime typingQueue_;
    fakes::VirtualTime timer_;
    mmTypingManager typing_ { typingQueue_, keys_, pasteboard_, [](double) {} };
    MMClipboardManager clipboard_ { typing_, keys_, timer_ };
};

TEST_F(MMClipboardManagerTest, TextsEnqueuedBackToBackArePastedInOrder)
{
    EXPECT_EQ(clipboard_.defaultPasteInterval(), 1.0);
    clipboard_.enqueueText(QStringLiteral("first "));
    clipboard_.enqueueText(QStringLiteral("second "));
    clipboard_.enqueueText(QStringLiteral("third"));
    EXPECT_EQ(field(), QStringLiteral("first second third"));
    EXPECT_EQ(pasteboard_.text(), QStringLiteral("third"));
}

TEST_F(MMClipboardManagerTest, AnEmptyQueueIsSuspendedAtTheCheckAndResumedByStartPasting)
{
    clipboard_.startPasting();
    timer_.advance(0.9);
    EXPECT_FALSE(clipboard_.isSuspended());
    timer_.advance(0.2);
    EXPECT_TRUE(clipboard_.isSuspended());

    clipboard_.enqueueText(QStringLiteral("held "));
    clipboard_.enqueueText(QStringLiteral("back"));
    EXPECT_EQ(clipboard_.waitingCount(), 2);
    EXPECT_EQ(field(), QString());

    clipboard_.startPastingWithInterval(0.5);
    EXPECT_FALSE(clipboard_.isSuspended());
    EXPECT_EQ(clipboard_.waitingCount(), 0);
    EXPECT_EQ(field(), QStringLiteral("held back"));
    timer_.advance(0.5);
    EXPECT_TRUE(clipboard_.isSuspended());
}

TEST_F(MMClipboardManagerTest, SimulatePastePressesCtrlV)
{
    pasteboard_.setText(QStringLiteral("clip"));
    EXPECT_TRUE(clipboard_.simulatePaste());
    EXPECT_EQ(poster_.fieldText(), QStringLiteral("clip"));
}

// The pastes on the application's own kind of typing queue, a thread of its
// own that really pauses after each paste, while the main thread enqueues
// far faster than they are pasted.
TEST(MMClipboardManagerQueue, TextsEnqueuedFasterThanTheyArePastedArriveInOrder)
{
    fakes::FakePasteboard pasteboard;
    fakes::FakeKeyPoster poster(&pasteboard);
    UWKeyboardEventManager keys(poster);
    fakes::VirtualTime timer;
    platform::SerialQueue queue(mmTypingManager::kTypingQueueName);
    mmTypingManager typing(queue, keys, pasteboard,
        [](double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds / 25)); });
    MMClipboardManager clipboard(typing, keys, timer);

    QStringList texts;
    for (int i = 0; i < 40; ++i)
        texts << QStringLiteral("<%1>").arg(i);
    for (const QString& text : texts)
        clipboard.enqueueText(text);
    queue.sync([] {});
    EXPECT_EQ(poster.fieldText(), texts.join(QString()));
    EXPECT_EQ(pasteboard.writeCount(), texts.size());
}

} // namespace
