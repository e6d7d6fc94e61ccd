#include "fakes/FakePasteboard.h"

#include <QMutexLocker>

namespace fakes {

FakePasteboard::Content& FakePasteboard::content(platform::PasteboardKind kind)
{
    return kind == platform::PasteboardKind::Selection ? selection_ : clipboard_;
}

const FakePasteboard::Content& FakePasteboard::content(platform::PasteboardKind kind) const
{
    return kind == platform::PasteboardKind::Selection ? selection_ : clipboard_;
}

QString FakePasteboard::text(platform::PasteboardKind kind) const
{
    QMutexLocker lock(&mutex_);
    return content(kind).text;
}

void FakePasteboard::setText(const QString& text, platform::PasteboardKind kind)
{
    QMutexLocker lock(&mutex_);
    // Like a real clipboard, an empty text is still a text.
    content(kind) = Content { text.isNull() ? QStringLiteral("") : text, {} };
    ++writes_;
}

void FakePasteboard::setImage(const QImage& image)
{
    QMutexLocker lock(&mutex_);
    clipboard_ = Content { QString(), image };
    ++writes_;
}

void FakePasteboard::clear(platform::PasteboardKind kind)
{
    QMutexLocker lock(&mutex_);
    content(kind) = Content {};
    ++writes_;
}

QImage FakePasteboard::image() const
{
    QMutexLocker lock(&mutex_);
    return clipboard_.image;
}

int FakePasteboard::writeCount() const
{
    QMutexLocker lock(&mutex_);
    return writes_;
}

} // namespace fakes
