#pragma once

// What the benchmarks that drive the whole engine share: an engine on a
// fresh database in the benchmark folder, logging the raw-event benchmark's
// events through its public entry, and the benchmark of that logging.
#include "RawEventBench.h"

#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMPlatformIdentitySupport.h"
#include "analytics/base/APMPersistentDictionary.h"
#include "analytics/engine/APMMeasurement.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/model/APMEventParameters.h"
#include "fakes/FakeCollectionServer.h"
#include "fakes/FakeTrackingAuthorization.h"
#include "fakes/VirtualTime.h"

#include <QTemporaryDir>
#include <QUrl>

#include <benchmark/benchmark.h>

#include <memory>

namespace engine_setup_bench {

using raw_event_bench::benchFolder;
using raw_event_bench::events;

// An engine on a fresh database, its alarms on a virtual clock that never
// moves (the benchmark drives uploads itself).
struct EngineSetup {
    explicit EngineSetup(const QUrl& collectionURL)
    {
        APMPersistedConfig::Environment config;
        config.store = APMPersistentDictionary::inMemory();
        config.sharedUserDefaults = sharedDefaults.get();
        config.queue = &flushQueue;
        persisted = APMPersistedConfig::initWithSuiteName(QStringLiteral("engine-bench"), std::move(config));
        APMIdentity::Environment identityEnvironment = APMIdentity::defaultEnvironment();
        identityEnvironment.identitySupport = &trackingSupport;
        identityEnvironment.serviceInfoDictionary = [] { return std::optional<QVariantMap>(); };
        identity = APMIdentity::initWithPersistedConfig(persisted.get(), std::move(identityEnvironment));
        APMMeasurement::Environment e;
        e.timer = &time;
        e.collectionURL = collectionURL;
        e.databasePath = dir.filePath(APMDatabase::kDatabaseName);
        e.persistedConfig = persisted.get();
        e.identity = identity.get();
        engine = APMMeasurement::initWithAppID(QStringLiteral("1:1234567890:linux:0a1b2c3d"), true, false, {}, e);
        drain();
    }
    void drain() { engine->dispatchSyncOnWorkerQueue([] { }); }
    void log(int index)
    {
        const APMEvent& event = events()[size_t(index) % events().size()];
        engine->logEventWithOrigin(QStringLiteral("auto"), false, event.name(),
            APMVariantMapFromParameters(event.parameters()), event.timestamp(), true, false, true, nullptr, {});
    }

    QTemporaryDir dir { benchFolder() + QStringLiteral("/engine_pipeline-XXXXXX") };
    fakes::VirtualTime time;
    fakes::VirtualTime flushQueue;
    fakes::FakeTrackingAuthorization tracking;
    APMPlatformIdentitySupport trackingSupport { tracking };
    std::unique_ptr<APMConfigStore> sharedDefaults = APMPersistentDictionary::inMemory();
    std::unique_ptr<APMPersistedConfig> persisted;
    std::unique_ptr<APMIdentity> identity;
    std::unique_ptr<APMMeasurement> engine;
};

inline void BM_EngineLogEvents(benchmark::State& state)
{
    // A configured collection address, as in use: the upload alarm is armed
    // (on the virtual clock, so it never fires here).
    fakes::FakeCollectionServer server;
    EngineSetup setup { server.url() };
    int logged = 0;
    for (auto _ : state) {
        setup.log(logged);
        // The last one waits until the worker has stored everything.
        if (++logged == int(state.max_iterations))
            setup.drain();
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace engine_setup_bench
