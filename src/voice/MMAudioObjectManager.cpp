#include "voice/MMAudioObjectManager.h"

#include "core/StringCoding.h"
#include "core/UWSanboxFileManager.h"
#include "platform/Clock.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <limits>

const QString MMAudioObjectManager::kRecordingFolder = QStringLiteral("REC");
const QString MMAudioObjectManager::kDictationTitle = QStringLiteral("PravikREC");

namespace {

// More recordings than this in one second means something is wrong.
constexpr int kMaxNameCounter = 1000;

void appendLe16(QByteArray& bytes, quint16 value)
{
    char raw[2];
    qToLittleEndian(value, raw);
    bytes.append(raw, 2);
}

void appendLe32(QByteArray& bytes, quint32 value)
{
    char raw[4];
    qToLittleEndian(value, raw);
    bytes.append(raw, 4);
}

} // namespace

MMAudioObjectManager& MMAudioObjectManager::sharedManager()
{
    static MMAudioObjectManager* shared
        = new MMAudioObjectManager(platform::Clock::system(), UWSanboxFileManager::sharedManager());
    return *shared;
}

MMAudioObjectManager::MMAudioObjectManager(platform::Clock& clock, const UWSanboxFileManager& files)
    : clock_(clock)
    , files_(files)
{
}

MMAudioObjectManager::~MMAudioObjectManager()
{
    endRecord();
}

QString MMAudioObjectManager::currentTimeStamp() const
{
    double seconds = clock_.now();
    if (!std::isfinite(seconds))
        seconds = 0;
    // Years 1 to 9999 in milliseconds stay far inside qint64.
    seconds = std::clamp(seconds, -62'135'596'800.0, 253'402'300'799.0);
    const auto msecs = static_cast<qint64>(std::floor(seconds * 1000.0));
    return StringCoding::uw_getCurrentDateString(QDateTime::fromMSecsSinceEpoch(msecs, Qt::LocalTime));
}

QString MMAudioObjectManager::unusedRecordTitle(const QString& title, const QString& stamp) const
{
    const auto taken = [this](const QString& relative) {
        const QFileInfo info(files_.getAFilePathBasedOnAFileName(relative));
        return info.exists() || info.isSymLink();
    };
    const QString first = QStringLiteral("/%1/%2 %3.wav").arg(kRecordingFolder, title, stamp);
    if (!taken(first))
        return first;
    for (int counter = 2; counter <= kMaxNameCounter; ++counter) {
        const QString next
            = QStringLiteral("/%1/%2 %3-%4.wav").arg(kRecordingFolder, title, stamp).arg(counter);
        if (!taken(next))
            return next;
    }
    return {};
}

void MMAudioObjectManager::beginRecordWithRecordorZhiMu(const QString& title)
{
    // A recording the caller never ended still becomes a proper WAV file.
    endRecord();

    const QString stamp = currentTimeStamp();
    const QString folder = files_.getAFilePathBasedOnAFileName(kRecordingFolder);
    if (!QDir().mkpath(folder))
        qWarning("MMAudioObjectManager: cannot create %s", qUtf8Printable(folder));

    createTime_ = stamp;
    fileName_ = title;
    recordTitle_ = unusedRecordTitle(title, stamp);
    if (recordTitle_.isEmpty()) {
        audioFilePath_.clear();
        qWarning("MMAudioObjectManager: no free recording name for \"%s %s\"; not recording",
            qUtf8Printable(title), qUtf8Printable(stamp));
        return;
    }
    audioFilePath_ = files_.getAFilePathBasedOnAFileName(recordTitle_);
    fileHandler_ = files_.createFileHandleWithPath(audioFilePath_, false);
    if (!fileHandler_)
        qWarning("MMAudioObjectManager: cannot open %s; this dictation is not recorded",
            qUtf8Printable(audioFilePath_));
}

void MMAudioObjectManager::writePcmData(const QByteArray& pcm)
{
    if (!fileHandler_ || pcm.isEmpty())
        return;
    if (fileHandler_->write(pcm) != pcm.size())
        qWarning("MMAudioObjectManager: writing to %s failed: %s", qUtf8Printable(audioFilePath_),
            qUtf8Printable(fileHandler_->errorString()));
}

void MMAudioObjectManager::endRecord()
{
    if (!fileHandler_)
        return;
    fileHandler_->close();
    fileHandler_.reset();
    if (!addWavHeadFromPcmData(audioFilePath_, 1))
        qWarning("MMAudioObjectManager: %s could not be finished as WAV", qUtf8Printable(audioFilePath_));
}

int MMAudioObjectManager::isQuite(const QByteArray& pcm)
{
    if (pcm.isEmpty())
        return 0;
    const qsizetype samples = pcm.size() / 2;
    const auto* bytes = reinterpret_cast<const uchar*>(pcm.constData());
    double sum = 0;
    for (qsizetype i = 0; i < samples; ++i) {
        const double sample = qFromLittleEndian<qint16>(bytes + 2 * i);
        sum += sample * sample;
    }
    int level = 0;
    // Silence has no logarithm; it shows as the lowest level.
    if (sum > 0) {
        const double db = 10.0 * std::log10(sum / double(pcm.size()));
        // Between about -190 (one quiet sample in the largest packet) and 88.
        level = static_cast<int>(std::trunc(db));
    }
    if (auto delegate = delegate_.lock())
        delegate->getAudioDecibelValue(level);
    return level;
}

MMAudioObjectManager::RecorderSettings MMAudioObjectManager::GetAudioRecorderSettingDictWithChannelNum(
    int channels)
{
    RecorderSettings settings;
    settings.channels = channels;
    return settings;
}

QByteArray MMAudioObjectManager::wavHeader(quint32 pcmLength, const RecorderSettings& settings)
{
    const auto sampleRate = static_cast<quint32>(settings.sampleRate);
    const auto channels = static_cast<quint16>(settings.channels);
    const auto bytesPerFrame = static_cast<quint16>(channels * settings.bitDepth / 8);
    QByteArray header;
    header.reserve(kWavHeaderSize);
    header.append("RIFF");
    appendLe32(header, pcmLength + 36);
    header.append("WAVE");
    header.append("fmt ");
    appendLe32(header, 16);
    appendLe16(header, 1); // linear PCM
    appendLe16(header, channels);
    appendLe32(header, sampleRate);
    appendLe32(header, sampleRate * bytesPerFrame);
    appendLe16(header, bytesPerFrame);
    appendLe16(header, static_cast<quint16>(settings.bitDepth));
    header.append("data");
    appendLe32(header, pcmLength);
    return header;
}

bool MMAudioObjectManager::addWavHeadFromPcmData(const QString& path, int channels)
{
    if (channels < 1 || channels > std::numeric_limits<quint16>::max() / 2)
        return false;
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray pcm = in.readAll();
    in.close();
    if (quint64(pcm.size()) > quint64(std::numeric_limits<quint32>::max()) - 36)
        return false;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(wavHeader(quint32(pcm.size()), GetAudioRecorderSettingDictWithChannelNum(channels)));
    out.write(pcm);
    return out.commit();
}
