#pragma once

#include "voice/TypingTask.h"
#include "voice/mmTypingHelper.h"

#include <QString>

#include <functional>

class UWKeyboardEventManager;

namespace platform {
class Executor;
class Pasteboard;
} // namespace platform

// Types text into the focused application from one serial queue, so typing
// steps never overlap and run in the order they were asked for: a text goes
// on the pasteboard and a Command-V press follows; corrections are Backspace
// presses. Texts are typed one user-perceived character per paste, with a
// pause after each step that gives the focused application time to read the
// pasteboard before it changes again.
//
// The add...() calls return at once; the steps run on the queue and may
// sleep there, so the queue must never be the main thread (the pasteboard
// does its work there and the queue waits for it). Queued steps refer to the
// manager: the queue must have run or dropped them before it goes away.
class mmTypingManager {
public:
    // Waits on the queue's thread; tests pass a sleeper that only records.
    using Sleeper = std::function<void(double seconds)>;

    static const QString kTypingQueueName; // "com.zorvane.typingQueue"
    static constexpr double kPastePause = 0.05;
    static constexpr double kDeletePause = 0.03;

    static mmTypingManager& sharedManager();

    mmTypingManager(platform::Executor& typingQueue, UWKeyboardEventManager& keys,
        platform::Pasteboard& pasteboard, Sleeper sleep);
    mmTypingManager(const mmTypingManager&) = delete;
    mmTypingManager& operator=(const mmTypingManager&) = delete;

    // Types the text one character per paste (dynamic typing). Nothing for "".
    void addPasteTask(const QString& text);
    // Presses Backspace count times. Nothing for 0 or less.
    void addBackspaceTask(qsizetype count);
    // Types the text in one paste and one Command-V. Nothing for "".
    void addWholePasteTask(const QString& text);
    // Turns the typed text into the new one: the Backspace presses of the
    // difference, then its text.
    void addEditTasks(const mmTypingHelper::Difference& difference);

    // Runs one task on the calling thread (the queue).
    void executeTask(const TypingTask& task);
    // One pasteboard write and Command-V per character of the text.
    void pasteString(const QString& text);
    // One Backspace per character of the text.
    void backspace(const QString& text);
    // The whole text in one pasteboard write and one Command-V.
    void pasteWholeString(const QString& text);

private:
    void add(TypingTask task);
    void pasteOnce(const QString& text);

    platform::Executor& typingQueue_;
    UWKeyboardEventManager& keys_;
    platform::Pasteboard& pasteboard_;
    Sleeper sleep_;
};
