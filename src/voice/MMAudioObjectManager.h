#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>

class UWSanboxFileManager;

namespace platform {
class Clock;
}

// Hears the level of every audio packet (the speech window's level meter).
class MMAudioObjectManagerDelegate {
public:
    virtual ~MMAudioObjectManagerDelegate() = default;
    virtual void getAudioDecibelValue(int level) = 0;
};

// Records each dictation: the decoded microphone audio of the mouse (16 kHz,
// 16-bit signed little-endian mono PCM) is appended to a file in the folder
// "REC" of the Documents folder and becomes a WAV file when the dictation
// ends. Also measures the level of each packet for the level meter.
//
// A recording is open from beginRecordWithRecordorZhiMu() to endRecord();
// audio outside that span is dropped, so nothing lands behind a finished WAV
// file. Main thread only.
class MMAudioObjectManager {
public:
    struct RecorderSettings {
        double sampleRate = 16000.0;
        int bitDepth = 16;
        int channels = 1;
        bool linearPcm = true;
    };

    static constexpr int kWavHeaderSize = 44;
    static const QString kRecordingFolder; // "REC"
    // The title the dictation gives its recordings.
    static const QString kDictationTitle; // "PravikREC"

    static MMAudioObjectManager& sharedManager();

    MMAudioObjectManager(platform::Clock& clock, const UWSanboxFileManager& files);
    ~MMAudioObjectManager();
    MMAudioObjectManager(const MMAudioObjectManager&) = delete;
    MMAudioObjectManager& operator=(const MMAudioObjectManager&) = delete;

    // Held weakly: a delegate that is gone is simply not called.
    void setDelegate(std::weak_ptr<MMAudioObjectManagerDelegate> delegate)
    {
        delegate_ = std::move(delegate);
    }

    // Starts a new file "REC/<title> <yyyyMMddHHmmss>.wav"; when that name is
    // taken (two recordings in one second) a counter follows the time stamp:
    // "REC/<title> <yyyyMMddHHmmss>-2.wav". A recording still open is
    // finished first.
    void beginRecordWithRecordorZhiMu(const QString& title);
    // Appends the PCM while a recording is open; dropped otherwise.
    void writePcmData(const QByteArray& pcm);
    // Closes the recording and turns it into a WAV file. Nothing without an
    // open recording.
    void endRecord();
    bool isRecording() const { return fileHandler_ != nullptr; }

    // The packet's level, 10 log10 of its mean square per byte, whole part:
    // at most 87 for full-scale samples, 0 for silence and for packets without
    // a whole sample. Also sent to the delegate, except for no data at all.
    int isQuite(const QByteArray& pcm);

    // Rewrites the raw PCM file at path as a WAV file (44-byte header, then
    // the PCM) with the recorder's format. False, leaving the file as it was,
    // when it cannot be read or written or is too long for a WAV header.
    static bool addWavHeadFromPcmData(const QString& path, int channels);
    static QByteArray wavHeader(quint32 pcmLength, const RecorderSettings& settings);
    static RecorderSettings GetAudioRecorderSettingDictWithChannelNum(int channels);

    QString createTime() const { return createTime_; }
    QString fileName() const { return fileName_; }
    // The current (or last) recording, relative to the Documents folder.
    QString recordTitle() const { return recordTitle_; }
    QString audioFilePath() const { return audioFilePath_; }

private:
    QString currentTimeStamp() const;
    QString unusedRecordTitle(const QString& title, const QString& stamp) const;

    platform::Clock& clock_;
    const UWSanboxFileManager& files_;
    std::weak_ptr<MMAudioObjectManagerDelegate> delegate_;
    QString createTime_;
    QString fileName_;
    QString recordTitle_;
    QString audioFilePath_;
    std::unique_ptr<QFile> fileHandler_;
};
