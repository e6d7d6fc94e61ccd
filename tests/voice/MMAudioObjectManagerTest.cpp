#include "voice/MMAudioObjectManager.h"

#include "core/StringCoding.h"
#include "core/UWSanboxFileManager.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/AppPaths.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtEndian>

#include <cmath>
#include <gtest/gtest.h>

namespace {

// Reads WAV files with Python's own reader, and the RIFF size by hand.
const char* const kWavReader = R"(
import hashlib, json, struct, sys, wave
result = []
for path in sys.argv[1:]:
    raw = open(path, 'rb').read()
    with wave.open(path, 'rb') as w:
        frames = w.readframes(w.getnframes())
        result.append({
            'channels': w.getnchannels(), 'width': w.getsampwidth(), 'rate': w.getframerate(),
            'frames': w.getnframes(), 'comptype': w.getcomptype(),
            'riff': struct.unpack('<I', raw[4:8])[0], 'size': len(raw),
            'sha256': hashlib.sha256(frames).hexdigest()})
print(json.dumps(result))
)";

QJsonArray readWavs(const QStringList& paths)
{
    QProcess python;
    python.start(QStringLiteral("python3"),
        QStringList { QStringLiteral("-c"), QString::fromLatin1(kWavReader) } + paths);
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        ADD_FAILURE() << "python3 could not read " << paths.join(u' ').toStdString() << ": "
                      << python.readAllStandardError().toStdString();
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
}

QString sha256(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QByteArray samples(std::initializer_list<qint16> values, int repeat = 1)
{
    QByteArray pcm;
    for (int r = 0; r < repeat; ++r)
        for (qint16 v : values) {
            char raw[2];
            qToLittleEndian(v, raw);
            pcm.append(raw, 2);
        }
    return pcm;
}

// A 440 Hz tone, a packet at a time.
QByteArray tone(int sampleCount, int offset)
{
    QByteArray pcm;
    for (int i = 0; i < sampleCount; ++i) {
        const auto v
            = static_cast<qint16>(std::lround(8000 * std::sin(2 * M_PI * 440 * (offset + i) / 16000.0)));
        char raw[2];
        qToLittleEndian(v, raw);
        pcm.append(raw, 2);
    }
    return pcm;
}

class LevelRecorder final : public MMAudioObjectManagerDelegate {
public:
    void getAudioDecibelValue(int level) override { levels.push_back(level); }
    std::vector<int> levels;
};

class RecorderTest : public ::testing::Test {
protected:
    QString recordingPath(const QString& suffix = QString()) const
    {
        const QString stamp = StringCoding::uw_getCurrentDateString(
            QDateTime::fromMSecsSinceEpoch(qint64(time.now()) * 1000, Qt::LocalTime));
        return platform::AppPaths::documents() + QStringLiteral("/REC/PravikREC ") + stamp + suffix
            + QStringLiteral(".wav");
    }
    static QByteArray contents(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // Records the packets as one dictation; returns the PCM written.
    QByteArray dictate(int packets, int offset = 0)
    {
        recorder.beginRecordWithRecordorZhiMu(MMAudioObjectManager::kDictationTitle);
        QByteArray all;
        for (int p = 0; p < packets; ++p) {
            const QByteArray pcm = tone(320, offset + p * 320);
            recorder.isQuite(pcm);
            recorder.writePcmData(pcm);
            all += pcm;
        }
        recorder.endRecord();
        return all;
    }
    // Each file is a WAV file of exactly its PCM.
    void expectWavs(const QList<QPair<QString, QByteArray>>& files)
    {
        QStringList paths;
        for (const auto& file : files)
            paths << file.first;
        const QJsonArray wavs = readWavs(paths);
        ASSERT_EQ(wavs.size(), files.size());
        for (qsizetype i = 0; i < files.size(); ++i)
            expectWav(wavs[i].toObject(), files[i].second, files[i].first);
    }
    static void expectWav(const QJsonObject& wav, const QByteArray& pcm, const QString& path)
    {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(wav.value("channels").toInt(), 1);
        EXPECT_EQ(wav.value("width").toInt(), 2);
        EXPECT_EQ(wav.value("rate").toInt(), 16000);
        EXPECT_EQ(wav.value("comptype").toString(), QStringLiteral("NONE"));
        EXPECT_EQ(wav.value("frames").toInt(), pcm.size() / 2);
        EXPECT_EQ(wav.value("riff").toInt(), pcm.size() + 36);
        EXPECT_EQ(wav.value("size").toInt(), pcm.size() + 44);
        EXPECT_EQ(wav.value("sha256").toString(), sha256(pcm));
    }

    fakes::TempHome home;
    fakes::VirtualTime time;
    MMAudioObjectManager recorder { time, UWSanboxFileManager::sharedManager() };
};

TEST_F(RecorderTest, OneSecondDictationIsAWavFile)
{
    const QByteArray pcm = dictate(50); // 50 packets of 20 ms
    ASSERT_EQ(pcm.size(), 32000);
    EXPECT_EQ(recorder.audioFilePath(), recordingPath());
    EXPECT_EQ(recorder.recordTitle(), recordingPath().mid(platform::AppPaths::documents().size()));
    EXPECT_EQ(recorder.fileName(), MMAudioObjectManager::kDictationTitle);
    expectWavs({ { recordingPath(), pcm } });

    // The header byte for byte, as the finished file starts.
    const QByteArray header = contents(recordingPath()).left(44);
    EXPECT_EQ(header.toHex(),
        QByteArray("52494646"
                   "247d0000"
                   "57415645"
                   "666d7420"
                   "10000000"
                   "0100"
                   "0100"
                   "803e0000"
                   "007d0000"
                   "0200"
                   "1000"
                   "64617461"
                   "007d0000"));
}

TEST_F(RecorderTest, SoxAgreesOnTheFormat)
{
    dictate(5);
    QProcess soxi;
    soxi.start(QStringLiteral("soxi"), { recordingPath() });
    ASSERT_TRUE(soxi.waitForFinished(30000));
    ASSERT_EQ(soxi.exitCode(), 0) << soxi.readAllStandardError().toStdString();
    const QString info = QString::fromLocal8Bit(soxi.readAllStandardOutput());
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Channels\\s*:\\s*1\\n"))))
        << info.toStdString();
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Sample Rate\\s*:\\s*16000\\n"))));
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Precision\\s*:\\s*16-bit\\n"))));
    EXPECT_TRUE(info.contains(QStringLiteral("1600 samples"))) << info.toStdString();
    EXPECT_TRUE(info.contains(QStringLiteral("16-bit Signed Integer PCM")));
}

TEST_F(RecorderTest, TwoDictationsInOneSecondKeepBothFiles)
{
    const QByteArray first = dictate(3, 0);
    const QByteArray second = dictate(4, 5000);
    const QByteArray third = dictate(2, 9000);
    const QList<QPair<QString, QByteArray>> sameSecond = {
        { recordingPath(), first },
        { recordingPath(QStringLiteral("-2")), second },
        { recordingPath(QStringLiteral("-3")), third },
    };

    // A new second starts again without a counter.
    time.advance(1);
    const QByteArray fourth = dictate(1);
    expectWavs(sameSecond + QList<QPair<QString, QByteArray>> { { recordingPath(), fourth } });
}

TEST_F(RecorderTest, AudioOutsideADictationIsDropped)
{
    recorder.writePcmData(tone(320, 0)); // before any recording
    recorder.endRecord(); // nothing to finish
    EXPECT_FALSE(QDir(platform::AppPaths::documents() + QStringLiteral("/REC")).exists());

    const QByteArray pcm = dictate(3);
    const QByteArray finished = contents(recordingPath());
    EXPECT_FALSE(recorder.isRecording());
    // The chat window's audio keeps arriving after the dictation.
    recorder.writePcmData(tone(320, 1000));
    recorder.endRecord();
    EXPECT_EQ(contents(recordingPath()), finished);
    expectWavs({ { recordingPath(), pcm } });
}

TEST_F(RecorderTest, StartingAgainFinishesTheOpenRecording)
{
    recorder.beginRecordWithRecordorZhiMu(MMAudioObjectManager::kDictationTitle);
    const QByteArray pcm = tone(640, 0);
    recorder.writePcmData(pcm);
    const QString firstPath = recorder.audioFilePath();

    time.advance(1);
    recorder.beginRecordWithRecordorZhiMu(MMAudioObjectManager::kDictationTitle);
    EXPECT_NE(recorder.audioFilePath(), firstPath);
    recorder.endRecord();
    expectWavs({ { firstPath, pcm }, { recordingPath(), {} } });
}

TEST_F(RecorderTest, UnwritableFolderRecordsNothing)
{
    QFile blocker(platform::AppPaths::documents() + QStringLiteral("/REC"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    recorder.beginRecordWithRecordorZhiMu(MMAudioObjectManager::kDictationTitle);
    EXPECT_FALSE(recorder.isRecording());
    recorder.writePcmData(tone(320, 0));
    recorder.endRecord();
    EXPECT_EQ(QFileInfo(blocker.fileName()).size(), 0);
    EXPECT_FALSE(MMAudioObjectManager::addWavHeadFromPcmData(recordingPath(), 1));
}

struct LevelCase {
    const char* name;
    QByteArray pcm;
    int level;
};

void PrintTo(const LevelCase& c, std::ostream* os)
{
    *os << c.name;
}

class LevelTest : public RecorderTest, public ::testing::WithParamInterface<LevelCase> { };

TEST_P(LevelTest, LevelOfAPacket)
{
    const LevelCase& c = GetParam();
    auto delegate = std::make_shared<LevelRecorder>();
    recorder.setDelegate(delegate);
    EXPECT_EQ(recorder.isQuite(c.pcm), c.level);
    EXPECT_EQ(delegate->levels, std::vector<int> { c.level });
}

INSTANTIATE_TEST_SUITE_P(Table, LevelTest,
    ::testing::Values(LevelCase { "FullScale", samples({ 32767, -32767 }, 160), 87 },
        LevelCase { "MostNegative", samples({ -32768 }, 320), 87 },
        LevelCase { "Magnitude100", samples({ 100, -100 }, 160), 36 },
        LevelCase { "Silence", samples({ 0 }, 320), 0 },
        LevelCase { "HalfASample", QByteArray(1, '\x7f'), 0 },
        LevelCase { "OddByteIgnoredButCounted", samples({ 100 }, 1) + QByteArray(1, '\x7f'), 35 },
        LevelCase { "QuietBelowOne", samples({ 1 }) + samples({ 0 }, 999), -33 }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RecorderTest, NoDataNoLevelReport)
{
    auto delegate = std::make_shared<LevelRecorder>();
    recorder.setDelegate(delegate);
    EXPECT_EQ(recorder.isQuite({}), 0);
    EXPECT_TRUE(delegate->levels.empty());

    // A delegate that is gone is not called.
    delegate.reset();
    EXPECT_EQ(recorder.isQuite(samples({ 100 }, 10)), 36);
}

} // namespace
