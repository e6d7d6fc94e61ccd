#include "translate/Selection.h"

#include "platform/Executor.h"
#include "platform/KeyPoster.h"
#include "platform/MainQueue.h"

Selection::Selection(
    platform::Pasteboard& pasteboard, platform::KeyPoster& keys, platform::Executor& executor)
    : pasteboard_(pasteboard)
    , keys_(keys)
    , executor_(executor)
{
}

Selection& Selection::shared()
{
    static Selection selection(
        platform::Pasteboard::shared(), platform::KeyPoster::shared(), platform::MainQueue::shared());
    return selection;
}

void Selection::getText(Handler handler)
{
    if (!handler)
        return;
    waiting_.push_back(std::move(handler));
    readNext();
}

void Selection::readNext()
{
    if (reading_ || waiting_.empty())
        return;
    reading_ = true;
    Handler handler = std::move(waiting_.front());
    waiting_.pop_front();

    if (pasteboard_.supportsSelection()) {
        const QString selected = pasteboard_.text(platform::PasteboardKind::Selection);
        if (!selected.isEmpty()) {
            executor_.async([this, handler = std::move(handler), selected] { finishRead(handler, selected); });
            return;
        }
    }
    // An emptied clipboard tells the copy's text apart from the user's own:
    // whatever text is there after the copy was put there by it.
    saved_ = pasteboard_.content();
    pasteboard_.clear();
    keys_.press(platform::Key::C, platform::Modifier::Command);
    executor_.asyncAfter(kCopyDelaySeconds, [this, handler = std::move(handler)] {
        const QString copied = pasteboard_.text();
        pasteboard_.setContent(saved_);
        saved_ = {};
        finishRead(handler, copied.isEmpty() ? QString() : copied);
    });
}

void Selection::finishRead(const Handler& handler, const QString& text)
{
    reading_ = false;
    handler(text);
    readNext();
}
