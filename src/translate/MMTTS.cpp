#include "translate/MMTTS.h"

#include "core/KWLangManager.h"

namespace {

// "zh_CN", "zh-cn" -> language "zh", region "CN".
std::pair<QString, QString> ttsLanguageAndRegion(const QString& identifier)
{
    const QStringList parts = QString(identifier).replace(u'_', u'-').split(u'-', Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return {};
    return { parts.first().toLower(), parts.size() > 1 ? parts.last().toUpper() : QString() };
}

// The engines' rate runs from -1 to 1 with 0 normal; this one from 0 to 1 with 0.5 normal.
double ttsEngineRate(double rate)
{
    return (rate - 0.5) * 2.0;
}

} // namespace

MMTTS::MMTTS(platform::SpeechSynthesizer& synthesizer, KWLangManager& languages, platform::Executor& queue)
    : synthesizer_(synthesizer)
    , languages_(languages)
    , queue_(queue)
{
    synthesizer_.setFinishedHandler([this] {
        endPause();
        pause_ = queue_.asyncAfter(kPauseSeconds, [this] { pause_.reset(); });
    });
}

MMTTS::~MMTTS()
{
    synthesizer_.setFinishedHandler({});
    endPause();
}

void MMTTS::endPause()
{
    if (pause_)
        queue_.cancel(*pause_);
    pause_.reset();
}

bool MMTTS::isSpeaking() const
{
    return pause_ || synthesizer_.isSpeaking();
}

std::optional<platform::SpeechVoice> MMTTS::voiceForLanguage(
    const QList<platform::SpeechVoice>& voices, const QString& identifier)
{
    const auto [language, region] = ttsLanguageAndRegion(identifier);
    if (language.isEmpty())
        return std::nullopt;
    std::optional<platform::SpeechVoice> sameLanguage;
    for (const platform::SpeechVoice& voice : voices) {
        const auto [voiceLanguage, voiceRegion] = ttsLanguageAndRegion(voice.locale);
        if (voiceLanguage != language)
            continue;
        if (voiceRegion == region)
            return voice;
        if (!sameLanguage)
            sameLanguage = voice;
    }
    return sameLanguage;
}

MMTTS::Result MMTTS::ttsWithText(const QString& text)
{
    const QString identifier
        = KWLangManager::getLanguageCodeWithLanguageList(languages_.getTTSLangeArray(), languages_.indexOcrTo());
    if (!theLanguage_.isEmpty() && theLanguage_ == identifier) {
        synthesizer_.stop(platform::SpeechBoundary::Immediate);
        endPause();
        theLanguage_.clear();
        return Result::Stopped;
    }
    if (isSpeaking())
        synthesizer_.stop(platform::SpeechBoundary::Word);
    endPause();
    if (!synthesizer_.isAvailable())
        return Result::NotAvailable;
    // Without a voice of the language the engine's default voice reads it.
    const std::optional<platform::SpeechVoice> chosen = voiceForLanguage(synthesizer_.voices(), identifier);
    if (!chosen)
        qInfo("Speech output: no voice for %s; the default voice speaks", qUtf8Printable(identifier));
    if (!synthesizer_.speak(text, chosen, ttsEngineRate(kRate)))
        return Result::NotAvailable;
    voice_ = chosen;
    theLanguage_ = identifier;
    return Result::Spoken;
}
