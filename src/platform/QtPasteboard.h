#pragma once

#include "platform/Pasteboard.h"

#include <functional>

namespace platform {

// The pasteboard over QClipboard (the session's clipboard and, on X11, its
// primary selection). Requires a QGuiApplication.
class QtPasteboard final : public Pasteboard {
public:
    QString text(PasteboardKind kind = PasteboardKind::Clipboard) const override;
    void setText(const QString& text, PasteboardKind kind = PasteboardKind::Clipboard) override;
    void setImage(const QImage& image) override;
    void clear(PasteboardKind kind = PasteboardKind::Clipboard) override;
    Content content() const override;
    void setContent(const Content& content) override;
    bool supportsSelection() const override;

private:
    static void onMainThread(const std::function<void()>& work);
};

} // namespace platform
