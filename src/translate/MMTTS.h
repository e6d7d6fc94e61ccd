#pragma once

#include "platform/SpeechSynthesizer.h"

#include <QList>
#include <QString>

#include <optional>

class KWLangManager;

// Reads a text aloud in the voice of the target language chosen for
// screenshot translation (the speech-output voice list at the same position
// as that language). Calls with the same voice alternate: the first speaks,
// the next only stops, the one after speaks again; another target language
// cuts the running utterance at a word boundary and speaks at once.
class MMTTS {
public:
    enum class Result {
        Spoken,
        Stopped,
        NotAvailable, // no speech engine, or no voice for the language
    };

    // A little quicker than the engine's normal pace (0.52 where 0.5 is normal).
    static constexpr double kRate = 0.52;

    MMTTS(platform::SpeechSynthesizer& synthesizer, KWLangManager& languages);

    Result ttsWithText(const QString& text);

    // The voice identifier of the utterance last started; empty when none or after a stop.
    QString theLanguage() const { return theLanguage_; }
    // The voice last used.
    std::optional<platform::SpeechVoice> voice() const { return voice_; }

    // The voice for a language identifier ("zh-CN", "en_US"): one of exactly
    // that language and region first, else the first of that language;
    // nothing when the engine has none.
    static std::optional<platform::SpeechVoice> voiceForLanguage(
        const QList<platform::SpeechVoice>& voices, const QString& identifier);

private:
    platform::SpeechSynthesizer& synthesizer_;
    KWLangManager& languages_;
    QString theLanguage_;
    std::optional<platform::SpeechVoice> voice_;
};
