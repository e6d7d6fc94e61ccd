#pragma once

// The measurement engine on virtual time with a real SQLite file and the fake
// collection server: what the engine tests share.
#include "analytics/base/APMPlatformIdentitySupport.h"
#include "analytics/base/APMAlarm.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMPersistentDictionary.h"
#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/config/APMInfoPlistFileUtil.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/engine/APMMeasurement.h"
#include "analytics/engine/APMUploadScheduler.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/store/APMDatabase.h"
#include "fakes/FakeCollectionServer.h"
#include "fakes/FakeConfigServer.h"
#include "fakes/FakeTrackingAuthorization.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/HttpClient.h"
#include "RemoteConfigTestSupport.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace engine_test {

using EngineAnswer = fakes::FakeCollectionServer::Answer;

inline const QString kEngineAppID = QStringLiteral("1:1234567890:linux:0a1b2c3d");

class EngineFixture : public ::testing::Test {
protected:
    static constexpr char kCrashModeVariable[] = "ENGINE_CRASH_MODE";
    static constexpr char kCrashDatabaseVariable[] = "ENGINE_CRASH_DATABASE";
    static constexpr char kCrashCollectionVariable[] = "ENGINE_CRASH_COLLECTION_URL";

    EngineFixture()
    {
        APMConsentSettingsUtil::clearAllSettings();
        persisted_ = newPersistedConfig();
    }
    ~EngineFixture() override
    {
        engine_.reset();
        identity_.reset();
        APMConsentSettingsUtil::clearAllSettings();
    }

    std::unique_ptr<APMPersistedConfig> newPersistedConfig()
    {
        APMPersistedConfig::Environment e;
        e.store = APMPersistentDictionary::inMemory();
        e.sharedUserDefaults = sharedDefaults_.get();
        e.queue = &flushQueue_;
        return APMPersistedConfig::initWithSuiteName(QStringLiteral("engine-test"), std::move(e));
    }

    std::unique_ptr<APMIdentity> newIdentity(const QString& appIDFromVMP = QString())
    {
        APMIdentity::Environment e = APMIdentity::defaultEnvironment();
        e.clock = &time_;
        e.identitySupport = &trackingSupport_;
        // The Vireo app ID comes from the service configuration file.
        e.serviceInfoDictionary = [appIDFromVMP] {
            return appIDFromVMP.isEmpty()
                ? std::optional<QVariantMap>()
                : std::optional<QVariantMap>(QVariantMap { { APMInfoPlistFileUtil::kVireoAppIDKey, appIDFromVMP } });
        };
        return APMIdentity::initWithPersistedConfig(persisted_.get(), std::move(e));
    }

    APMMeasurement::Environment environment()
    {
        APMMeasurement::Environment e;
        e.clock = &time_;
        e.timer = &time_;
        e.http = &platform::HttpClient::shared();
        e.collectionURL = server_.url();
        e.configURL = configServer_.url();
        e.databasePath = databasePath();
        e.persistedConfig = persisted_.get();
        e.identity = identity_.get();
        // The tests of the pipeline, bundling and upload count exactly what
        // they log; the lifecycle tests switch the start's reports on.
        e.reportsLifecycleAtStart = false;
        // What a consent-management platform wrote, and the TCF client's
        // record of it, kept across launches of one test.
        e.tcfUserDefaults = tcfDefaults_.get();
        e.tcfPrivateStore = [] {
            return APMPersistentDictionary::initWithFileName(QStringLiteral("tcf-record"));
        };
        return e;
    }

    QString databasePath() const { return dir_.filePath(APMDatabase::kDatabaseName); }

    // A crash test's child: this test binary again, running only the
    // disabled test `childTest`, which dies on purpose at the kill point
    // `mode`, over this test's database and collection server.
    void startCrashChild(QProcess& child, const QString& childTest, const QString& mode)
    {
        QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
        variables.insert(QString::fromLatin1(kCrashModeVariable), mode);
        variables.insert(QString::fromLatin1(kCrashDatabaseVariable), databasePath());
        variables.insert(QString::fromLatin1(kCrashCollectionVariable), server_.url().toString());
        child.setProcessEnvironment(variables);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
            { QStringLiteral("--gtest_also_run_disabled_tests"), QStringLiteral("--gtest_filter=") + childTest });
    }
    // The child's side: its kill point, and the engine's environment over
    // the parent's database and collection server.
    static QString crashChildMode() { return qEnvironmentVariable(kCrashModeVariable); }
    APMMeasurement::Environment crashChildEnvironment()
    {
        APMMeasurement::Environment e = environment();
        e.databasePath = qEnvironmentVariable(kCrashDatabaseVariable);
        e.collectionURL = QUrl(qEnvironmentVariable(kCrashCollectionVariable));
        return e;
    }

    // A launch: a new identity and engine over the stored state; the engine
    // has run its start-up when this returns.
    APMMeasurement& start(const QString& appIDFromVMP = QString(), bool enabled = true,
        APMMeasurement::Environment* custom = nullptr)
    {
        engine_.reset();
        identity_ = newIdentity(appIDFromVMP);
        APMMeasurement::Environment e = custom ? *custom : environment();
        e.identity = identity_.get();
        engine_ = APMMeasurement::initWithAppID(kEngineAppID, enabled, false, {}, std::move(e));
        drain();
        return *engine_;
    }

    // Adopts a configuration the way a fetch would (a configuration carries
    // at least one setting).
    bool configure(rcfg::ConfigBuilder& builder)
    {
        builder.setting(QStringLiteral("measurement.upload.interval"), QStringLiteral("3600000"));
        bool adopted = false;
        const auto config = builder.build();
        engine_->dispatchSyncOnWorkerQueue([&] { adopted = engine_->remoteConfigInstance()->updateMeasurementConfig(config); });
        return adopted;
    }

    void drain() { engine_->dispatchSyncOnWorkerQueue([] { }); }

    // Waits for the reply of a request in flight (the event loop delivers it).
    void settle()
    {
        ASSERT_TRUE(fakes::FakeHttpServer::waitUntil([this] {
            drain();
            return !engine_->uploads().isNetworkRequestPending();
        }));
        drain();
    }

    // Virtual time passes; alarms that fall due fire, and their uploads finish.
    void advance(double seconds)
    {
        drain();
        time_.advance(seconds);
        settle();
    }

    void logEvent(const QString& name, const QVariantMap& parameters = {}, bool isPublic = true)
    {
        engine_->logEventWithOrigin(QStringLiteral("app"), isPublic, name, parameters, time_.now(), true, false, false,
            nullptr, {});
        drain();
    }

    qint64 rowCount(const QString& table)
    {
        qint64 count = -1;
        engine_->dispatchSyncOnWorkerQueue([&] {
            count = engine_->database()->sqliteStore()->rowCountForTableWithName(table, nullptr).value_or(-1);
        });
        return count;
    }

    bool bundle()
    {
        bool made = false;
        engine_->dispatchSyncOnWorkerQueue([&] { made = engine_->bundleRawEvents(); });
        return made;
    }

    std::optional<double> alarmDue()
    {
        std::optional<double> due;
        engine_->dispatchSyncOnWorkerQueue([&] { due = engine_->alarm().scheduledTimestamp(); });
        return due;
    }

    QStringList acceptedEventNames() const
    {
        QStringList names;
        for (const auto& event : server_.acceptedEvents())
            names.append(event.name);
        return names;
    }

    fakes::TempHome home_;
    QTemporaryDir dir_;
    fakes::VirtualTime time_;
    fakes::VirtualTime flushQueue_;
    fakes::FakeTrackingAuthorization tracking_;
    APMPlatformIdentitySupport trackingSupport_ { tracking_ };
    std::unique_ptr<APMConfigStore> sharedDefaults_ = APMPersistentDictionary::inMemory();
    std::unique_ptr<APMConfigStore> tcfDefaults_ = APMPersistentDictionary::inMemory();
    std::unique_ptr<APMPersistedConfig> persisted_;
    fakes::FakeCollectionServer server_;
    // Answers 404 (no configuration) unless a test sets another answer.
    fakes::FakeConfigServer configServer_ { kEngineAppID, QString::number(APMMeasurement::kAppMetricsLibraryVersion) };
    std::unique_ptr<APMIdentity> identity_;
    std::unique_ptr<APMMeasurement> engine_;
};

} // namespace engine_test
