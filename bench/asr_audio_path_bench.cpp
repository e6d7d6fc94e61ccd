// The dictation audio path, from one USB audio report to one WebSocket frame: recognise the report as
// the link does, decode its mSBC frame, build the JSON frame with Base64 audio. Prints the CPU time
// per second of audio against its goal, and against the same path decoding with libsbc measured in
// the same run.
#include "device/DeviceReplyFrame.h"
#include "device/SBCDecoder.h"
#include "voice/mmXFYunRequestBuilder.h"

#include <QByteArray>

#include <algorithm>
#include "BestRunReporter.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <sbc/sbc.h>
#include <string>
#include <vector>

namespace {

constexpr int kSamplesPerFrame = 120; // 7.5 ms at 16 kHz
constexpr int kFrameBytes = 57;
constexpr int kSlotBytes = 58;
constexpr int kSlotOffset = 3;
constexpr int kReports = 400; // three seconds of speech
constexpr double kAudioSeconds = kReports * kSamplesPerFrame / 16000.0;
constexpr double kGoalMsPerAudioSecond = 0.3;
const char* const kOurs = "BM_AudioPath";
const char* const kReference = "BM_AudioPathLibsbc";

// Speech-like audio (harmonics of a gliding fundamental under a syllable envelope, a little noise),
// encoded by libsbc's mSBC encoder and packed one frame per report as the receiver sends it:
// 9D 01, a header byte, the 58-byte frame slot, padding to 64 bytes.
const std::vector<QByteArray>& reports()
{
    static const std::vector<QByteArray> packed = [] {
        std::mt19937 rng(1);
        std::normal_distribution<double> noise(0.0, 1.0);
        std::vector<qint16> pcm;
        double phase = 0;
        for (int n = 0; n < kReports * kSamplesPerFrame; ++n) {
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
        std::vector<QByteArray> out;
        for (int i = 0; i < kReports; ++i) {
            QByteArray report(64, '\0');
            report[0] = char(0x9D);
            report[1] = char(0x01);
            ssize_t written = 0;
            sbc_encode(&encoder, pcm.data() + i * kSamplesPerFrame, kSamplesPerFrame * sizeof(qint16),
                reinterpret_cast<uchar*>(report.data()) + kSlotOffset, kFrameBytes, &written);
            out.push_back(report);
        }
        sbc_finish(&encoder);
        return out;
    }();
    return packed;
}

void BM_AudioPath(benchmark::State& state)
{
    const std::vector<QByteArray>& input = reports();
    SBCDecoder decoder;
    qsizetype frameBytes = 0;
    for (auto _ : state) {
        for (const QByteArray& report : input) {
            if (DeviceReplyFrame::parse(report, DeviceLink::Usb).kind != DeviceReplyFrame::Kind::Audio) {
                state.SkipWithError("a report not recognised as audio");
                return;
            }
            const QByteArray pcm = decoder.decodeFrame(report.mid(kSlotOffset, kSlotBytes));
            const QByteArray frame = mmXFYunRequestBuilder::middleFrame(pcm);
            frameBytes = frame.size();
            benchmark::DoNotOptimize(frame.constData());
        }
    }
    state.counters["frame_bytes"] = double(frameBytes);
    state.SetItemsProcessed(state.iterations() * kReports);
}
BENCHMARK(BM_AudioPath)->Unit(benchmark::kMicrosecond)->Repetitions(5);

// The same path with libsbc's decoder in place of ours.
void BM_AudioPathLibsbc(benchmark::State& state)
{
    const std::vector<QByteArray>& input = reports();
    sbc_t decoder;
    sbc_init_msbc(&decoder, 0);
    decoder.endian = SBC_LE;
    for (auto _ : state) {
        for (const QByteArray& report : input) {
            if (DeviceReplyFrame::parse(report, DeviceLink::Usb).kind != DeviceReplyFrame::Kind::Audio) {
                state.SkipWithError("a report not recognised as audio");
                break;
            }
            QByteArray pcm(kSamplesPerFrame * 2, Qt::Uninitialized);
            size_t written = 0;
            sbc_decode(&decoder, reinterpret_cast<const uchar*>(report.constData()) + kSlotOffset, kSlotBytes,
                pcm.data(), size_t(pcm.size()), &written);
            const QByteArray frame = mmXFYunRequestBuilder::middleFrame(pcm);
            benchmark::DoNotOptimize(frame.constData());
        }
    }
    sbc_finish(&decoder);
    state.SetItemsProcessed(state.iterations() * kReports);
}
BENCHMARK(BM_AudioPathLibsbc)->Unit(benchmark::kMicrosecond)->Repetitions(5);


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
    const auto reference = reporter.bestSeconds.find(kReference);
    if (ours == reporter.bestSeconds.end() || reference == reporter.bestSeconds.end())
        return 0; // a filter left one of the pair out
    const double oursMs = ours->second * 1e3 / kAudioSeconds;
    const double referenceMs = reference->second * 1e3 / kAudioSeconds;
    std::printf("audio path, report to frame: %.3f ms CPU per second of audio (goal: at most %.1f ms, %s)\n",
        oursMs, kGoalMsPerAudioSecond, oursMs <= kGoalMsPerAudioSecond ? "met" : "MISSED");
    std::printf("the same path decoding with libsbc: %.3f ms CPU per second of audio (ratio %.2f)\n",
        referenceMs, oursMs / referenceMs);
    return 0;
}
