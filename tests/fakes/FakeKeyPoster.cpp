#include "fakes/FakeKeyPoster.h"

#include "fakes/FakePasteboard.h"

#include <QMutexLocker>
#include <QTextBoundaryFinder>

namespace fakes {

FakeKeyPoster::FakeKeyPoster(const FakePasteboard* pasteboard)
    : pasteboard_(pasteboard)
{
}

bool FakeKeyPoster::press(platform::Key key, platform::Modifiers modifiers)
{
    if (!available_)
        return false;
    QMutexLocker lock(&mutex_);
    presses_.push_back({ key, modifiers });
    if (modifiers == platform::Modifier::Command) {
        if (key == platform::Key::V && pasteboard_)
            field_ += pasteboard_->text();
        return true;
    }
    if (modifiers != platform::Modifiers())
        return true;
    if (key == platform::Key::Backspace && !field_.isEmpty()) {
        QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, field_);
        graphemes.toEnd();
        field_.truncate(graphemes.toPreviousBoundary());
    } else if (key == platform::Key::Return) {
        field_ += QLatin1Char('\n');
    }
    return true;
}

std::vector<FakeKeyPoster::Press> FakeKeyPoster::presses() const
{
    QMutexLocker lock(&mutex_);
    return presses_;
}

QString FakeKeyPoster::fieldText() const
{
    QMutexLocker lock(&mutex_);
    return field_;
}

void FakeKeyPoster::setFieldText(const QString& text)
{
    QMutexLocker lock(&mutex_);
    field_ = text;
}

} // namespace fakes
