#include "device/SBCDecoder.h"

#include <QByteArray>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <numbers>
#include <random>
#include <sbc/sbc.h>
#include <vector>

namespace {

using Pcm = std::vector<qint16>;
using Frames = std::vector<QByteArray>;

constexpr double kPi = std::numbers::pi;
constexpr int kMsbcSamples = 120;
constexpr int kMsbcFrameBytes = 57;

// libsbc, the reference: an encoder or a decoder for one stream.
class LibSbc {
public:
    struct Config {
        int frequency, blocks, subbands, mode, allocation, bitpool;
    };
    static LibSbc msbc()
    {
        LibSbc codec;
        sbc_init_msbc(&codec.sbc_, 0);
        codec.sbc_.endian = SBC_LE;
        return codec;
    }
    static LibSbc sbc(const Config& config)
    {
        LibSbc codec;
        sbc_init(&codec.sbc_, 0);
        codec.sbc_.frequency = static_cast<uint8_t>(config.frequency);
        codec.sbc_.blocks = static_cast<uint8_t>(config.blocks);
        codec.sbc_.subbands = static_cast<uint8_t>(config.subbands);
        codec.sbc_.mode = static_cast<uint8_t>(config.mode);
        codec.sbc_.allocation = static_cast<uint8_t>(config.allocation);
        codec.sbc_.bitpool = static_cast<uint8_t>(config.bitpool);
        codec.sbc_.endian = SBC_LE;
        return codec;
    }
    LibSbc(LibSbc&& other) noexcept
        : sbc_(other.sbc_)
    {
        other.sbc_.priv = nullptr;
    }
    ~LibSbc()
    {
        if (sbc_.priv)
            sbc_finish(&sbc_);
    }

    // Whole frames of the PCM (interleaved when stereo); a trailing partial frame is dropped.
    Frames encode(const Pcm& pcm)
    {
        const size_t codeSize = sbc_get_codesize(&sbc_) / sizeof(qint16);
        const size_t frameLength = sbc_get_frame_length(&sbc_);
        Frames frames;
        for (size_t at = 0; at + codeSize <= pcm.size(); at += codeSize) {
            QByteArray frame(qsizetype(frameLength), '\0');
            ssize_t written = 0;
            const ssize_t used = sbc_encode(
                &sbc_, pcm.data() + at, codeSize * sizeof(qint16), frame.data(), frameLength, &written);
            EXPECT_EQ(used, ssize_t(codeSize * sizeof(qint16)));
            EXPECT_EQ(written, ssize_t(frameLength));
            frames.push_back(frame);
        }
        return frames;
    }

    Pcm decode(const Frames& frames)
    {
        Pcm pcm;
        for (const QByteArray& frame : frames) {
            qint16 out[SBCDecoder::kMaxSamples];
            size_t written = 0;
            const ssize_t used
                = sbc_decode(&sbc_, frame.constData(), size_t(frame.size()), out, sizeof out, &written);
            EXPECT_EQ(used, frame.size());
            pcm.insert(pcm.end(), out, out + written / sizeof(qint16));
        }
        return pcm;
    }

private:
    LibSbc() = default;
    sbc_t sbc_ {};
};

Pcm decodeAll(SBCDecoder& decoder, const Frames& frames)
{
    Pcm pcm;
    for (const QByteArray& frame : frames) {
        const QByteArray bytes = decoder.decodeFrame(frame);
        EXPECT_FALSE(bytes.isEmpty());
        for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
            pcm.push_back(qFromLittleEndian<qint16>(bytes.constData() + i));
    }
    return pcm;
}

// A voiced-speech stand-in: the harmonics of a gliding fundamental with falling strength, under a
// slow syllable envelope, plus a little noise; scaled so that its peak is `peak`.
Pcm speechLike(int count, double sampleRate, double f0, double peak, unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<double> x(size_t(count), 0.0);
    double phase = 0;
    for (int n = 0; n < count; ++n) {
        const double t = n / sampleRate;
        const double f = f0 * (1 + 0.08 * std::sin(2 * kPi * 0.7 * t));
        phase += 2 * kPi * f / sampleRate;
        double voiced = 0;
        for (int h = 1; h * f < 0.45 * sampleRate && h * f < 7000; ++h)
            voiced += std::sin(h * phase + 0.3 * h) / h;
        const double envelope = 0.55 - 0.45 * std::cos(2 * kPi * 3.1 * t);
        x[size_t(n)] = envelope * voiced + 0.003 * noise(rng);
    }
    const double top
        = std::max(*std::max_element(x.begin(), x.end()), -*std::min_element(x.begin(), x.end()));
    Pcm pcm;
    for (double v : x)
        pcm.push_back(static_cast<qint16>(std::lround(v * peak / top)));
    return pcm;
}

Pcm interleave(const Pcm& left, const Pcm& right)
{
    Pcm pcm;
    for (size_t i = 0; i < left.size(); ++i) {
        pcm.push_back(left[i]);
        pcm.push_back(right[i]);
    }
    return pcm;
}

// Signal-to-noise ratio of `test` against `reference` over the samples from `from`, every `step`-th.
double snrDb(const Pcm& reference, const Pcm& test, size_t from = 0, size_t step = 1)
{
    double signal = 0, noise = 0;
    for (size_t i = from; i < reference.size(); i += step) {
        signal += double(reference[i]) * reference[i];
        const double e = double(test[i]) - reference[i];
        noise += e * e;
    }
    return noise == 0 ? 200.0 : 10 * std::log10(signal / noise);
}

constexpr double kPeakMinus12Dbfs = 32768 * 0.2512;

// ---- Against libsbc -------------------------------------------------------------------------------

struct SpeechCase {
    const char* name;
    double f0;
    unsigned seed;
};

class SBCDecoderMsbcReferenceTest : public ::testing::TestWithParam<SpeechCase> { };

TEST_P(SBCDecoderMsbcReferenceTest, MatchesLibsbcOnSpeechToSixtyDecibels)
{
    const Pcm input = speechLike(16000 * 4, 16000, GetParam().f0, kPeakMinus12Dbfs, GetParam().seed);
    const Frames frames = LibSbc::msbc().encode(input);
    ASSERT_EQ(frames.size(), input.size() / kMsbcSamples);
    ASSERT_EQ(frames.front().size(), kMsbcFrameBytes);
    ASSERT_EQ(quint8(frames.front()[0]), 0xAD);

    const Pcm reference = LibSbc::msbc().decode(frames);
    SBCDecoder decoder;
    const Pcm ours = decodeAll(decoder, frames);
    ASSERT_EQ(ours.size(), reference.size());
    const auto [lo, hi] = std::minmax_element(reference.begin(), reference.end());
    EXPECT_LT(std::max(-int(*lo), int(*hi)), 16000) << "the reference should not clip";

    const double snr = snrDb(reference, ours);
    RecordProperty("snr_db", std::to_string(snr));
    std::printf("[ snr      ] mSBC %s: %.1f dB against libsbc\n", GetParam().name, snr);
    EXPECT_GE(snr, 60.0);
}

INSTANTIATE_TEST_SUITE_P(Voices, SBCDecoderMsbcReferenceTest,
    ::testing::Values(
        SpeechCase { "low", 110, 1 }, SpeechCase { "mid", 190, 2 }, SpeechCase { "high", 290, 3 }),
    [](const auto& info) { return std::string(info.param.name); });

struct SbcCase {
    const char* name;
    LibSbc::Config config;
    double sampleRate;
    int channels;
};

class SBCDecoderSbcReferenceTest : public ::testing::TestWithParam<SbcCase> { };

TEST_P(SBCDecoderSbcReferenceTest, MatchesLibsbcOnEveryChannel)
{
    const SbcCase& c = GetParam();
    const int count = int(c.sampleRate);
    const Pcm left = speechLike(count, c.sampleRate, 150, kPeakMinus12Dbfs, 11);
    const Pcm input
        = c.channels == 1 ? left : interleave(left, speechLike(count, c.sampleRate, 230, 6000, 12));
    const Frames frames = LibSbc::sbc(c.config).encode(input);
    ASSERT_FALSE(frames.empty());
    ASSERT_EQ(quint8(frames.front()[0]), 0x9C);

    const Pcm reference = LibSbc::sbc(c.config).decode(frames);
    SBCDecoder decoder;
    const Pcm ours = decodeAll(decoder, frames);
    ASSERT_EQ(ours.size(), reference.size()) << "every channel's samples come out";
    ASSERT_EQ(ours.size(), frames.size() * size_t(decoder.sbcContext().pcm_length) * size_t(c.channels));
    for (int ch = 0; ch < c.channels; ++ch) {
        const double snr = snrDb(reference, ours, size_t(ch), size_t(c.channels));
        std::printf("[ snr      ] SBC %s channel %d: %.1f dB against libsbc\n", c.name, ch, snr);
        EXPECT_GE(snr, 60.0) << "channel " << ch;
    }
}

INSTANTIATE_TEST_SUITE_P(Configurations, SBCDecoderSbcReferenceTest,
    ::testing::Values(
        SbcCase { "joint_44k_16x8_loudness",
            { SBC_FREQ_44100, SBC_BLK_16, SBC_SB_8, SBC_MODE_JOINT_STEREO, SBC_AM_LOUDNESS, 53 }, 44100, 2 },
        SbcCase { "stereo_48k_12x4_snr",
            { SBC_FREQ_48000, SBC_BLK_12, SBC_SB_4, SBC_MODE_STEREO, SBC_AM_SNR, 60 }, 48000, 2 },
        SbcCase { "dual_32k_8x8_loudness",
            { SBC_FREQ_32000, SBC_BLK_8, SBC_SB_8, SBC_MODE_DUAL_CHANNEL, SBC_AM_LOUDNESS, 35 }, 32000, 2 },
        SbcCase { "mono_16k_4x4_snr", { SBC_FREQ_16000, SBC_BLK_4, SBC_SB_4, SBC_MODE_MONO, SBC_AM_SNR, 30 },
            16000, 1 }),
    [](const auto& info) { return std::string(info.param.name); });

Pcm sine(int count, double frequency, double amplitude)
{
    Pcm pcm;
    for (int n = 0; n < count; ++n)
        pcm.push_back(
            static_cast<qint16>(std::lround(amplitude * std::sin(2 * kPi * frequency * n / 16000))));
    return pcm;
}

// Largest step between neighbouring samples across frame borders, after the filter bank has filled.
int largestBorderStep(const Pcm& pcm)
{
    int largest = 0;
    for (size_t n = 4 * kMsbcSamples; n < pcm.size(); n += kMsbcSamples)
        largest = std::max(largest, std::abs(int(pcm[n]) - int(pcm[n - 1])));
    return largest;
}

TEST(SBCDecoderContinuityTest, SineDecodedFrameByFrameHasNoSeamsAtFrameBorders)
{
    const double amplitude = 16000, frequency = 1000;
    const Frames frames = LibSbc::msbc().encode(sine(kMsbcSamples * 100, frequency, amplitude));
    const Pcm reference = LibSbc::msbc().decode(frames);
    SBCDecoder decoder;
    const Pcm ours = decodeAll(decoder, frames);
    ASSERT_EQ(ours.size(), reference.size());

    // The border samples match the reference as well as the rest do.
    EXPECT_GE(snrDb(reference, ours, 0, kMsbcSamples), 60.0);
    EXPECT_GE(snrDb(reference, ours, kMsbcSamples - 1, kMsbcSamples), 60.0);
    // And no border step exceeds the sine's steepest slope.
    const double steepest = amplitude * 2 * kPi * frequency / 16000;
    EXPECT_LE(largestBorderStep(ours), steepest * 1.05);

    // The measure does see seams: a decoder that starts clean on every frame has them.
    Pcm restarted;
    for (const QByteArray& frame : frames) {
        SBCDecoder fresh;
        const Pcm one = decodeAll(fresh, { frame });
        restarted.insert(restarted.end(), one.begin(), one.end());
    }
    EXPECT_GT(largestBorderStep(restarted), steepest * 1.5);
}

TEST(SBCDecoderSaturationTest, LoudSignalClipsInsteadOfWrapping)
{
    // A square wave near full scale: the codec's ringing overshoots its edges past 16 bits.
    Pcm input;
    for (int n = 0; n < kMsbcSamples * 60; ++n)
        input.push_back((n / 40) % 2 ? -32000 : 32000);
    const Frames frames = LibSbc::msbc().encode(input);
    const Pcm reference = LibSbc::msbc().decode(frames);
    SBCDecoder decoder;
    const Pcm ours = decodeAll(decoder, frames);
    ASSERT_EQ(ours.size(), reference.size());

    int clipped = 0, signFlips = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
        clipped += ours[i] == 32767 || ours[i] == -32768;
        if (std::abs(int(reference[i])) > 16000 && (ours[i] < 0) != (reference[i] < 0))
            ++signFlips;
    }
    EXPECT_GT(clipped, 0) << "the overshoot should reach the 16-bit limits";
    EXPECT_EQ(signFlips, 0);
    EXPECT_GE(snrDb(reference, ours), 60.0);
}

// ---- Frames, state and rejection ---------------------------------------------------------------

class SBCDecoderFrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        msbc = LibSbc::msbc().encode(speechLike(kMsbcSamples * 12, 16000, 160, 12000, 5));
        sbc = LibSbc::sbc(
            { SBC_FREQ_44100, SBC_BLK_16, SBC_SB_8, SBC_MODE_JOINT_STEREO, SBC_AM_LOUDNESS, 53 })
                  .encode(speechLike(128 * 12, 44100, 160, 12000, 6));
    }

    static QByteArray contextBytes(const SBCDecoder& decoder)
    {
        return QByteArray(reinterpret_cast<const char*>(&decoder.sbcContext()), sizeof(SbcDecoderContext));
    }

    Frames msbc, sbc;
};

TEST_F(SBCDecoderFrameTest, MsbcFrameInItsSlotGivesOneHundredTwentySamples)
{
    SBCDecoder decoder;
    const QByteArray slot = msbc[0] + QByteArray(1, '\x5A'); // 58-byte slot, one byte of padding
    EXPECT_EQ(decoder.decodeFrame(slot).size(), 240);
    const SbcDecoderContext& context = decoder.sbcContext();
    EXPECT_EQ(context.frame.blocks, 15);
    EXPECT_EQ(context.frame.subbands, 8);
    EXPECT_EQ(context.frame.bitpool, 26);
    EXPECT_EQ(context.num_channels, 1);
    EXPECT_EQ(context.pcm_length, 120);
    EXPECT_EQ(context.sample_rate, 16000);
}

TEST_F(SBCDecoderFrameTest, HistoryCarriesOverUntilTheDecoderStartsClean)
{
    SBCDecoder decoder;
    const QByteArray first = decoder.decodeFrame(msbc[3]);
    const QByteArray again = decoder.decodeFrame(msbc[3]);
    EXPECT_NE(first, again) << "the same frame twice meets a different history";

    decoder.initializeSBCDecoder();
    EXPECT_EQ(decoder.decodeFrame(msbc[3]), first);
    SBCDecoder fresh;
    fresh.decodeFrame(msbc[3]);
    EXPECT_EQ(contextBytes(decoder), contextBytes(fresh));
}

TEST_F(SBCDecoderFrameTest, MsbcHeaderWrittenOutDecodesLikeTheStandardOne)
{
    // AD with mono, 8 subbands, loudness, 16 kHz and bitpool 26 spelled out instead of 00 00.
    QByteArray spelled = msbc[0];
    spelled[1] = '\x01';
    spelled[2] = '\x1A';
    SBCDecoder standard, written;
    EXPECT_EQ(written.decodeFrame(spelled), standard.decodeFrame(msbc[0]));
}

TEST_F(SBCDecoderFrameTest, OutputThatCannotTakeTheFrameIsRefused)
{
    SBCDecoder decoder;
    const QByteArray before = contextBytes(decoder);
    qint16 pcm[kMsbcSamples - 1];
    std::fill(std::begin(pcm), std::end(pcm), qint16(0x5555));
    qsizetype samples = -1;
    EXPECT_EQ(decoder.decodeFrame(reinterpret_cast<const uchar*>(msbc[0].constData()), msbc[0].size(), pcm,
                  kMsbcSamples - 1, samples),
        SBCDecoder::Status::NoRoom);
    EXPECT_EQ(samples, 0);
    EXPECT_TRUE(std::all_of(std::begin(pcm), std::end(pcm), [](qint16 s) { return s == 0x5555; }));
    EXPECT_EQ(contextBytes(decoder), before);
}

struct BadFrame {
    const char* name;
    SBCDecoder::Status status;
    QByteArray (*make)(const QByteArray& msbc, const QByteArray& sbc);
};

QByteArray withByte(QByteArray frame, int index, uchar value)
{
    frame[index] = char(value);
    return frame;
}

const BadFrame kBadFrames[] = {
    { "empty", SBCDecoder::Status::TooShort,
        [](const QByteArray&, const QByteArray&) { return QByteArray(); } },
    { "sync_only", SBCDecoder::Status::TooShort,
        [](const QByteArray& m, const QByteArray&) { return m.left(1); } },
    { "header_cut", SBCDecoder::Status::TooShort,
        [](const QByteArray& m, const QByteArray&) { return m.left(3); } },
    { "msbc_ten_bytes", SBCDecoder::Status::TooShort,
        [](const QByteArray& m, const QByteArray&) { return m.left(10); } },
    { "msbc_one_byte_short", SBCDecoder::Status::TooShort,
        [](const QByteArray& m, const QByteArray&) { return m.left(m.size() - 1); } },
    { "sbc_one_byte_short", SBCDecoder::Status::TooShort,
        [](const QByteArray&, const QByteArray& s) { return s.left(s.size() - 1); } },
    { "sync_00", SBCDecoder::Status::BadSync,
        [](const QByteArray& m, const QByteArray&) { return withByte(m, 0, 0x00); } },
    { "sync_9d_packet_marker", SBCDecoder::Status::BadSync,
        [](const QByteArray& m, const QByteArray&) { return withByte(m, 0, 0x9D); } },
    { "sync_only_9d", SBCDecoder::Status::BadSync,
        [](const QByteArray&, const QByteArray&) { return QByteArray("\x9d"); } },
    { "sbc_bitpool_0", SBCDecoder::Status::BadBitpool,
        [](const QByteArray&, const QByteArray& s) { return withByte(s, 2, 0); } },
    { "sbc_bitpool_1", SBCDecoder::Status::BadBitpool,
        [](const QByteArray&, const QByteArray& s) { return withByte(s, 2, 1); } },
    { "sbc_mono_8_subbands_bitpool_129", SBCDecoder::Status::BadBitpool,
        [](const QByteArray&, const QByteArray& s) {
            // 44.1 kHz, 16 blocks, mono, loudness, 8 subbands
            return withByte(withByte(s + QByteArray(1200, '\0'), 1, 0xB1), 2, 129);
        } },
    { "sbc_stereo_4_subbands_bitpool_129", SBCDecoder::Status::BadBitpool,
        [](const QByteArray&, const QByteArray& s) {
            return withByte(withByte(s + QByteArray(1200, '\0'), 1, 0xB8), 2, 129);
        } },
    { "msbc_spelled_out_bitpool_200", SBCDecoder::Status::BadBitpool,
        [](const QByteArray& m, const QByteArray&) {
            return withByte(withByte(m + QByteArray(1200, '\0'), 1, 0x01), 2, 200);
        } },
};

class SBCDecoderBadFrameTest : public SBCDecoderFrameTest, public ::testing::WithParamInterface<BadFrame> { };

TEST_P(SBCDecoderBadFrameTest, IsRejectedWithoutTouchingOutputOrState)
{
    SBCDecoder decoder, twin;
    for (size_t i = 0; i < 3; ++i) {
        decoder.decodeFrame(msbc[i]);
        twin.decodeFrame(msbc[i]);
    }
    const QByteArray bad = GetParam().make(msbc[3], sbc[3]);
    const QByteArray before = contextBytes(decoder);

    // Exactly as many bytes as given, on the heap, so that the address sanitizer sees any overread.
    const auto exact = std::make_unique<uchar[]>(size_t(std::max<qsizetype>(bad.size(), 1)));
    std::memcpy(exact.get(), bad.constData(), size_t(bad.size()));
    qint16 pcm[SBCDecoder::kMaxSamples];
    std::fill(std::begin(pcm), std::end(pcm), qint16(0x5555));
    qsizetype samples = -1;
    EXPECT_EQ(decoder.decodeFrame(exact.get(), bad.size(), pcm, SBCDecoder::kMaxSamples, samples),
        GetParam().status);
    EXPECT_EQ(samples, 0);
    EXPECT_TRUE(std::all_of(std::begin(pcm), std::end(pcm), [](qint16 s) { return s == 0x5555; }));
    EXPECT_TRUE(decoder.decodeFrame(bad).isEmpty());
    EXPECT_EQ(contextBytes(decoder), before);

    // The stream goes on as if the bad frame had never come.
    for (size_t i = 3; i < msbc.size(); ++i)
        EXPECT_EQ(decoder.decodeFrame(msbc[i]), twin.decodeFrame(msbc[i])) << "frame " << i;
}

INSTANTIATE_TEST_SUITE_P(Table, SBCDecoderBadFrameTest, ::testing::ValuesIn(kBadFrames),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SBCDecoderGarbageTest, RandomBytesNeverReadOutsideTheFrame)
{
    // Random headers over random payloads: every frame either decodes to in-range samples or is
    // rejected; the sanitizers watch the reads.
    std::mt19937 rng(7);
    SBCDecoder decoder;
    int decoded = 0;
    for (int round = 0; round < 4000; ++round) {
        const size_t size = std::uniform_int_distribution<size_t>(0, 600)(rng);
        const auto bytes = std::make_unique<uchar[]>(std::max<size_t>(size, 1));
        for (size_t i = 0; i < size; ++i)
            bytes[i] = uchar(rng());
        if (size > 0 && round % 4 != 3)
            bytes[0] = round % 2 ? 0x9C : 0xAD;
        qint16 pcm[SBCDecoder::kMaxSamples];
        qsizetype samples = 0;
        if (decoder.decodeFrame(bytes.get(), qsizetype(size), pcm, SBCDecoder::kMaxSamples, samples)
            == SBCDecoder::Status::Decoded) {
            ++decoded;
            EXPECT_EQ(samples, decoder.sbcContext().pcm_length * decoder.sbcContext().num_channels);
        }
    }
    EXPECT_GT(decoded, 500);
}

} // namespace
