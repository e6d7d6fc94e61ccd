#pragma once

#include "platform/SpeechSynthesizer.h"

namespace platform {

// No speech engine in this session: nothing is ever spoken.
class NullSpeechSynthesizer final : public SpeechSynthesizer {
public:
    bool isAvailable() const override { return false; }
    QList<SpeechVoice> voices() override { return {}; }
    bool isSpeaking() const override { return false; }
    void stop(SpeechBoundary) override { }
    bool speak(const QString&, const std::optional<SpeechVoice>&, double) override { return false; }
};

} // namespace platform
