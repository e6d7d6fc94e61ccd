#pragma once

// The analytics front end on virtual time, over the engine fixture's real
// SQLite file and fake collection server: what the front-end, public-interface
// and connector tests share.
#include "EngineTestFixture.h"

#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistentDictionary.h"
#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/engine/APMUploadScheduler.h"
#include "analytics/frontend/APMAnalytics.h"
#include "analytics/engine/APMMeasurement.h"
#include "analytics/reporters/APMSessionState.h"
#include "analytics/model/APMEvent.h"
#include "fakes/FakeHttpServer.h"
#include "fakes/VirtualTime.h"
#include "platform/Clock.h"
#include "platform/GlobalQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/SerialQueue.h"

#include <QMutex>
#include <QSet>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace front_end_test {

inline const QString& kFrontEndAppID = engine_test::kEngineAppID;

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

class FrontEndFixture : public engine_test::EngineFixture {
protected:
    FrontEndFixture()
    {
        // The service configuration names the app the tests start.
        identity_ = newIdentity(kFrontEndAppID);
        APMAnalytics::resetForTesting(frontEndEnvironment());
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
    }

    APMAnalytics::Environment frontEndEnvironment()
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
        e.engineEnvironment = [this] {
            // The session reporter's engagement timer runs on virtual time;
            // a test may answer for the session itself.
            APMMeasurement::Environment engine = environment();
            engine.mainQueue = &time_;
            engine.session = session_;
            engine.reportsLifecycleAtStart = reportsLifecycleAtStart_;
            return engine;
        };
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
            return !engine || !engine->uploads().isNetworkRequestPending();
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

    std::unique_ptr<APMConfigStore> preferences_ = APMPersistentDictionary::inMemory();
    platform::NotificationCenter notifications_;
    std::shared_ptr<APMSessionState> session_;
    // The automatic first-open and update reports at the engine's start.
    bool reportsLifecycleAtStart_ = false;
    QSet<QString> classes_;
    QString serviceInfoPlistPath_;
    std::optional<QVariantMap> serviceInfoDictionary_;

    QMutex logMutex_;
    std::vector<LoggedLine> lines_;
    std::vector<HeardEvent> heard_;
};

} // namespace front_end_test
