#pragma once

#include "platform/SpeechSynthesizer.h"

#include <QStringList>

namespace fakes {

// A speech engine with the voices the test gives; it records what it was
// asked and speaks until the test says the utterance ended.
class FakeSpeechSynthesizer final : public platform::SpeechSynthesizer {
public:
    struct Utterance {
        QString text;
        std::optional<platform::SpeechVoice> voice; // none: the engine's default voice
        double rate = 0;
    };

    void setAvailable(bool available) { available_ = available; }
    void setVoices(const QList<platform::SpeechVoice>& voices) { voices_ = voices; }
    // The running utterance ends by itself.
    void finish();

    bool isAvailable() const override { return available_; }
    QList<platform::SpeechVoice> voices() override { return available_ ? voices_ : QList<platform::SpeechVoice>(); }
    bool isSpeaking() const override { return speaking_; }
    void stop(platform::SpeechBoundary boundary) override;
    bool speak(const QString& text, const std::optional<platform::SpeechVoice>& voice, double rate) override;

    const QList<Utterance>& utterances() const { return utterances_; }
    // "immediate" or "word" for each stop, in order.
    const QStringList& stops() const { return stops_; }

private:
    bool available_ = true;
    bool speaking_ = false;
    QList<platform::SpeechVoice> voices_;
    QList<Utterance> utterances_;
    QStringList stops_;
};

} // namespace fakes
