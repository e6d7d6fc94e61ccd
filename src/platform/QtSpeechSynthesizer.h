#pragma once

#include "platform/SpeechSynthesizer.h"

#include <QLocale>

#include <memory>

class QTextToSpeech;

namespace platform {

// Speech through Qt TextToSpeech and its engine plugins.
class QtSpeechSynthesizer final : public SpeechSynthesizer {
public:
    // Null when Qt finds no engine, or the engine does not start.
    static std::unique_ptr<QtSpeechSynthesizer> open(const QString& engine = QString());
    ~QtSpeechSynthesizer() override;

    bool isAvailable() const override;
    QList<SpeechVoice> voices() override;
    bool isSpeaking() const override;
    void stop(SpeechBoundary boundary) override;
    bool speak(const QString& text, const std::optional<SpeechVoice>& voice, double rate) override;

    QString engineName() const;
    // The engine's text for its last failure (for example no audio output); empty when none.
    QString lastError() const;

private:
    explicit QtSpeechSynthesizer(std::unique_ptr<QTextToSpeech> speech);

    std::unique_ptr<QTextToSpeech> speech_;
    // The engine's own choice at start, for texts without a voice of their language.
    QLocale defaultLocale_;
    QString defaultVoice_;
    // Set by stop(): the end that follows is no utterance read to its end.
    bool stopping_ = false;
};

} // namespace platform
