#include "fakes/FakeSpeechSynthesizer.h"

#include <algorithm>
#include <utility>

namespace fakes {

void FakeSpeechSynthesizer::stop(platform::SpeechBoundary boundary)
{
    stops_ << (boundary == platform::SpeechBoundary::Word ? QStringLiteral("word") : QStringLiteral("immediate"));
    speaking_ = false;
}

void FakeSpeechSynthesizer::finish()
{
    if (!std::exchange(speaking_, false))
        return;
    utteranceFinished();
}

bool FakeSpeechSynthesizer::speak(
    const QString& text, const std::optional<platform::SpeechVoice>& voice, double rate)
{
    if (!available_)
        return false;
    const bool known = !voice || std::any_of(voices_.begin(), voices_.end(), [&](const platform::SpeechVoice& v) {
        return v.name == voice->name && v.locale == voice->locale;
    });
    if (!known)
        return false;
    utterances_ << Utterance { text, voice, rate };
    speaking_ = true;
    return true;
}

} // namespace fakes
