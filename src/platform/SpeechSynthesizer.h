#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace platform {

// A voice of the speech engine and the language it speaks, as a BCP 47
// tag with a hyphen ("en-US").
struct SpeechVoice {
    QString name;
    QString locale;
};

enum class SpeechBoundary { Immediate, Word };

// Reads text aloud with the session's speech engine. Main thread only.
class SpeechSynthesizer {
public:
    virtual ~SpeechSynthesizer() = default;

    // Whether an engine runs at all.
    virtual bool isAvailable() const = 0;
    // Every voice of every language the engine offers.
    virtual QList<SpeechVoice> voices() = 0;
    virtual bool isSpeaking() const = 0;
    // Stops speaking at once, or at the end of the word being spoken.
    virtual void stop(SpeechBoundary boundary) = 0;
    // Starts reading the text with the voice, or with the engine's default
    // voice when none is given; rate -1 (slowest) to 1 (fastest), 0 the
    // engine's normal pace. False when nothing could start (no engine, or a
    // voice the engine does not have).
    virtual bool speak(const QString& text, const std::optional<SpeechVoice>& voice, double rate) = 0;
    // Called on the main thread when an utterance has been read to its end
    // (not when it was stopped).
    void setFinishedHandler(std::function<void()> handler) { finished_ = std::move(handler); }

    // The engine of this session: Qt TextToSpeech with its first engine
    // (speech-dispatcher, flite, ...) when there is one, else the null
    // backend ("not available"). PRAVIK_SPEECH=qt|null overrides the probe.
    static SpeechSynthesizer& shared();
    static std::unique_ptr<SpeechSynthesizer> create(const QString& choice);

protected:
    void utteranceFinished()
    {
        if (finished_)
            finished_();
    }

private:
    std::function<void()> finished_;
};

} // namespace platform
