// The engine's service hooks: internal events of its own components, the
// network check before a request, the flush where it stops working for now,
// the application's wait for network work to end, the older library it
// switches off and the warning of a shared instance asked for too early.

#include "EngineTestFixture.h"
#include "ValidatorLogRecorder.h"

#include "analytics/base/APMBackwardCompatibilityUtil.h"
#include "analytics/base/APMClassRegistry.h"
#include "analytics/base/APMConfigStore.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMPersistentDictionary.h"
#include "analytics/engine/APMUploadScheduler.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMRawEventData.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/store/APMSqliteStore.h"

#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <memory>
#include <vector>

namespace engine_service_hooks_test {

using namespace engine_test;

// An in-memory store that counts how often it was flushed to disk.
class CountingStore final : public APMConfigStore {
public:
    QVariant objectForKey(const QString& key) override { return inner_->objectForKey(key); }
    bool setObject(const QVariant& value, const QString& key) override { return inner_->setObject(value, key); }
    void clearAllData() override { inner_->clearAllData(); }
    bool synchronize() override
    {
        ++synchronized;
        return inner_->synchronize();
    }

    std::atomic<int> synchronized { 0 };

private:
    std::unique_ptr<APMConfigStore> inner_ = APMPersistentDictionary::inMemory();
};

class OlderMeasurement final : public APMBackwardCompatibilityUtil::OlderMeasurement {
public:
    void setIsEnabled(bool enabled) override { calls.push_back(enabled); }
    std::vector<bool> calls;
};

class EngineServiceHooksTest : public EngineFixture {
protected:
    bool loggedCode(ValidatorLogRecorder& recorder, qint64 code)
    {
        for (const RecordedLine& line : recorder.lines()) {
            if (line.code == code)
                return true;
        }
        return false;
    }
};

} // namespace engine_service_hooks_test

using namespace engine_service_hooks_test;

// The session start and first open are internal events of the engine: they
// carry the default event parameters and the listeners hear of them.
TEST_F(EngineServiceHooksTest, InternalEventsOfTheEngineGetTheDefaultsAndAreAnnounced)
{
    persisted_->setDefaultEventParameters(QVariantMap { { QStringLiteral("theme"), QStringLiteral("dark") } });
    QStringList announced;
    QMutex mutex;
    APMMeasurement::Environment e = environment();
    e.reportsLifecycleAtStart = true;
    e.eventListeners = [&](const APMEvent& event) {
        QMutexLocker lock(&mutex);
        announced.append(event.name());
    };
    start(QString(), true, &e);
    drain();
    {
        QMutexLocker lock(&mutex);
        EXPECT_TRUE(announced.contains(QStringLiteral("_f")));
        EXPECT_TRUE(announced.contains(QStringLiteral("_s")));
    }
    QStringList withTheme;
    engine_->dispatchSyncOnWorkerQueue([&] {
        APMDatabase& database = *engine_->database();
        const auto rows = database.sqliteStore()->recordsForQuery(
            QStringLiteral("SELECT rowid, * FROM raw_events ORDER BY rowid"), {}, nullptr);
        for (const APMRow& row : rows.value_or(QList<APMRow>())) {
            const auto data = database.rawEventDataFromDictionary(row, nullptr);
            if (data && data->rawEvent().parameters().contains(QStringLiteral("theme")))
                withTheme.append(data->rawEvent().name());
        }
    });
    EXPECT_TRUE(withTheme.contains(QStringLiteral("_f")));
    EXPECT_TRUE(withTheme.contains(QStringLiteral("_s")));
}

// The engine's own flag says a request is pending, the network has none in
// flight: an inconsistency, reported and not sent into.
TEST_F(EngineServiceHooksTest, APendingRequestTheNetworkDoesNotKnowIsReported)
{
    start();
    ValidatorLogRecorder recorder;
    bool ready = true;
    engine_->dispatchSyncOnWorkerQueue([&] { ready = engine_->isNetworkReadyForRequest(); });
    EXPECT_TRUE(ready);
    EXPECT_FALSE(loggedCode(recorder, 23041));
    engine_->dispatchSyncOnWorkerQueue([&] {
        engine_->uploads().setIsNetworkRequestPending(true);
        ready = engine_->isNetworkReadyForRequest();
        engine_->uploads().setIsNetworkRequestPending(false);
    });
    EXPECT_FALSE(ready);
    EXPECT_TRUE(loggedCode(recorder, 23041));
}

// Where the schedule stops (nothing to upload, no network), the persisted
// state is flushed to disk.
TEST_F(EngineServiceHooksTest, StoppingTheScheduleFlushesThePersistedState)
{
    auto store = std::make_unique<CountingStore>();
    CountingStore* counted = store.get();
    APMPersistedConfig::Environment pe;
    pe.store = std::move(store);
    pe.sharedUserDefaults = sharedDefaults_.get();
    pe.queue = &flushQueue_;
    persisted_ = APMPersistedConfig::initWithSuiteName(QStringLiteral("engine-flush-test"), std::move(pe));
    start();
    const int afterStart = counted->synchronized.load();
    EXPECT_GE(afterStart, 1); // the start found nothing to upload
    engine_->dispatchSyncOnWorkerQueue([&] { engine_->updateSchedule(); });
    EXPECT_EQ(counted->synchronized.load(), afterStart + 1);
    // A current configuration: an upload that finds no bundles fetches none.
    rcfg::ConfigBuilder config(kEngineAppID);
    config.setting(QStringLiteral("measurement.config.cache_time"), QStringLiteral("86400000"));
    ASSERT_TRUE(configure(config));
    const int beforeUpload = counted->synchronized.load();
    engine_->dispatchSyncOnWorkerQueue([&] { engine_->uploadData(); });
    EXPECT_EQ(counted->synchronized.load(), beforeUpload + 1);
}

// The application waits for the library's network work: the completion comes
// once the upload in flight has been answered, and at once when none is.
TEST_F(EngineServiceHooksTest, BackgroundSessionEventsEndWithTheUploadInFlight)
{
    start();
    std::atomic<bool> idleDone { false };
    engine_->handleEventsForBackgroundURLSessionID(QStringLiteral("any"), [&] { idleDone = true; });
    EXPECT_TRUE(fakes::FakeHttpServer::waitUntil([&] { return idleDone.load(); }));

    logEvent(QStringLiteral("sent_event"));
    engine_->dispatchSyncOnWorkerQueue([&] { engine_->uploadData(); });
    ASSERT_TRUE(engine_->uploads().isNetworkRequestPending());
    std::atomic<bool> uploadDone { false };
    engine_->handleEventsForBackgroundURLSessionID(QStringLiteral("any"), [&] { uploadDone = true; });
    drain();
    EXPECT_FALSE(uploadDone.load()); // the reply has not been handled yet
    settle();
    EXPECT_TRUE(fakes::FakeHttpServer::waitUntil([&] { return uploadDone.load(); }));
    EXPECT_EQ(server_.requestCount(), 1);
}

TEST_F(EngineServiceHooksTest, AnOlderMeasurementLibraryIsSwitchedOffAtStart)
{
    auto older = std::make_shared<OlderMeasurement>();
    APMBackwardCompatibilityUtil::registerOlderMeasurement(older);
    ValidatorLogRecorder recorder;
    start();
    APMBackwardCompatibilityUtil::registerOlderMeasurement(nullptr);
    EXPECT_EQ(older->calls, std::vector<bool> { false });
    EXPECT_TRUE(loggedCode(recorder, 23210));
}

// With the public interface linked, asking for the engine before anything
// started it means the host never configured the platform registry.
TEST_F(EngineServiceHooksTest, TheSharedEngineAskedForBeforeAnyStartWarnsWhenTheInterfaceIsLinked)
{
    APMMeasurement::resetSharedInstance();
    {
        ValidatorLogRecorder recorder;
        EXPECT_EQ(APMMeasurement::sharedInstance(), nullptr);
        EXPECT_FALSE(loggedCode(recorder, 23147));
    }
    APMClassRegistry::registerClassName(APMIdentity::kBASAnalyticsClassName);
    {
        ValidatorLogRecorder recorder;
        EXPECT_EQ(APMMeasurement::sharedInstance(), nullptr);
        EXPECT_TRUE(loggedCode(recorder, 23147));
    }
    APMClassRegistry::unregisterClassName(APMIdentity::kBASAnalyticsClassName);
}
