// From the start of a capture to the capture window being shown and painted
// on a 3840 x 2160 screen, against a bare XGetImage of the same screen
// measured in the same run. Run under a virtual X server of that size:
//   xvfb-run -a -s "-screen 0 3840x2160x24" build/bench/capture_start_bench
#include "core/MMUserInfo.h"
#include "platform/NotificationCenter.h"
#include "platform/NullWindowList.h"
#include "platform/Preferences.h"
#include "platform/QtPasteboard.h"
#include "platform/X11ScreenGrabber.h"
#include "translate/RCSnipWindowController.h"
#include "translate/SnipManager.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QTemporaryDir>
#include <QWindow>

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <string>

namespace {

constexpr double kGoalRatio = 1.5;

// Console output as usual, plus the fastest repetition of each benchmark in
// wall-clock seconds: most of the work is the X server's, in another process.
class CaptureBenchReporter final : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred)
                continue;
            const double seconds
                = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            auto [it, inserted] = bestSeconds.try_emplace(run.run_name.function_name, seconds);
            if (!inserted)
                it->second = std::min(it->second, seconds);
        }
    }
    std::map<std::string, double> bestSeconds;
};

std::unique_ptr<platform::X11ScreenGrabber>& captureBenchGrabber()
{
    static std::unique_ptr<platform::X11ScreenGrabber> grabber = platform::X11ScreenGrabber::open();
    return grabber;
}

void BM_CaptureStart(benchmark::State& state)
{
    QTemporaryDir dir;
    platform::Preferences prefs(dir.filePath(QStringLiteral("defaults.plist")));
    MMUserInfo user(prefs);
    platform::NullWindowList windows;
    platform::NotificationCenter center;
    platform::QtPasteboard pasteboard;
    SnipManager manager(*captureBenchGrabber(), windows, center, pasteboard, user);
    for (auto _ : state) {
        manager.startCapture();
        // Ready: every capture window is mapped and has painted.
        for (RCSnipWindowController* c : manager.windowControllers()) {
            QWindow* window = c->window()->windowHandle();
            while (!window || !window->isExposed()) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
                window = c->window()->windowHandle();
            }
            c->window()->repaint();
        }
        state.PauseTiming();
        manager.endCapture({});
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_CaptureStart)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(5);

// The reference: the same screen read once with XGetImage.
void BM_BareGrab(benchmark::State& state)
{
    const QRect screen(QPoint(0, 0), QGuiApplication::primaryScreen()->size());
    for (auto _ : state)
        benchmark::DoNotOptimize(captureBenchGrabber()->grab(screen));
}
BENCHMARK(BM_BareGrab)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(5);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (!captureBenchGrabber()) {
        std::fprintf(stderr, "needs an X server\n");
        return 1;
    }
    const QSize size = QGuiApplication::primaryScreen()->size();
    std::printf("screen %dx%d\n", size.width(), size.height());
    CaptureBenchReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double ours = reporter.bestSeconds["BM_CaptureStart"];
    const double bare = reporter.bestSeconds["BM_BareGrab"];
    if (ours <= 0 || bare <= 0)
        return 1;
    std::printf("capture start %.1f ms, bare grab %.1f ms\n", ours * 1e3, bare * 1e3);
    std::printf("capture start against a bare grab: ratio %.2f (goal at most %.1f): %s\n", ours / bare,
        kGoalRatio, ours / bare <= kGoalRatio ? "met" : "not met");
    return 0;
}
