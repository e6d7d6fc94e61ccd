#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

namespace platform {

// The computer's own microphone: the default input device recorded as
// 16 kHz, 16-bit, mono, little-endian PCM. The audio arrives in pieces of
// whatever size the device delivers, on the main thread.
//
// Backends: Qt Multimedia (QAudioSource) and a null one that is never
// available. create() probes; PRAVIK_MICROPHONE=qt|null overrides the probe.
class MicrophoneInput {
public:
    using Sink = std::function<void(const QByteArray& pcm)>;

    static constexpr int kSampleRate = 16000;
    static constexpr int kChannels = 1;
    static constexpr int kBytesPerSample = 2;

    virtual ~MicrophoneInput() = default;

    // Starts recording into the sink; false (and nothing recorded) when no
    // input device can be opened in the format above.
    virtual bool start(Sink sink) = 0;
    // Stops recording; the sink gets nothing after this returns.
    virtual void stop() = 0;
    // A short name of the backend ("qt", "null", ...).
    virtual QString backendName() const = 0;

    static std::unique_ptr<MicrophoneInput> create();
};

} // namespace platform
