// The measurement engine end to end, against the bare SQLite insert loop
// measured in the same run:
//  - events logged through the engine's public entry until they are stored
//    raw events (the whole pipeline, one transaction per event);
//  - 10,000 stored raw events bundled and uploaded as gzipped batches to the
//    fake collection server on 127.0.0.1.
// All figures are wall-clock time (the engine works on its own thread).
#include "BestRunReporter.h"
#include "EngineSetupBench.h"
#include "RawEventBench.h"

#include "analytics/engine/APMMeasurement.h"
#include "analytics/engine/APMUploadScheduler.h"
#include "fakes/FakeCollectionServer.h"
#include "platform/HttpClient.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>
#include <cstdio>

namespace {

using namespace raw_event_bench;
using engine_setup_bench::BM_EngineLogEvents;
using engine_setup_bench::EngineSetup;

constexpr int kEventsPerRun = 3000;
constexpr int kUploadEvents = 10000;
constexpr int kRounds = 5;
// Each figure's goal: time per event against the bare insert loop.
constexpr double kLoggingGoal = 1.5;
constexpr double kUploadGoal = 1.5;
const char* const kLogging = "BM_EngineLogEvents";
const char* const kUpload = "BM_EngineBundleAndUpload";
const char* const kBare = "BM_BareSqlite";

void BM_EngineBundleAndUpload(benchmark::State& state)
{
    fakes::FakeCollectionServer server;
    for (auto _ : state) {
        state.PauseTiming();
        EngineSetup setup { server.url() };
        for (int i = 0; i < kUploadEvents; ++i)
            setup.log(i);
        setup.drain();
        const int before = server.requestCount();
        state.ResumeTiming();
        setup.engine->dispatchSyncOnWorkerQueue([&] { setup.engine->uploadData(); });
        // A successful reply starts the next batch until nothing is left.
        const bool done = fakes::FakeHttpServer::waitUntil(
            [&] {
                bool idle = false;
                setup.engine->dispatchSyncOnWorkerQueue([&] {
                    idle = !setup.engine->uploads().isNetworkRequestPending()
                        && !setup.engine->uploads().hasDataToUpload();
                });
                return idle;
            },
            120000);
        state.PauseTiming();
        if (!done || server.requestCount() == before) {
            // Timing stays paused: resuming it after an error aborts the run.
            state.SkipWithError("the upload did not finish");
            break;
        }
        setup.engine.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kUploadEvents);
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("PRAVIK_HOME", home.path().toUtf8());
    QCoreApplication app(argc, argv);
    for (int round = 0; round < kRounds; ++round) {
        benchmark::RegisterBenchmark(kLogging, BM_EngineLogEvents)
            ->Iterations(kEventsPerRun)
            ->UseRealTime()
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(kBare, BM_BareSqlite)
            ->Iterations(kEventsPerRun)
            ->UseRealTime()
            ->Unit(benchmark::kMicrosecond);
    }
    for (int round = 0; round < 3; ++round) {
        benchmark::RegisterBenchmark(kUpload, BM_EngineBundleAndUpload)
            ->Iterations(1)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    BestRunReporter reporter(BestRunReporter::Time::Wall);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto bare = reporter.bestSeconds.find(kBare);
    if (bare == reporter.bestSeconds.end())
        return 0;
    std::printf("databases in %s\n", qPrintable(benchFolder()));
    std::printf("bare sqlite3 insert loop: %.0f events/s\n", 1.0 / bare->second);
    if (const auto logging = reporter.bestSeconds.find(kLogging); logging != reporter.bestSeconds.end()) {
        std::printf("engine, logged to stored raw event: %.0f events/s\n", 1.0 / logging->second);
        std::printf("ratio engine logging/bare insert: %.2f (goal: at most %.1f)\n", logging->second / bare->second,
            kLoggingGoal);
    }
    if (const auto upload = reporter.bestSeconds.find(kUpload); upload != reporter.bestSeconds.end()) {
        const double perEvent = upload->second / kUploadEvents; // one iteration handles them all
        std::printf("engine, %d raw events bundled and uploaded: %.0f events/s\n", kUploadEvents, 1.0 / perEvent);
        std::printf("ratio bundling and upload/bare insert (time per event): %.2f (goal: at most %.1f)\n",
            perEvent / bare->second, kUploadGoal);
    }
    return 0;
}
