#pragma once

// The analytics front end on virtual time, over a real SQLite file and the
// fake collection server: what the front-end and public-interface tests share.
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMPersistentDictionary.h"
#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/config/APMInfoPlistFileUtil.h"
#include "analytics/engine/APMAnalytics.h"
#include "analytics/engine/APMMeasurement.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/model/APMEvent.h"
#include "analytics/store/APMDatabase.h"
#include "fakes/FakeCollectionServer.h"
#include "fakes/FakeHttpServer.h"
#include "fakes/FakeTrackingAuthorization.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/Clock.h"
#include "platform/GlobalQueue.h"
#include "platform/HttpClient.h"
#include "platform/NotificationCenter.h"
#include "platform/SerialQueue.h"

#include <QMutex>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace front_end_test {

inline const QString kFrontEndAppID = QStringLiteral("1:1234567890:linux:0a1b2c3d");

struct LoggedLine {
    qint64 level = 0;
    qint64 code = 0;
    QVariantList contexts;
};

// What a listener heard: name, origin, timestamp and the plain parameters.
struct HeardEvent {
    QString origin;
    QString name;
    double timestamp = 0;
    QVariantMap parameters;
};

class FrontEndFixture : public ::testing::Test {
protected:
    FrontEndFixture()
    {
        APMConsentSettingsUtil::clearAllSettings();
        APMPersistedConfig::Environment e;
        e.store = APMPersistentDictionary::inMemory();
        e.sharedUserDefaults = sharedDefaults_.get();
        e.queue = &flushQueue_;
        persisted_ = APMPersistedConfig::initWithSuiteName(QStringLiteral("front-end-test"), std::move(e));
        APMIdentity::Environment identityEnvironment = APMIdentity::defaultEnvironment();
        identityEnvironment.clock = &time_;
        identityEnvironment.identitySupport = &tracking_;
        // The service configuration names the app the tests start.
        identityEnvironment.serviceInfoDictionary = [] {
            return std::optional<QVariantMap>(QVariantMap { { APMInfoPlistFileUtil::kVireoAppIDKey, kFrontEndAppID } });
        };
        identityEnvironment.classExists = [](const QString&) { return false; };
        identity_ = APMIdentity::initWithPersistedConfig(persisted_.get(), std::move(identityEnvironment));
        APMAnalytics::resetForTesting(environment());
    }

    ~FrontEndFixture() override
    {
        drain();
        // The engine and queues go while what they point to still exists.
        APMAnalytics::Environment quiet;
        quiet.clock = &platform::Clock::system();
        APMAnalytics::resetForTesting(quiet);
        platform::GlobalQueue::waitForDone();
        APMMeasurement::monitor().setLogTag(APMMonitor::kDefaultLogTag);
        APMConsentSettingsUtil::clearAllSettings();
    }

    APMMeasurement::Environment engineEnvironment()
    {
        APMMeasurement::Environment e;
        e.clock = &time_;
        e.timer = &time_;
        e.http = &platform::HttpClient::shared();
        e.collectionURL = server_.url();
        e.databasePath = dir_.filePath(APMDatabase::kDatabaseName);
        e.persistedConfig = persisted_.get();
        e.identity = identity_.get();
        return e;
    }

    APMAnalytics::Environment environment()
    {
        APMAnalytics::Environment e;
        e.clock = &time_;
        e.timer = &time_;
        e.preferences = preferences_.get();
        e.persistedConfig = persisted_.get();
        e.identity = identity_.get();
        e.monitor = &APMMeasurement::monitor();
        e.notifications = &notifications_;
        e.log = [this](qint64 level, qint64 code, const QString&, const QVariantList& contexts) {
            QMutexLocker lock(&logMutex_);
            lines_.push_back({ level, code, contexts });
        };
        e.classExists = [this](const QString& name) { return classes_.contains(name); };
        e.serviceInfoPlistPath = [this] { return serviceInfoPlistPath_; };
        e.serviceInfoDictionary = [this] { return serviceInfoDictionary_; };
        e.engineEnvironment = [this] { return engineEnvironment(); };
        return e;
    }

    // Waits until the front end's queue, the engine's worker queue and the
    // answers on global queues have nothing left (work one posts to the
    // other included).
    static void drain()
    {
        for (int round = 0; round < 3; ++round) {
            APMAnalytics::queue().sync([] {});
            if (APMMeasurement* engine = APMMeasurement::sharedInstance())
                engine->dispatchSyncOnWorkerQueue([] {});
            platform::GlobalQueue::waitForDone();
        }
    }

    void start(const QVariantMap& options = {}, const QString& origin = APMAnalytics::kPlatformOrigin)
    {
        APMAnalytics::startWithAppID(kFrontEndAppID, origin, options);
        drain();
    }

    // Virtual time passes; alarms that fall due fire, and their uploads finish.
    void advance(double seconds)
    {
        drain();
        time_.advance(seconds);
        ASSERT_TRUE(fakes::FakeHttpServer::waitUntil([] {
            drain();
            const APMMeasurement* engine = APMMeasurement::sharedInstance();
            return !engine || !engine->isNetworkRequestPending();
        }));
        drain();
    }

    // Records every event the engine announces.
    APMAnalytics::ListenerToken listen()
    {
        return APMAnalytics::addLogEventListener([this](const APMEvent& event) {
            HeardEvent heard { event.origin(), event.name(), event.timestamp(), {} };
            for (auto it = event.parameters().cbegin(); it != event.parameters().cend(); ++it) {
                const APMValue& value = it.value();
                heard.parameters.insert(it.key(),
                    value.isString()      ? QVariant(value.stringValue())
                        : value.isInt64() ? QVariant(value.int64Value())
                                          : QVariant(value.doubleValue()));
            }
            QMutexLocker lock(&logMutex_);
            heard_.push_back(heard);
        });
    }

    std::vector<HeardEvent> heard()
    {
        QMutexLocker lock(&logMutex_);
        return heard_;
    }

    QStringList heardNames()
    {
        QStringList names;
        for (const HeardEvent& event : heard())
            names.append(event.name);
        return names;
    }

    // The codes of the "_err" events heard, in order.
    QList<qint64> heardErrorCodes()
    {
        QList<qint64> codes;
        for (const HeardEvent& event : heard()) {
            if (event.name == QStringLiteral("_err"))
                codes.append(event.parameters.value(QStringLiteral("_err")).toLongLong());
        }
        return codes;
    }

    QList<qint64> loggedCodes()
    {
        QMutexLocker lock(&logMutex_);
        QList<qint64> codes;
        for (const LoggedLine& line : lines_)
            codes.append(line.code);
        return codes;
    }

    std::vector<LoggedLine> loggedLines()
    {
        QMutexLocker lock(&logMutex_);
        return lines_;
    }

    void clearLog()
    {
        QMutexLocker lock(&logMutex_);
        lines_.clear();
        heard_.clear();
    }

    // The stored user properties, internal ones included, as the engine answers them.
    QVariantMap userProperties()
    {
        QVariantMap answer;
        fakes::VirtualTime answerQueue;
        APMAnalytics::userPropertiesIncludingInternal(
            true, &answerQueue, [&answer](const QVariantMap& properties) { answer = properties; });
        drain();
        answerQueue.runPending();
        return answer;
    }

    fakes::TempHome home_;
    QTemporaryDir dir_;
    fakes::VirtualTime time_;
    fakes::VirtualTime flushQueue_;
    fakes::FakeTrackingAuthorization tracking_;
    std::unique_ptr<APMConfigStore> sharedDefaults_ = APMPersistentDictionary::inMemory();
    std::unique_ptr<APMConfigStore> preferences_ = APMPersistentDictionary::inMemory();
    std::unique_ptr<APMPersistedConfig> persisted_;
    std::unique_ptr<APMIdentity> identity_;
    fakes::FakeCollectionServer server_;
    platform::NotificationCenter notifications_;
    QSet<QString> classes_;
    QString serviceInfoPlistPath_;
    std::optional<QVariantMap> serviceInfoDictionary_;

    QMutex logMutex_;
    std::vector<LoggedLine> lines_;
    std::vector<HeardEvent> heard_;
};

} // namespace front_end_test
