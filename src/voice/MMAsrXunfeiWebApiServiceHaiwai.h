#pragma once

#include "platform/Executor.h"
#include "voice/EarlierDictationClient.h"

class MMAudioObjectManager;

// The earlier dictation client of the overseas service (the back end's
// overseas endpoint and credentials, whatever the region). Asks for dynamic
// correction only outside Chinese; sessions end after six seconds of
// silence.
//
// It also keeps a read position in the current recording: while its read
// timer runs, every kReadInterval it moves readIndex over the recording file
// in kReadChunk steps to the file's end (nothing is sent from it).
class MMAsrXunfeiWebApiServiceHaiwai final : public EarlierDictationClient {
public:
    static constexpr int kVadEos = 6000;
    static constexpr double kReadInterval = 0.05;
    static constexpr qint64 kReadChunk = 1280;

    static MMAsrXunfeiWebApiServiceHaiwai& sharedMMAsrXunfeiWebApiServiceHaiwai();

    MMAsrXunfeiWebApiServiceHaiwai(Environment environment, platform::Executor& executor,
        const MMAudioObjectManager& recorder, QObject* parent = nullptr);
    ~MMAsrXunfeiWebApiServiceHaiwai() override;

    void init_readRecTimer();
    void release_readTimer();
    void readAudioFile(const QString& path, qint64 chunkSize);
    quint64 readIndex() const { return readIndex_; }
    bool hasReadTimer() const { return readTimer_ != 0; }

protected:
    Service serviceFor(const mmApiKeyItem& keys, const QString& language) const override;
    QJsonObject businessParameters(const QString& language, quint64 punctuation) const override;
    void appendReply(const QString& text, bool last) override;
    void replaceReply(const QString& text) override;

private:
    void scheduleRead();

    platform::Executor& executor_;
    const MMAudioObjectManager& recorder_;
    platform::TaskId readTimer_ = 0;
    quint64 readIndex_ = 0;
};
