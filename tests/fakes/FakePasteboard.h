#pragma once

#include "platform/Pasteboard.h"

#include <QMutex>

namespace fakes {

// An in-memory pasteboard, safe from any thread like the real one. Holds
// several formats at once like a real clipboard (its text is the
// "text/plain" format). Counts its writes so a test can tell "written again
// with the same text" apart from "not written".
class FakePasteboard final : public platform::Pasteboard {
public:
    static const QString kTextFormat; // "text/plain"

    QString text(platform::PasteboardKind kind = platform::PasteboardKind::Clipboard) const override;
    void setText(
        const QString& text, platform::PasteboardKind kind = platform::PasteboardKind::Clipboard) override;
    void setImage(const QImage& image) override;
    void clear(platform::PasteboardKind kind = platform::PasteboardKind::Clipboard) override;
    Content content() const override;
    void setContent(const Content& content) override;
    bool supportsSelection() const override { return true; }

    QImage image() const;
    int writeCount() const;

private:
    Content& held(platform::PasteboardKind kind);
    const Content& held(platform::PasteboardKind kind) const;

    mutable QMutex mutex_;
    Content clipboard_, selection_;
    int writes_ = 0;
};

} // namespace fakes
