#include "platform/QtSpeechSynthesizer.h"

#include <QDebug>
#include <QLocale>
#include <QTextToSpeech>
#include <QVoice>

#include <algorithm>
#include <utility>

namespace platform {

namespace {

QString speechLocaleTag(const QLocale& locale)
{
    return locale.name().replace(u'_', u'-');
}

} // namespace

std::unique_ptr<QtSpeechSynthesizer> QtSpeechSynthesizer::open(const QString& engine)
{
    const QStringList engines = QTextToSpeech::availableEngines();
    if (engines.isEmpty() || (!engine.isEmpty() && !engines.contains(engine)))
        return nullptr;
    auto speech = std::make_unique<QTextToSpeech>(engine.isEmpty() ? engines.first() : engine);
    if (speech->state() == QTextToSpeech::Error) {
        qInfo() << "Speech output: the engine" << speech->engine() << "did not start:" << speech->errorString();
        return nullptr;
    }
    return std::unique_ptr<QtSpeechSynthesizer>(new QtSpeechSynthesizer(std::move(speech)));
}

QtSpeechSynthesizer::QtSpeechSynthesizer(std::unique_ptr<QTextToSpeech> speech)
    : speech_(std::move(speech))
    , defaultLocale_(speech_->locale())
    , defaultVoice_(speech_->voice().name())
{
    QObject::connect(speech_.get(), &QTextToSpeech::stateChanged, speech_.get(), [this](QTextToSpeech::State state) {
        if (state != QTextToSpeech::Ready)
            return;
        if (std::exchange(stopping_, false))
            return;
        utteranceFinished();
    });
}

QtSpeechSynthesizer::~QtSpeechSynthesizer() = default;

QString QtSpeechSynthesizer::engineName() const
{
    return speech_->engine();
}

QString QtSpeechSynthesizer::lastError() const
{
    return speech_->state() == QTextToSpeech::Error ? speech_->errorString() : QString();
}

bool QtSpeechSynthesizer::isAvailable() const
{
    return speech_->state() != QTextToSpeech::Error;
}

QList<SpeechVoice> QtSpeechSynthesizer::voices()
{
    QList<SpeechVoice> out;
    // The engine lists the voices of one language at a time.
    const QLocale current = speech_->locale();
    for (const QLocale& locale : speech_->availableLocales()) {
        speech_->setLocale(locale);
        for (const QVoice& voice : speech_->availableVoices())
            out << SpeechVoice { voice.name(), speechLocaleTag(locale) };
    }
    speech_->setLocale(current);
    return out;
}

bool QtSpeechSynthesizer::isSpeaking() const
{
    return speech_->state() == QTextToSpeech::Speaking;
}

void QtSpeechSynthesizer::stop(SpeechBoundary boundary)
{
    stopping_ = speech_->state() == QTextToSpeech::Speaking;
    speech_->stop(boundary == SpeechBoundary::Word ? QTextToSpeech::BoundaryHint::Word
                                                   : QTextToSpeech::BoundaryHint::Immediate);
}

bool QtSpeechSynthesizer::speak(const QString& text, const std::optional<SpeechVoice>& voice, double rate)
{
    const QString localeTag = voice ? voice->locale : speechLocaleTag(defaultLocale_);
    const QString voiceName = voice ? voice->name : defaultVoice_;
    const QList<QLocale> locales = speech_->availableLocales();
    const auto locale = std::find_if(
        locales.begin(), locales.end(), [&](const QLocale& l) { return speechLocaleTag(l) == localeTag; });
    if (locale == locales.end())
        return false;
    speech_->setLocale(*locale);
    const QList<QVoice> voices = speech_->availableVoices();
    const auto chosen = std::find_if(voices.begin(), voices.end(), [&](const QVoice& v) { return v.name() == voiceName; });
    if (chosen != voices.end())
        speech_->setVoice(*chosen);
    else if (voice)
        return false;
    speech_->setRate(std::clamp(rate, -1.0, 1.0));
    speech_->say(text);
    return speech_->state() != QTextToSpeech::Error;
}

} // namespace platform
