// Audience evaluation at bundling: 50 audience definitions (event filters
// with string and number parameter tests, dynamic, sequence and plain ones,
// and property filters) evaluated over a bundle of 1,000 events and a user
// property through the engine's evaluator, one call per event as the
// bundling pass makes them, then the results handed to the bundle (one
// transaction for the bundle; each bundle of a run has later events than
// the one before). Reported
// per event, against the per-event cost of storing one event as a raw event
// through the same database (one transaction per event: the metadata row,
// the trim to the limit, the insert), and against the engine's whole
// pipeline (an event logged through the public entry until it is a stored
// raw event), both measured in the same run. All figures are wall-clock
// time (the engine works on its own thread).
#include "BestRunReporter.h"
#include "EngineSetupBench.h"
#include "analytics/audience/APMAudience.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMHelpers.h"
#include "analytics/base/APMValue.h"
#include "analytics/engine/APMAudienceBundleEvaluator.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMEventAggregates.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/wire/APMPBAudience.h"
#include "analytics/wire/APMPBAudienceLeafFilterResult.h"
#include "analytics/wire/APMPBEventFilter.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBFilter.h"
#include "analytics/wire/APMPBMeasurementBundle.h"
#include "analytics/wire/APMPBNumberFilter.h"
#include "analytics/wire/APMPBPropertyFilter.h"
#include "analytics/wire/APMPBStringFilter.h"
#include "analytics/wire/APMPBUserAttribute.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kDefinitions = 50;
constexpr int kEventsPerBundle = 1000;
constexpr int kEventNames = 10;
constexpr int kBundlesPerRun = 3;
constexpr int kInsertsPerRun = 3000;
constexpr int kRounds = 5;
const char* const kAudience = "BM_AudienceEvaluationPerBundle";
const char* const kInsert = "BM_RawEventInsert";
const char* const kPipeline = "BM_EnginePipeline";

QString eventName(int i)
{
    return QStringLiteral("bench_event_%1").arg(i % kEventNames);
}

std::unique_ptr<APMPBFilter> parameterFilter(int i)
{
    auto filter = APMPBFilter::initWithMessageInfo();
    if (i % 2 == 0) {
        auto number = APMPBNumberFilter::initWithMessageInfo();
        APMPBSetInt32Field(number.get(), 0, i % 4 == 0 ? 2 : 4); // greater than, between
        APMPBSetStringField(number.get(), 2, QStringLiteral("%1.5").arg(i));
        APMPBSetStringField(number.get(), 3, QStringLiteral("%1").arg(i));
        APMPBSetStringField(number.get(), 4, QStringLiteral("%1").arg(i * 10));
        APMPBSetMessageField(filter.get(), 1, number.get());
        APMPBSetStringField(filter.get(), 3, QStringLiteral("value"));
    } else {
        auto string = APMPBStringFilter::initWithMessageInfo();
        APMPBSetInt32Field(string.get(), 0, i % 3 == 0 ? 1 : 4); // regular expression, contains
        APMPBSetStringField(string.get(), 1, i % 3 == 0 ? QStringLiteral("^item-[0-9]+7$") : QStringLiteral("m-1"));
        APMPBSetMessageField(filter.get(), 0, string.get());
        APMPBSetStringField(filter.get(), 3, QStringLiteral("item"));
    }
    return filter;
}

std::vector<std::unique_ptr<APMPBAudience>> definitions()
{
    std::vector<std::unique_ptr<APMPBAudience>> audiences;
    for (int i = 0; i < kDefinitions; ++i) {
        auto audience = APMPBAudience::initWithMessageInfo();
        APMPBSetInt32Field(audience.get(), 0, 1000 + i);
        std::vector<std::unique_ptr<APMPBEventFilter>> events;
        for (int f = 0; f < 2; ++f) {
            auto filter = APMPBEventFilter::initWithMessageInfo();
            APMPBSetInt32Field(filter.get(), 0, f);
            APMPBSetStringField(filter.get(), 1, eventName(i + f * 3));
            std::vector<std::unique_ptr<APMPBFilter>> parameters;
            parameters.push_back(parameterFilter(i + f));
            APMPBSetArrayField(filter.get(), 2, parameters);
            APMPBSetBoolField(filter.get(), 5 + (i % 3), i % 4 != 3); // dynamic, sequence or session scoped
            events.push_back(std::move(filter));
        }
        APMPBSetArrayField(audience.get(), 2, events);
        if (i % 5 == 0) {
            auto property = APMPBPropertyFilter::initWithMessageInfo();
            APMPBSetInt32Field(property.get(), 0, 2);
            APMPBSetStringField(property.get(), 1, QStringLiteral("tier"));
            auto value = APMPBFilter::initWithMessageInfo();
            auto string = APMPBStringFilter::initWithMessageInfo();
            APMPBSetInt32Field(string.get(), 0, 5);
            APMPBSetStringField(string.get(), 1, QStringLiteral("gold"));
            APMPBSetMessageField(value.get(), 0, string.get());
            APMPBSetMessageField(property.get(), 2, value.get());
            std::vector<std::unique_ptr<APMPBPropertyFilter>> properties;
            properties.push_back(std::move(property));
            APMPBSetArrayField(audience.get(), 1, properties);
        }
        audiences.push_back(std::move(audience));
    }
    return audiences;
}

// The events of one bundle of a run; each bundle's events come after the
// previous bundle's, as logged events do (a time earlier than the one a
// filter already holds is logged as a warning, which logged events never
// cause).
std::vector<APMEvent> bundleEvents(int bundle)
{
    std::vector<APMEvent> list;
    for (int i = 0; i < kEventsPerBundle; ++i) {
        const QVariantMap parameters { { QStringLiteral("value"), i % 97 },
            { QStringLiteral("item"), QStringLiteral("item-%1").arg(i) },
            { QStringLiteral("_sc"), QStringLiteral("SettingsPage") } };
        list.push_back(*APMEvent::initWithOrigin(QStringLiteral("app"), false, eventName(i),
            1'700'000'000.0 + (bundle * kEventsPerBundle + i) * 0.5, 0, parameters, EventParameterLimits()));
    }
    return list;
}

QString benchFolder()
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    return shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
}

struct Fixture {
    QTemporaryDir dir { benchFolder() + QStringLiteral("/audience_evaluation-XXXXXX") };
    std::unique_ptr<APMDatabase> database
        = APMDatabase::initWithDatabasePath(dir.filePath(APMDatabase::kDatabaseName), nullptr, nullptr);
};

void BM_AudienceEvaluationPerBundle(benchmark::State& state)
{
    Fixture fixture;
    if (!fixture.database) {
        state.SkipWithError("cannot open the database");
        return;
    }
    APMDatabase& database = *fixture.database;
    APMAudienceBundleEvaluator audience(std::make_unique<APMAudience>(database));
    if (!audience.updateAudiences(definitions())) {
        state.SkipWithError("cannot store the definitions");
        return;
    }
    std::vector<APMEventAggregates> aggregates;
    for (int i = 0; i < kEventNames; ++i)
        aggregates.push_back(*APMEventAggregates::initWithName(eventName(i), 10, 0, 2, 0));
    const auto tier = APMUserAttribute::initWithOrigin(
        QStringLiteral("app"), QStringLiteral("tier"), *APMValue::initWithString(QStringLiteral("gold")), 0)
                          ->protoUserAttribute();
    std::vector<std::vector<APMEvent>> bundles;
    for (int i = 0; i < kBundlesPerRun; ++i)
        bundles.push_back(bundleEvents(i));
    size_t next = 0;
    for (auto _ : state) {
        const std::vector<APMEvent>& events = bundles[next++ % bundles.size()];
        auto bundle = APMPBMeasurementBundle::initWithMessageInfo();
        const bool done = database.performTransaction([&] {
            audience.beginBundle();
            for (size_t i = 0; i < events.size(); ++i) {
                if (!audience.evaluateFiltersForEvent(events[i], aggregates[i % kEventNames]))
                    return false;
            }
            if (!audience.evaluateFiltersForUserProperty(*tier, events.back().timestamp()))
                return false;
            auto results = audience.resultsForBundling();
            if (!results)
                return false;
            APMPBSetArrayField(bundle.get(), 28, *results);
            return true;
        });
        if (!done) {
            state.SkipWithError("evaluation failed");
            return;
        }
        benchmark::DoNotOptimize(bundle);
    }
    state.SetItemsProcessed(state.iterations() * kEventsPerBundle);
}

void BM_RawEventInsert(benchmark::State& state)
{
    Fixture fixture;
    if (!fixture.database) {
        state.SkipWithError("cannot open the database");
        return;
    }
    APMDatabase& database = *fixture.database;
    auto metadata = APMPBMeasurementBundle::initWithMessageInfo();
    APMPBSetStringField(metadata.get(), 8, QStringLiteral("linux"));
    APMPBSetStringField(metadata.get(), 14, QStringLiteral("1:1234567890:linux:0a1b2c3d"));
    const QByteArray metadataBytes = metadata->protoBuffer().value_or(QByteArray());
    const qint64 fingerprint = apm_64LSBMD5(metadataBytes);
    const std::vector<APMEvent> events = bundleEvents(0);
    size_t next = 0;
    for (auto _ : state) {
        const APMEvent& event = events[next++ % events.size()];
        const bool stored = database.performTransaction([&] {
            return database.insertIfNotExistsRawEventMetadataEncoding(metadataBytes, fingerprint, nullptr)
                && database.deleteRawEventsOverAbsoluteLimit(nullptr).has_value()
                && database.insertRawEvent(event, fingerprint, false, nullptr);
        });
        if (!stored) {
            state.SkipWithError("insert failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("PRAVIK_HOME", home.path().toUtf8());
    QCoreApplication app(argc, argv);
    for (int round = 0; round < kRounds; ++round) {
        benchmark::RegisterBenchmark(kAudience, BM_AudienceEvaluationPerBundle)
            ->Iterations(kBundlesPerRun)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(kInsert, BM_RawEventInsert)
            ->Iterations(kInsertsPerRun)
            ->UseRealTime()
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(kPipeline, engine_setup_bench::BM_EngineLogEvents)
            ->Iterations(kInsertsPerRun)
            ->UseRealTime()
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    BestRunReporter reporter(BestRunReporter::Time::Wall);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto audience = reporter.bestSeconds.find(kAudience);
    const auto insert = reporter.bestSeconds.find(kInsert);
    if (audience == reporter.bestSeconds.end() || insert == reporter.bestSeconds.end())
        return 0;
    const double perEvent = audience->second / kEventsPerBundle;
    std::printf("audience evaluation, %d definitions over %d events: %.2f us per event\n", kDefinitions,
        kEventsPerBundle, perEvent * 1e6);
    std::printf("raw-event insert: %.2f us per event\n", insert->second * 1e6);
    std::printf("ratio audience evaluation/raw-event insert per event: %.2f\n", perEvent / insert->second);
    if (const auto pipeline = reporter.bestSeconds.find(kPipeline); pipeline != reporter.bestSeconds.end()) {
        std::printf("engine pipeline, logged to stored raw event: %.2f us per event\n", pipeline->second * 1e6);
        std::printf("ratio audience evaluation/engine pipeline per event: %.2f (goal: 0.30 or below)\n",
            perEvent / pipeline->second);
    }
    return 0;
}
