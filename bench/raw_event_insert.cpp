// Storing logged events as raw events through the measurement database's
// table operations, the way the engine does it (in one transaction per
// event: store the metadata unless it is stored, trim the raw events to
// their limit, insert the event), against a bare SQLite loop that inserts
// the same rows into the same schema with one prepared INSERT, one
// transaction per row. Prints both rates and the ratio.
#include "BestRunReporter.h"
#include "RawEventBench.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <cstdio>

namespace {

using namespace raw_event_bench;

constexpr int kEventsPerRun = 3000;
constexpr int kRounds = 7;
const char* const kOurs = "BM_TableOperations";
const char* const kBare = "BM_BareSqlite";

void BM_TableOperations(benchmark::State& state)
{
    Fixture fixture;
    auto database = fixture.open();
    if (!database) {
        state.SkipWithError("cannot open the database");
        return;
    }
    const auto bundle = metadata();
    const QByteArray metadataBytes = bundle->protoBuffer().value_or(QByteArray());
    const qint64 fingerprint = apm_64LSBMD5(metadataBytes);
    const std::vector<APMEvent>& input = events();
    size_t next = 0;
    for (auto _ : state) {
        const APMEvent& event = input[next++ % input.size()];
        APMError error;
        const bool stored = database->performTransaction([&] {
            return database->insertIfNotExistsRawEventMetadataEncoding(metadataBytes, fingerprint, &error)
                && database->deleteRawEventsOverAbsoluteLimit(&error).has_value()
                && database->insertRawEvent(event, fingerprint, false, &error);
        });
        if (!stored) {
            state.SkipWithError(qPrintable(error.description()));
            return;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

int main(int argc, char** argv)
{
    // The library's own files (monitor preferences) go to a folder of their own.
    QTemporaryDir home;
    qputenv("PRAVIK_HOME", home.path().toUtf8());
    // The two take turns, so that a change in the machine's load between
    // them does not decide the ratio.
    for (int round = 0; round < kRounds; ++round) {
        benchmark::RegisterBenchmark(kOurs, BM_TableOperations)
            ->Iterations(kEventsPerRun)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(kBare, BM_BareSqlite)
            ->Iterations(kEventsPerRun)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    BestRunReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto ours = reporter.bestSeconds.find(kOurs);
    const auto bare = reporter.bestSeconds.find(kBare);
    if (ours == reporter.bestSeconds.end() || bare == reporter.bestSeconds.end())
        return 0; // a filter left one of the pair out
    std::printf("databases in %s\n", qPrintable(benchFolder()));
    std::printf("table operations: %.0f events/s, bare sqlite3 loop: %.0f events/s (CPU time, fastest of %d "
                "rounds of %d events each)\n",
        1.0 / ours->second, 1.0 / bare->second, kRounds, kEventsPerRun);
    std::printf("ratio table operations/bare: %.2f (goal: at most 1.50)\n", ours->second / bare->second);
    return 0;
}
