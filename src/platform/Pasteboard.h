#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <utility>
#include <vector>

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
    // Everything the clipboard holds, in every format it offers, so that it
    // can be put back exactly as it was.
    struct Content {
        std::vector<std::pair<QString, QByteArray>> formats; // MIME type, bytes
        QImage image; // a picture held as a picture (not as bytes of a format)
        bool isEmpty() const { return formats.empty() && image.isNull(); }
        bool operator==(const Content&) const = default;
    };

    virtual ~Pasteboard() = default;

    // The plain text on it; a null string when it holds no text.
    virtual QString text(PasteboardKind kind = PasteboardKind::Clipboard) const = 0;
    // Replaces the whole content by the text.
    virtual void setText(const QString& text, PasteboardKind kind = PasteboardKind::Clipboard) = 0;
    // Replaces the whole content of the clipboard by the picture.
    virtual void setImage(const QImage& image) = 0;
    virtual void clear(PasteboardKind kind = PasteboardKind::Clipboard) = 0;
    // A copy of the clipboard's whole content, and its replacement by one.
    virtual Content content() const = 0;
    virtual void setContent(const Content& content) = 0;
    // False where the session has no primary selection (its calls then do nothing).
    virtual bool supportsSelection() const = 0;

    static Pasteboard& shared();
};

} // namespace platform
