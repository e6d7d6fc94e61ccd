// What an attached but silent mouse costs: the scripted mouse behind the real USB link, ten seconds
// of wall time with the event loop idle, as CPU per second (user + system, all threads of the
// process) and wake-ups per second (voluntary and involuntary context switches of the process).
// Measured in the same run: the same mouse read by a 4 ms poll on the main thread, and the event
// loop with nothing attached.
#include "BestRunReporter.h"
#include "core/MMDeviceInfo.h"
#include "core/MMwebconfig.h"
#include "device/DeviceAlertPresenter.h"
#include "device/RepeatingTimer.h"
#include "device/SBCDecoder.h"
#include "device/UWHidapiManager.h"
#include "fakes/FakeHidMouse.h"
#include "platform/HidDevice.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>

namespace {

constexpr int kIdleMs = 10'000;
constexpr int kSettleMs = 1'500; // the device-information exchange after the open, and its repeat stopping
constexpr double kGoalCpuPercent = 0.1;
constexpr double kGoalWakeupsPerSecond = 10;
const char* const kOurs = "BM_IdleLinkAttached";
const char* const kPoll = "BM_IdleFourMsPoll";
const char* const kNothing = "BM_IdleNothingAttached";

void runEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Sample {
    double cpuSeconds = 0;
    long switches = 0;
    double wallSeconds = 0;

    static Sample now()
    {
        rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        timespec wall {};
        clock_gettime(CLOCK_MONOTONIC, &wall);
        const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
        return { seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_nvcsw + usage.ru_nivcsw,
            double(wall.tv_sec) + double(wall.tv_nsec) / 1e9 };
    }
};

// Idles the event loop for the measured span and records the cost as counters.
void measureIdle(benchmark::State& state)
{
    for (auto _ : state) {
        const Sample before = Sample::now();
        runEventLoop(kIdleMs);
        const Sample after = Sample::now();
        const double wall = after.wallSeconds - before.wallSeconds;
        state.counters["cpu_pct"] = 100.0 * (after.cpuSeconds - before.cpuSeconds) / wall;
        state.counters["wakeups_per_s"] = double(after.switches - before.switches) / wall;
    }
}

class NoAlerts final : public DeviceAlertPresenter {
public:
    void presentAlert(const QString&, const QString&, const QStringList&, std::function<void(int)>) override
    {
    }
};

void BM_IdleLinkAttached(benchmark::State& state)
{
    QTemporaryDir dir;
    platform::Preferences prefs { dir.filePath(QStringLiteral("defaults.plist")) };
    MMwebconfig config { prefs };
    MMDeviceInfo device;
    platform::NotificationCenter center;
    NoAlerts alerts;
    SBCDecoder decoder;
    fakes::FakeHidMouse mouse;
    UWHidapiManager link { mouse, platform::MainQueue::shared(), device, config, center, alerts, decoder };
    link.hidRequestReadMouseInfoVid(fakes::FakeHidMouse::kVendorId, fakes::FakeHidMouse::kProductId, {});
    runEventLoop(kSettleMs);
    if (!link.hidConnected() || device.sn().isEmpty()) {
        state.SkipWithError("the mouse did not identify itself through the link");
        return;
    }
    measureIdle(state);
    link.hidRequestClose();
}
BENCHMARK(BM_IdleLinkAttached)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

// The reference: the same mouse read without waiting every 4 ms by a timer on the main thread.
void BM_IdleFourMsPoll(benchmark::State& state)
{
    fakes::FakeHidMouse mouse;
    const std::unique_ptr<platform::HidDevice> handle = mouse.open(fakes::FakeHidMouse::kVendorPath);
    RepeatingTimer poll { platform::MainQueue::shared() };
    uchar buffer[UWHidapiManager::kReadBufferSize];
    poll.start(0.004, [&] { benchmark::DoNotOptimize(handle->read(buffer, sizeof buffer, 0)); });
    runEventLoop(kSettleMs);
    measureIdle(state);
    poll.stop();
}
BENCHMARK(BM_IdleFourMsPoll)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

void BM_IdleNothingAttached(benchmark::State& state)
{
    measureIdle(state);
}
BENCHMARK(BM_IdleNothingAttached)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

// The best-run reporter, also keeping each run's idle counters.
class IdleReporter final : public BestRunReporter {
public:
    struct Figures {
        double cpuPercent = 0;
        double wakeupsPerSecond = 0;
    };

    void ReportRuns(const std::vector<Run>& runs) override
    {
        BestRunReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto cpu = run.counters.find("cpu_pct");
            const auto wakeups = run.counters.find("wakeups_per_s");
            if (run.error_occurred || cpu == run.counters.end() || wakeups == run.counters.end())
                continue;
            figures[run.run_name.function_name] = { cpu->second.value, wakeups->second.value };
        }
    }

    std::map<std::string, Figures> figures;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    IdleReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto print = [&](const char* name, const char* what) {
        const auto it = reporter.figures.find(name);
        if (it == reporter.figures.end())
            return;
        std::printf("%s: %.4f %% of one core, %.1f wake-ups/s\n", what, it->second.cpuPercent,
            it->second.wakeupsPerSecond);
    };
    print(kOurs, "attached mouse through the link, idle");
    print(kPoll, "the same mouse read by a 4 ms poll");
    print(kNothing, "nothing attached");

    const auto ours = reporter.figures.find(kOurs);
    const auto poll = reporter.figures.find(kPoll);
    if (ours == reporter.figures.end() || poll == reporter.figures.end())
        return 0; // a filter left one of the pair out
    const IdleReporter::Figures& o = ours->second;
    const IdleReporter::Figures& p = poll->second;
    const bool met = o.cpuPercent <= kGoalCpuPercent && o.wakeupsPerSecond < kGoalWakeupsPerSecond;
    std::printf("goal at most %.1f %% of one core and under %.0f wake-ups/s: %s\n", kGoalCpuPercent,
        kGoalWakeupsPerSecond, met ? "met" : "MISSED");
    std::printf("link against the 4 ms poll: CPU ratio %.3f, wake-up ratio %.3f\n",
        p.cpuPercent > 0 ? o.cpuPercent / p.cpuPercent : 0.0,
        p.wakeupsPerSecond > 0 ? o.wakeupsPerSecond / p.wakeupsPerSecond : 0.0);
    return 0;
}
