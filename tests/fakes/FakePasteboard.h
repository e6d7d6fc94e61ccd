#pragma once

#include "platform/Pasteboard.h"

#include <QMutex>

namespace fakes {

// An in-memory pasteboard, safe from any thread like the real one. Counts
// its writes so a test can tell "written again with the same text" apart
// from "not written".
class FakePasteboard final : public platform::Pasteboard {
public:
    QString text(platform::PasteboardKind kind = platform::PasteboardKind::Clipboard) const override;
    void setText(
        const QString& text, platform::PasteboardKind kind = platform::PasteboardKind::Clipboard) override;
    void setImage(const QImage& image) override;
    void clear(platform::PasteboardKind kind = platform::PasteboardKind::Clipboard) override;
    bool supportsSelection() const override { return true; }

    QImage image() const;
    int writeCount() const;

private:
    struct Content {
        QString text; // null when it holds no text
        QImage image;
    };
    Content& content(platform::PasteboardKind kind);
    const Content& content(platform::PasteboardKind kind) const;

    mutable QMutex mutex_;
    Content clipboard_, selection_;
    int writes_ = 0;
};

} // namespace fakes
