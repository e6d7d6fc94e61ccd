#include "fakes/FakeKeyPoster.h"
#include "fakes/FakePasteboard.h"
#include "fakes/VirtualTime.h"
#include "platform/SerialQueue.h"
#include "voice/UWKeyboardEventManager.h"
#include "voice/mmTypingHelper.h"
#include "voice/mmTypingManager.h"

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

#include <gtest/gtest.h>

namespace {

// One log of everything that reaches the focused application, in order:
// pasteboard writes, key presses (each one a key-down and key-up pair) and
// the pauses between them.
class TypingLog {
public:
    void add(const QString& entry)
    {
        QMutexLocker lock(&mutex_);
        entries_.append(entry);
    }
    QStringList entries() const
    {
        QMutexLocker lock(&mutex_);
        return entries_;
    }

private:
    mutable QMutex mutex_;
    QStringList entries_;
};

class LoggingPasteboard final : public platform::Pasteboard {
public:
    LoggingPasteboard(fakes::FakePasteboard& pasteboard, TypingLog& log)
        : pasteboard_(pasteboard)
        , log_(log)
    {
    }
    QString text(platform::PasteboardKind kind) const override { return pasteboard_.text(kind); }
    void setText(const QString& text, platform::PasteboardKind kind) override
    {
        log_.add(QStringLiteral("write ") + text);
        pasteboard_.setText(text, kind);
    }
    void setImage(const QImage& image) override
    {
        log_.add(QStringLiteral("image"));
        pasteboard_.setImage(image);
    }
    void clear(platform::PasteboardKind kind) override
    {
        log_.add(QStringLiteral("clear"));
        pasteboard_.clear(kind);
    }
    Content content() const override { return pasteboard_.content(); }
    void setContent(const Content& content) override
    {
        log_.add(QStringLiteral("content"));
        pasteboard_.setContent(content);
    }
    bool supportsSelection() const override { return pasteboard_.supportsSelection(); }

private:
    fakes::FakePasteboard& pasteboard_;
    TypingLog& log_;
};

class LoggingKeyPoster final : public platform::KeyPoster {
public:
    LoggingKeyPoster(fakes::FakeKeyPoster& poster, TypingLog& log)
        : poster_(poster)
        , log_(log)
    {
    }
    bool isAvailable() const override { return poster_.isAvailable(); }
    bool press(platform::Key key, platform::Modifiers modifiers) override
    {
        const bool posted = poster_.press(key, modifiers);
        if (posted)
            log_.add(name(key, modifiers));
        return posted;
    }

private:
    static QString name(platform::Key key, platform::Modifiers modifiers)
    {
        QString text = modifiers.testFlag(platform::Modifier::Command) ? QStringLiteral("Ctrl+") : QString();
        switch (key) {
        case platform::Key::V:
            return text + QStringLiteral("V");
        case platform::Key::Backspace:
            return text + QStringLiteral("BackSpace");
        default:
            return text + QStringLiteral("other");
        }
    }
    fakes::FakeKeyPoster& poster_;
    TypingLog& log_;
};

const QString kPaste = QStringLiteral("Ctrl+V");
const QString kBackSpace = QStringLiteral("BackSpace");
const QString kPastePause = QStringLiteral("sleep 0.05");
const QString kDeletePause = QStringLiteral("sleep 0.03");

QStringList pasted(const QString& character)
{
    return { QStringLiteral("write ") + character, kPaste, kPastePause };
}

QStringList deleted(int times)
{
    QStringList steps;
    for (int i = 0; i < times; ++i)
        steps << kBackSpace << kDeletePause;
    return steps;
}

// The typing manager on virtual time, with the fakes behind it: the
// pasteboard, and a key poster that plays presses into a model text field.
class TypingManagerTest : public ::testing::Test {
protected:
    mmTypingManager::Sleeper sleeper()
    {
        return [this](double seconds) { log.add(QStringLiteral("sleep %1").arg(seconds)); };
    }
    // The field's text once the queue has run everything.
    QString typed()
    {
        queue.runPending();
        return poster.fieldText();
    }

    TypingLog log;
    fakes::FakePasteboard pasteboard;
    fakes::FakeKeyPoster poster { &pasteboard };
    LoggingPasteboard loggingPasteboard { pasteboard, log };
    LoggingKeyPoster loggingPoster { poster, log };
    UWKeyboardEventManager keys { loggingPoster };
    fakes::VirtualTime queue;
    mmTypingManager manager { queue, keys, loggingPasteboard, sleeper() };
};

TEST_F(TypingManagerTest, PlainResultIsOnePasteAndOneCtrlV)
{
    const QString result = QStringLiteral("你好, world 😀👨‍👩‍👧");
    manager.addWholePasteTask(result);
    EXPECT_TRUE(log.entries().isEmpty()) << "nothing runs before the queue does";
    EXPECT_EQ(typed(), result);
    EXPECT_EQ(log.entries(), pasted(result));
}

TEST_F(TypingManagerTest, DynamicTypingPastesOneCharacterAtATime)
{
    manager.addPasteTask(QStringLiteral("ab😀e\u0301"));
    EXPECT_EQ(typed(), QStringLiteral("ab😀e\u0301"));
    EXPECT_EQ(log.entries(),
        pasted("a") + pasted("b") + pasted(QStringLiteral("😀")) + pasted(QStringLiteral("e\u0301")));
}

TEST_F(TypingManagerTest, DynamicCorrectionDeletesThenPastes)
{
    poster.setFieldText(QStringLiteral("ab😀"));
    manager.addEditTasks(mmTypingHelper::compareTextWithString1(QStringLiteral("ab😀"), QStringLiteral("ac")));
    EXPECT_EQ(typed(), QStringLiteral("ac"));
    EXPECT_EQ(log.entries(), deleted(2) + pasted("c"));
}

TEST_F(TypingManagerTest, EmptyTasksPostNothing)
{
    manager.addPasteTask(QString());
    manager.addPasteTask(QStringLiteral(""));
    manager.addWholePasteTask(QString());
    manager.addBackspaceTask(0);
    manager.addBackspaceTask(-3);
    manager.addEditTasks(mmTypingHelper::compareTextWithString1(QStringLiteral("同"), QStringLiteral("同")));
    EXPECT_EQ(queue.pendingCount(), 0u);
    queue.runPending();
    EXPECT_TRUE(log.entries().isEmpty());
    EXPECT_EQ(pasteboard.writeCount(), 0);
}

TEST_F(TypingManagerTest, TasksRunInTheOrderTheyWereAdded)
{
    poster.setFieldText(QStringLiteral("xyz"));
    manager.addBackspaceTask(2);
    manager.addPasteTask(QStringLiteral("ab"));
    manager.addWholePasteTask(QStringLiteral("cd"));
    manager.addBackspaceTask(1);
    EXPECT_EQ(typed(), QStringLiteral("xabc"));
    EXPECT_EQ(log.entries(), deleted(2) + pasted("a") + pasted("b") + pasted("cd") + deleted(1));
}

TEST_F(TypingManagerTest, WithoutKeyAccessOnlyThePasteboardIsWritten)
{
    poster.setAvailable(false);
    manager.addPasteTask(QStringLiteral("ab"));
    manager.addBackspaceTask(1);
    queue.runPending();
    EXPECT_TRUE(poster.presses().empty());
    EXPECT_EQ(log.entries(), (QStringList { "write a", kPastePause, "write b", kPastePause, kDeletePause }));
}

TEST_F(TypingManagerTest, LongAndEmojiOnlyTexts)
{
    QString emoji;
    for (int i = 0; i < 500; ++i)
        emoji += QStringLiteral("😀👍🏻🇩🇪");
    manager.addPasteTask(emoji);
    EXPECT_EQ(typed(), emoji);
    EXPECT_EQ(pasteboard.writeCount(), 1500);

    const QString longText(1'000'000, QLatin1Char('x'));
    poster.setFieldText(QString());
    manager.addWholePasteTask(longText);
    EXPECT_EQ(typed(), longText);
    EXPECT_EQ(pasteboard.writeCount(), 1501);
}

// Partial results of one dictation, each a correction of the one before:
// after the edits for each, the field holds exactly that result.
struct DictationCase {
    const char* name;
    QStringList results;
};

void PrintTo(const DictationCase& c, std::ostream* os)
{
    *os << c.name;
}

class DynamicTyping : public TypingManagerTest, public ::testing::WithParamInterface<DictationCase> { };

TEST_P(DynamicTyping, FieldFollowsEveryResult)
{
    QString last;
    for (const QString& result : GetParam().results) {
        manager.addEditTasks(mmTypingHelper::compareTextWithString1(last, result));
        last = result;
        EXPECT_EQ(typed(), result);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, DynamicTyping, ::testing::Values(
    DictationCase { "Appended", { "I", "I will", "I will be there" } },
    DictationCase { "ReplacedTail", { "I red", "I read", "I read a book" } },
    DictationCase { "ReplacedInTheMiddle", { "今天天汽很好", "今天天气很好" } },
    DictationCase { "Shrinking", { "hello world", "hello", "" , "hi" } },
    DictationCase { "Cjk", { "你", "你好", "你号世界", "你好世界。" } },
    DictationCase { "EmojiSharingHighSurrogate", { "ok 😀", "ok 😃", "ok 😃😀" } },
    DictationCase { "EmojiOnly", { "👨‍👩‍👧", "👨‍👩‍👦", "👨‍👩‍👦🇩🇪", "🇩🇰" } },
    DictationCase { "CombiningMarks", { "cafe", "cafe\u0301", "cafe\u0300s", "ca" } }),
    [](const ::testing::TestParamInfo<DictationCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST(TypingManagerQueue, StepsRunOnTheTypingQueueOneTaskAfterAnother)
{
    TypingLog log;
    fakes::FakePasteboard pasteboard;
    fakes::FakeKeyPoster poster(&pasteboard);
    LoggingPasteboard loggingPasteboard(pasteboard, log);
    LoggingKeyPoster loggingPoster(poster, log);
    UWKeyboardEventManager keys(loggingPoster);
    platform::SerialQueue queue(mmTypingManager::kTypingQueueName);
    std::atomic<int> offQueue { 0 };
    mmTypingManager manager(queue, keys, loggingPasteboard, [&](double seconds) {
        if (!queue.isCurrent())
            ++offQueue;
        log.add(QStringLiteral("sleep %1").arg(seconds));
    });
    EXPECT_EQ(queue.name(), QStringLiteral("com.zorvane.typingQueue"));

    poster.setFieldText(QStringLiteral("ab"));
    manager.addBackspaceTask(2);
    manager.addPasteTask(QStringLiteral("字😀"));
    manager.addWholePasteTask(QStringLiteral("!"));
    queue.sync([] {});
    EXPECT_EQ(offQueue.load(), 0);
    EXPECT_EQ(
        log.entries(), deleted(2) + pasted(QStringLiteral("字")) + pasted(QStringLiteral("😀")) + pasted("!"));
    EXPECT_EQ(poster.fieldText(), QStringLiteral("字😀!"));
}

} // namespace
