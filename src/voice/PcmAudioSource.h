#pragma once

#include <QByteArray>

#include <functional>

// The microphone audio of one device link as its consumers see it: decoded
// PCM (16 kHz, 16-bit mono, little-endian) handed to a single subscriber,
// block by block, on the main thread. Each link has one slot; a new
// subscriber replaces the previous one, an empty one clears the slot.
class PcmAudioSource {
public:
    using Subscriber = std::function<void(const QByteArray& pcm)>;

    virtual ~PcmAudioSource() = default;
    virtual void setPcmSubscriber(Subscriber subscriber) = 0;
};
