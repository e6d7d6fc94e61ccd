#include "fakes/FakePasteboard.h"

#include <QMutexLocker>

#include <algorithm>

namespace fakes {

const QString FakePasteboard::kTextFormat = QStringLiteral("text/plain");

FakePasteboard::Content& FakePasteboard::held(platform::PasteboardKind kind)
{
    return kind == platform::PasteboardKind::Selection ? selection_ : clipboard_;
}

const FakePasteboard::Content& FakePasteboard::held(platform::PasteboardKind kind) const
{
    return kind == platform::PasteboardKind::Selection ? selection_ : clipboard_;
}

QString FakePasteboard::text(platform::PasteboardKind kind) const
{
    QMutexLocker lock(&mutex_);
    const auto& formats = held(kind).formats;
    const auto found = std::find_if(
        formats.begin(), formats.end(), [](const auto& format) { return format.first == kTextFormat; });
    if (found == formats.end())
        return QString();
    // Like a real clipboard, an empty text is still a text.
    const QString text = QString::fromUtf8(found->second);
    return text.isNull() ? QStringLiteral("") : text;
}

void FakePasteboard::setText(const QString& text, platform::PasteboardKind kind)
{
    QMutexLocker lock(&mutex_);
    held(kind) = Content { { { kTextFormat, text.toUtf8() } }, {} };
    ++writes_;
}

void FakePasteboard::setImage(const QImage& image)
{
    QMutexLocker lock(&mutex_);
    clipboard_ = Content { {}, image };
    ++writes_;
}

void FakePasteboard::clear(platform::PasteboardKind kind)
{
    QMutexLocker lock(&mutex_);
    held(kind) = Content {};
    ++writes_;
}

platform::Pasteboard::Content FakePasteboard::content() const
{
    QMutexLocker lock(&mutex_);
    return clipboard_;
}

void FakePasteboard::setContent(const Content& content)
{
    QMutexLocker lock(&mutex_);
    clipboard_ = content;
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
