#pragma once

#include "platform/Executor.h"
#include "platform/SpeechSynthesizer.h"

#include <QList>
#include <QString>

#include <optional>

class KWLangManager;

// Reads a text aloud in the voice of the target language chosen for
// screenshot translation (the speech-output voice list at the same position
// as that language). Calls with the same voice alternate: the first speaks,
// the next only stops, the one after speaks again; another target language
// cuts the running utterance at a word boundary and speaks at once. Each
// utterance is followed by a pause of kPauseSeconds, during which speech
// still counts as running. Main thread.
class MMTTS {
public:
    enum class Result {
        Spoken,
        Stopped,
        NotAvailable, // no speech engine
    };

    // A little quicker than the engine's normal pace (0.52 where 0.5 is normal).
    static constexpr double kRate = 0.52;
    // The pause after an utterance read to its end.
    static constexpr double kPauseSeconds = 1.0;

    // The queue times the pause after each utterance.
    MMTTS(platform::SpeechSynthesizer& synthesizer, KWLangManager& languages, platform::Executor& queue);
    ~MMTTS();
    MMTTS(const MMTTS&) = delete;
    MMTTS& operator=(const MMTTS&) = delete;

    Result ttsWithText(const QString& text);

    // Speaking, or in the pause after an utterance.
    bool isSpeaking() const;
    // The voice identifier of the utterance last started; empty when none or after a stop.
    QString theLanguage() const { return theLanguage_; }
    // The voice of the last utterance started; none when it had the engine's
    // default voice, the engine having none of its language.
    std::optional<platform::SpeechVoice> voice() const { return voice_; }

    // The voice for a language identifier ("zh-CN", "en_US"): one of exactly
    // that language and region first, else the first of that language;
    // nothing when the engine has none.
    static std::optional<platform::SpeechVoice> voiceForLanguage(
        const QList<platform::SpeechVoice>& voices, const QString& identifier);

private:
    void endPause();

    platform::SpeechSynthesizer& synthesizer_;
    KWLangManager& languages_;
    platform::Executor& queue_;
    QString theLanguage_;
    std::optional<platform::SpeechVoice> voice_;
    std::optional<platform::TaskId> pause_;
};
