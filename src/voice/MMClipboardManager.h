#pragma once

#include "platform/Executor.h"

#include <QString>

#include <deque>

class UWKeyboardEventManager;
class mmTypingManager;

// A queue of texts to paste into the focused application one after another.
//
// While the queue runs, each enqueued text is pasted at once, in the order
// enqueued: every paste (pasteboard write, then Command-V) goes through the
// typing queue, so one text is never overwritten on the pasteboard before it
// was pasted. startPasting() lets the queue run and checks every interval
// whether it is empty; an empty queue is suspended, and texts enqueued while
// it is suspended wait until the next startPasting().
//
// Main thread only; the pastes themselves run on the typing queue.
class MMClipboardManager {
public:
    static constexpr double kDefaultPasteInterval = 1.0;

    static MMClipboardManager& sharedManager();

    // timer runs the queue checks (the main queue in the application).
    MMClipboardManager(mmTypingManager& typing, UWKeyboardEventManager& keys, platform::Executor& timer);
    ~MMClipboardManager();
    MMClipboardManager(const MMClipboardManager&) = delete;
    MMClipboardManager& operator=(const MMClipboardManager&) = delete;

    double defaultPasteInterval() const { return defaultPasteInterval_; }
    void setDefaultPasteInterval(double seconds) { defaultPasteInterval_ = seconds; }

    void enqueueText(const QString& text);
    void startPasting();
    void startPastingWithInterval(double seconds);
    // Suspends the queue when no text waits in it.
    void checkQueue();
    // Writes the text to the pasteboard and pastes it, on the typing queue.
    void copyAndPasteText(const QString& text);
    // One Command-V press into the focused application, now.
    bool simulatePaste();

    bool isSuspended() const { return suspended_; }
    // Texts waiting for the queue to run.
    qsizetype waitingCount() const { return static_cast<qsizetype>(waiting_.size()); }

private:
    void scheduleCheck(double seconds);

    mmTypingManager& typing_;
    UWKeyboardEventManager& keys_;
    platform::Executor& timer_;
    double defaultPasteInterval_ = kDefaultPasteInterval;
    std::deque<QString> waiting_;
    bool suspended_ = false;
    platform::TaskId checkTimer_ = 0;
};
