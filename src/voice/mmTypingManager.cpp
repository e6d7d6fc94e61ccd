#include "voice/mmTypingManager.h"

#include "platform/Pasteboard.h"
#include "platform/SerialQueue.h"
#include "voice/UWKeyboardEventManager.h"

#include <chrono>
#include <thread>

const QString mmTypingManager::kTypingQueueName = QStringLiteral("com.zorvane.typingQueue");

mmTypingManager& mmTypingManager::sharedManager()
{
    // Both live as long as the process: the queue's thread may be waiting
    // for the main thread at exit, so it is never joined.
    static auto* queue = new platform::SerialQueue(kTypingQueueName);
    static auto* shared = new mmTypingManager(*queue, UWKeyboardEventManager::sharedUWKeyboardEventManager(),
        platform::Pasteboard::shared(),
        [](double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); });
    return *shared;
}

mmTypingManager::mmTypingManager(platform::Executor& typingQueue, UWKeyboardEventManager& keys,
    platform::Pasteboard& pasteboard, Sleeper sleep)
    : typingQueue_(typingQueue)
    , keys_(keys)
    , pasteboard_(pasteboard)
    , sleep_(std::move(sleep))
{
}

void mmTypingManager::add(TypingTask task)
{
    typingQueue_.async([this, task = std::move(task)] { executeTask(task); });
}

void mmTypingManager::addPasteTask(const QString& text)
{
    if (!text.isEmpty())
        add(TypingTask(TypingTask::Type::Paste, text));
}

void mmTypingManager::addBackspaceTask(qsizetype count)
{
    if (count > 0)
        add(TypingTask::backspaces(count));
}

void mmTypingManager::addWholePasteTask(const QString& text)
{
    if (!text.isEmpty())
        add(TypingTask(TypingTask::Type::PasteWhole, text));
}

void mmTypingManager::addEditTasks(const mmTypingHelper::Difference& difference)
{
    addBackspaceTask(difference.deleteCount);
    addPasteTask(difference.inserted);
}

void mmTypingManager::executeTask(const TypingTask& task)
{
    switch (task.type()) {
    case TypingTask::Type::Paste:
        pasteString(task.text());
        break;
    case TypingTask::Type::Delete:
        backspace(task.text());
        break;
    case TypingTask::Type::PasteWhole:
        pasteWholeString(task.text());
        break;
    }
}

void mmTypingManager::pasteOnce(const QString& text)
{
    pasteboard_.setText(text);
    keys_.postKeyboardEventCombinationKeyDown(
        UWKeyboardEventManager::kVirtualKeyV, UWKeyboardEventManager::kCommandFlag, true);
    sleep_(kPastePause);
}

void mmTypingManager::pasteString(const QString& text)
{
    for (const QString& character : mmTypingHelper::graphemes(text))
        pasteOnce(character);
}

void mmTypingManager::pasteWholeString(const QString& text)
{
    if (!text.isEmpty())
        pasteOnce(text);
}

void mmTypingManager::backspace(const QString& text)
{
    const qsizetype count = mmTypingHelper::graphemeCount(text);
    for (qsizetype i = 0; i < count; ++i) {
        keys_.postKeyboardEvent(UWKeyboardEventManager::kVirtualKeyDelete, true);
        sleep_(kDeletePause);
    }
}
