#include "voice/MMClipboardManager.h"

#include "platform/MainQueue.h"
#include "voice/UWKeyboardEventManager.h"
#include "voice/mmTypingManager.h"

MMClipboardManager& MMClipboardManager::sharedManager()
{
    static MMClipboardManager* shared = new MMClipboardManager(mmTypingManager::sharedManager(),
        UWKeyboardEventManager::sharedUWKeyboardEventManager(), platform::MainQueue::shared());
    return *shared;
}

MMClipboardManager::MMClipboardManager(
    mmTypingManager& typing, UWKeyboardEventManager& keys, platform::Executor& timer)
    : typing_(typing)
    , keys_(keys)
    , timer_(timer)
{
}

MMClipboardManager::~MMClipboardManager()
{
    if (checkTimer_)
        timer_.cancel(checkTimer_);
}

void MMClipboardManager::enqueueText(const QString& text)
{
    if (suspended_) {
        waiting_.push_back(text);
        return;
    }
    copyAndPasteText(text);
}

void MMClipboardManager::startPasting()
{
    startPastingWithInterval(defaultPasteInterval_);
}

void MMClipboardManager::startPastingWithInterval(double seconds)
{
    suspended_ = false;
    while (!waiting_.empty()) {
        copyAndPasteText(waiting_.front());
        waiting_.pop_front();
    }
    if (checkTimer_)
        timer_.cancel(checkTimer_);
    // A zero or negative interval would spin the timer: check no more often than this.
    scheduleCheck(seconds > 0.01 ? seconds : 0.01);
}

void MMClipboardManager::scheduleCheck(double seconds)
{
    checkTimer_ = timer_.asyncAfter(seconds, [this, seconds] {
        checkQueue();
        scheduleCheck(seconds);
    });
}

void MMClipboardManager::checkQueue()
{
    if (waiting_.empty())
        suspended_ = true;
}

void MMClipboardManager::copyAndPasteText(const QString& text)
{
    typing_.addWholePasteTask(text);
}

bool MMClipboardManager::simulatePaste()
{
    return keys_.postKeyboardEventCombinationKeyDown(
        UWKeyboardEventManager::kVirtualKeyV, UWKeyboardEventManager::kCommandFlag, true);
}
