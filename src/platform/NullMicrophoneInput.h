#pragma once

#include "platform/MicrophoneInput.h"

namespace platform {

// No microphone: nothing can be recorded.
class NullMicrophoneInput final : public MicrophoneInput {
public:
    bool start(Sink) override { return false; }
    void stop() override { }
    QString backendName() const override { return QStringLiteral("null"); }
};

} // namespace platform
