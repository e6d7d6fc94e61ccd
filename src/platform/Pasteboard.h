#pragma once

#include <QImage>
#include <QString>

#include <memory>

namespace platform {

enum class PasteboardKind {
    Clipboard, // what Ctrl-C / Ctrl-V copy and paste
    Selection, // X11's primary selection: the text last selected anywhere
};

// The system pasteboard. Callable from any thread: the work is done on the
// main thread (the caller waits for it), since the session's clipboard may
// only be touched there. A caller must therefore never hold up the main
// thread while waiting for a thread that uses the pasteboard.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;

    // The plain text on it; a null string when it holds no text.
    virtual QString text(PasteboardKind kind = PasteboardKind::Clipboard) const = 0;
    // Replaces the whole content by the text.
    virtual void setText(const QString& text, PasteboardKind kind = PasteboardKind::Clipboard) = 0;
    // Replaces the whole content of the clipboard by the picture.
    virtual void setImage(const QImage& image) = 0;
    virtual void clear(PasteboardKind kind = PasteboardKind::Clipboard) = 0;
    // False where the session has no primary selection (its calls then do nothing).
    virtual bool supportsSelection() const = 0;

    static Pasteboard& shared();
};

} // namespace platform
