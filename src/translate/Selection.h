#pragma once

#include <QString>

#include <functional>

namespace platform {
class Executor;
class KeyPoster;
class Pasteboard;
} // namespace platform

// The text the user has just selected in another application: the primary
// selection where the session keeps one, else a synthetic copy (Ctrl-C) read
// from the clipboard a moment later, after which the user's clipboard text
// is put back. Main thread.
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
    platform::Pasteboard& pasteboard_;
    platform::KeyPoster& keys_;
    platform::Executor& executor_;
};
