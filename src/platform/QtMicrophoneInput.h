#pragma once

#include "platform/MicrophoneInput.h"

#include <QPointer>

#include <memory>

class QAudioSource;
class QIODevice;

namespace platform {

// The default input device through Qt Multimedia, pulled on the main thread.
class QtMicrophoneInput final : public MicrophoneInput {
public:
    QtMicrophoneInput();
    ~QtMicrophoneInput() override;

    bool start(Sink sink) override;
    void stop() override;
    QString backendName() const override { return QStringLiteral("qt"); }

    // Whether the session has an input device that records the format.
    static bool hasUsableDevice();

private:
    std::unique_ptr<QAudioSource> source_;
    QPointer<QIODevice> stream_;
    Sink sink_;
};

} // namespace platform
