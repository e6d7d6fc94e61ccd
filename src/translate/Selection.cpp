#include "translate/Selection.h"

#include "platform/Executor.h"
#include "platform/KeyPoster.h"
#include "platform/MainQueue.h"
#include "platform/Pasteboard.h"

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
    if (pasteboard_.supportsSelection()) {
        const QString selected = pasteboard_.text(platform::PasteboardKind::Selection);
        if (!selected.isEmpty()) {
            executor_.async([handler = std::move(handler), selected] { handler(selected); });
            return;
        }
    }
    // The copy replaces the clipboard; the user's own text goes back after it
    // has been read.
    const QString saved = pasteboard_.text();
    keys_.press(platform::Key::C, platform::Modifier::Command);
    executor_.asyncAfter(kCopyDelaySeconds, [this, handler = std::move(handler), saved] {
        const QString copied = pasteboard_.text();
        // An unchanged clipboard means the copy found nothing: the earlier
        // clipboard text is no selection.
        if (copied == saved) {
            handler(QString());
            return;
        }
        if (!saved.isNull())
            pasteboard_.setText(saved);
        handler(copied);
    });
}
