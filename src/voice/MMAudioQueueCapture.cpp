#include "voice/MMAudioQueueCapture.h"

#include "voice/MMAudioObjectManager.h"

MMAudioQueueCapture& MMAudioQueueCapture::sharedMMAudioQueueCapture()
{
    static MMAudioQueueCapture* shared
        = new MMAudioQueueCapture(platform::MicrophoneInput::create(), &MMAudioObjectManager::sharedManager());
    return *shared;
}

MMAudioQueueCapture::MMAudioQueueCapture(
    std::unique_ptr<platform::MicrophoneInput> input, MMAudioObjectManager* recorder)
    : input_(std::move(input))
    , recorder_(recorder)
{
}

MMAudioQueueCapture::~MMAudioQueueCapture()
{
    if (recording_)
        input_->stop();
}

bool MMAudioQueueCapture::startRecordWithBlock(Block block)
{
    stopRecord();
    pending_.clear();
    if (!input_->start([this](const QByteArray& pcm) { processAudioBuffer(pcm); }))
        return false;
    block_ = std::move(block);
    recording_ = true;
    return true;
}

void MMAudioQueueCapture::stopRecord()
{
    if (!recording_)
        return;
    input_->stop();
    recording_ = false;
    if (!pending_.isEmpty()) {
        QByteArray last = pending_;
        last.append(kBlockBytes - last.size(), '\0');
        pending_.clear();
        deliver(last);
    }
    block_ = {};
}

void MMAudioQueueCapture::processAudioBuffer(const QByteArray& pcm)
{
    if (!recording_)
        return;
    pending_.append(pcm);
    qsizetype offset = 0;
    while (pending_.size() - offset >= kBlockBytes) {
        deliver(pending_.mid(offset, kBlockBytes));
        offset += kBlockBytes;
    }
    pending_.remove(0, offset);
}

void MMAudioQueueCapture::deliver(const QByteArray& block)
{
    if (block_)
        block_(block);
    if (recorder_)
        recorder_->isQuite(block);
}
