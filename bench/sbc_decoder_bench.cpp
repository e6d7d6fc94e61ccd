// The mSBC decoder against libsbc's decoder on the same frames, in one process. Prints our time per
// frame and the ratio of ours to libsbc's.
#include "device/SBCDecoder.h"

#include <QByteArray>

#include <algorithm>
#include <array>
#include "BestRunReporter.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>
#include <random>
#include <sbc/sbc.h>
#include <string>
#include <vector>

namespace {

constexpr int kSamplesPerFrame = 120;
constexpr int kFrameBytes = 57;
constexpr int kFrames = 400; // three seconds of speech
const char* const kOurs = "BM_SBCDecoder";
const char* const kLibsbc = "BM_Libsbc";

using Frame = std::array<uchar, kFrameBytes>;

// Speech-like test audio (harmonics of a gliding fundamental under a syllable envelope, a little
// noise) at about -12 dBFS, encoded by libsbc's mSBC encoder.
const std::vector<Frame>& frames()
{
    static const std::vector<Frame> encoded = [] {
        std::mt19937 rng(1);
        std::normal_distribution<double> noise(0.0, 1.0);
        std::vector<qint16> pcm;
        double phase = 0;
        for (int n = 0; n < kFrames * kSamplesPerFrame; ++n) {
            const double t = n / 16000.0;
            const double f = 150 * (1 + 0.08 * std::sin(2 * std::numbers::pi * 0.7 * t));
            phase += 2 * std::numbers::pi * f / 16000;
            double voiced = 0;
            for (int h = 1; h * f < 7000; ++h)
                voiced += std::sin(h * phase + 0.3 * h) / h;
            const double envelope = 0.55 - 0.45 * std::cos(2 * std::numbers::pi * 3.1 * t);
            pcm.push_back(static_cast<qint16>(std::lround(3000 * envelope * voiced + 10 * noise(rng))));
        }
        sbc_t encoder;
        sbc_init_msbc(&encoder, 0);
        encoder.endian = SBC_LE;
        std::vector<Frame> out(kFrames);
        for (int i = 0; i < kFrames; ++i) {
            ssize_t written = 0;
            sbc_encode(&encoder, pcm.data() + i * kSamplesPerFrame, kSamplesPerFrame * sizeof(qint16),
                out[size_t(i)].data(), kFrameBytes, &written);
        }
        sbc_finish(&encoder);
        return out;
    }();
    return encoded;
}

void BM_SBCDecoder(benchmark::State& state)
{
    const std::vector<Frame>& input = frames();
    SBCDecoder decoder;
    qint16 pcm[SBCDecoder::kMaxSamples];
    for (auto _ : state) {
        for (const Frame& frame : input) {
            qsizetype samples = 0;
            decoder.decodeFrame(frame.data(), kFrameBytes, pcm, SBCDecoder::kMaxSamples, samples);
            benchmark::DoNotOptimize(pcm);
        }
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_SBCDecoder)->Unit(benchmark::kMicrosecond)->Repetitions(5);

// What the device links call: the same decoding, returning the samples as a QByteArray.
void BM_SBCDecoderQByteArray(benchmark::State& state)
{
    std::vector<QByteArray> input;
    for (const Frame& frame : frames())
        input.emplace_back(reinterpret_cast<const char*>(frame.data()), kFrameBytes);
    SBCDecoder decoder;
    for (auto _ : state) {
        for (const QByteArray& frame : input)
            benchmark::DoNotOptimize(decoder.decodeFrame(frame));
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_SBCDecoderQByteArray)->Unit(benchmark::kMicrosecond)->Repetitions(5);

void BM_Libsbc(benchmark::State& state)
{
    const std::vector<Frame>& input = frames();
    sbc_t decoder;
    sbc_init_msbc(&decoder, 0);
    decoder.endian = SBC_LE;
    qint16 pcm[SBCDecoder::kMaxSamples];
    for (auto _ : state) {
        for (const Frame& frame : input) {
            size_t written = 0;
            sbc_decode(&decoder, frame.data(), kFrameBytes, pcm, sizeof pcm, &written);
            benchmark::DoNotOptimize(pcm);
        }
    }
    sbc_finish(&decoder);
    state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_Libsbc)->Unit(benchmark::kMicrosecond)->Repetitions(5);


} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    BestRunReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto ours = reporter.bestSeconds.find(kOurs);
    const auto libsbc = reporter.bestSeconds.find(kLibsbc);
    if (ours == reporter.bestSeconds.end() || libsbc == reporter.bestSeconds.end())
        return 0; // a filter left one of the pair out
    std::printf("ours: %.1f ns/frame, libsbc: %.1f ns/frame (CPU time, fastest of the repetitions)\n",
        ours->second * 1e9 / kFrames, libsbc->second * 1e9 / kFrames);
    std::printf("ratio ours/libsbc: %.2f\n", ours->second / libsbc->second);
    return 0;
}
