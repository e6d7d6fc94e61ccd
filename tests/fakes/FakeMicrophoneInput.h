#pragma once

#include "platform/MicrophoneInput.h"

namespace fakes {

// A scripted microphone: the test decides whether it can start and feeds it
// pieces of audio; it records how often it was started and stopped.
class FakeMicrophoneInput final : public platform::MicrophoneInput {
public:
    bool start(Sink sink) override;
    void stop() override;
    QString backendName() const override { return QStringLiteral("fake"); }

    void setAvailable(bool available) { available_ = available; }
    // Hands a piece to the sink, as a device would; ignored while stopped.
    void deliver(const QByteArray& pcm);

    bool isRunning() const { return running_; }
    int startCount() const { return starts_; }
    int stopCount() const { return stops_; }

private:
    Sink sink_;
    bool available_ = true;
    bool running_ = false;
    int starts_ = 0;
    int stops_ = 0;
};

} // namespace fakes
