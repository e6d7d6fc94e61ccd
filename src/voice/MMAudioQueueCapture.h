#pragma once

#include "platform/MicrophoneInput.h"

#include <QByteArray>

#include <functional>
#include <memory>

class MMAudioObjectManager;

// Records the computer's own microphone and hands the audio on in blocks of
// kBlockBytes (40 ms of 16 kHz, 16-bit mono PCM), each also measured by the
// recorder's level meter. The device's pieces are gathered into whole
// blocks; when recording stops, a last partial block is completed with
// silence and handed on, so no recorded audio is lost.
//
// Each start opens the microphone afresh, so a start after a stop never
// reuses a closed device. Main thread only.
class MMAudioQueueCapture {
public:
    using Block = std::function<void(const QByteArray& pcm)>;

    static constexpr int kBlockBytes = 1280;

    // The process-wide capture over the session's microphone and the shared recorder.
    static MMAudioQueueCapture& sharedMMAudioQueueCapture();

    // The recorder may be null (no level meter).
    MMAudioQueueCapture(std::unique_ptr<platform::MicrophoneInput> input, MMAudioObjectManager* recorder);
    ~MMAudioQueueCapture();
    MMAudioQueueCapture(const MMAudioQueueCapture&) = delete;
    MMAudioQueueCapture& operator=(const MMAudioQueueCapture&) = delete;

    // Starts recording into the block callback; false when the microphone
    // cannot be opened (nothing is recorded then). A running recording is
    // stopped first.
    bool startRecordWithBlock(Block block);
    // Ends the recording: the partial block, if any, goes out padded. Does
    // nothing while not recording.
    void stopRecord();
    bool isRecording() const { return recording_; }

    // One piece of audio from the device.
    void processAudioBuffer(const QByteArray& pcm);

private:
    void deliver(const QByteArray& block);

    std::unique_ptr<platform::MicrophoneInput> input_;
    MMAudioObjectManager* recorder_;
    Block block_;
    QByteArray pending_;
    bool recording_ = false;
};
