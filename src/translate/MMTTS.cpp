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

MMTTS::MMTTS(platform::SpeechSynthesizer& synthesizer, KWLangManager& languages)
    : synthesizer_(synthesizer)
    , languages_(languages)
{
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
        theLanguage_.clear();
        return Result::Stopped;
    }
    if (synthesizer_.isSpeaking())
        synthesizer_.stop(platform::SpeechBoundary::Word);
    if (!synthesizer_.isAvailable())
        return Result::NotAvailable;
    const std::optional<platform::SpeechVoice> chosen = voiceForLanguage(synthesizer_.voices(), identifier);
    if (!chosen) {
        qInfo("Speech output: no voice for %s", qUtf8Printable(identifier));
        return Result::NotAvailable;
    }
    if (!synthesizer_.speak(text, *chosen, ttsEngineRate(kRate)))
        return Result::NotAvailable;
    voice_ = chosen;
    theLanguage_ = identifier;
    return Result::Spoken;
}
