#pragma once

#include "platform/Pasteboard.h"

#include <QString>

#include <deque>
#include <functional>

namespace platform {
class Executor;
class KeyPoster;
} // namespace platform

// The text the user has just selected in another application: the primary
// selection where the session keeps one, else a synthetic copy (Ctrl-C) read
// from the clipboard a moment later.
//
// The copy borrows the user's clipboard: its whole content (every format:
// text, picture, rich text) is saved and emptied before the copy, and put
// back once the copy has been read, so that what the copy left there is the
// selection and never the user's own clipboard, even when the two hold the
// same text. Reads run one at a time in the order asked for; one asked while
// another is running starts when that one has given the clipboard back.
// Main thread.
class Selection {
public:
    using Handler = std::function<void(const QString& text)>;
    // How long the foreground application gets to answer the copy.
    static constexpr double kCopyDelaySeconds = 0.5;

    Selection(platform::Pasteboard& pasteboard, platform::KeyPoster& keys, platform::Executor& executor);
    static Selection& shared();

    // The handler runs once, later, on the executor; a null text when
    // nothing could be read.
    void getText(Handler handler);

private:
    void readNext();
    void finishRead(const Handler& handler, const QString& text);

    platform::Pasteboard& pasteboard_;
    platform::KeyPoster& keys_;
    platform::Executor& executor_;
    std::deque<Handler> waiting_;
    bool reading_ = false;
    // The user's clipboard while a copy borrows it.
    platform::Pasteboard::Content saved_;
};
