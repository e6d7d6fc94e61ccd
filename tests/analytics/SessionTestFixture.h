#pragma once

// The engine on virtual time with a real SQLite file, its own session
// reporter, and a screen-view and ad exposure reporter wired to it, all
// hearing the application's state from a private notification centre.
#include "EngineTestFixture.h"
#include "analytics/reporters/APMAdExposureReporter.h"
#include "analytics/reporters/APMScreenViewReporter.h"
#include "analytics/reporters/APMSessionReporter.h"
#include "analytics/model/APMRawEventData.h"
#include "platform/ApplicationStateNotifier.h"
#include "platform/NotificationCenter.h"

namespace session_test {

using CollectedEvent = fakes::FakeCollectionServer::Event;

inline constexpr qint64 kFirstScreenID = 100;

class SessionFixture : public engine_test::EngineFixture {
protected:
    SessionFixture()
    {
        APMScreenViewReporter::Environment s;
        s.clock = &time_;
        s.notificationCenter = &center_;
        s.sessionReporter = [this] { return engine_ ? engine_->sessionReporter() : nullptr; };
        s.adExposureReporter = [this] { return ads_.get(); };
        s.logEvent
            = [this](const QString& origin, const QString& name, const QVariantMap& parameters, double at) {
                  if (engine_)
                      engine_->logInternalEventWithOrigin(origin, name, parameters, at);
              };
        s.firstInstanceID = kFirstScreenID;
        screens_ = APMScreenViewReporter::create(std::move(s));

        APMAdExposureReporter::Environment a;
        a.clock = &time_;
        a.notificationCenter = &center_;
        a.isAppActive = [this] { return screens_->isInForeground(); };
        a.screenParameters = [this] { return screens_->screenParameters(); };
        a.logEvent
            = [this](const QString& origin, const QString& name, const QVariantMap& parameters, double at) {
                  if (engine_)
                      engine_->logInternalEventWithOrigin(origin, name, parameters, at);
              };
        ads_ = APMAdExposureReporter::create(std::move(a));
    }
    ~SessionFixture() override
    {
        if (engine_)
            drain();
        engine_.reset();
    }

    APMMeasurement::Environment sessionEnvironment()
    {
        APMMeasurement::Environment e = environment();
        e.mainQueue = &time_;
        e.notificationCenter = &center_;
        e.screenViewReporter = screens_;
        return e;
    }

    APMMeasurement& launch(bool enabled = true)
    {
        APMMeasurement::Environment e = sessionEnvironment();
        APMMeasurement& engine = start(QString(), enabled, &e);
        time_.runPending(); // the engagement timer's own queue
        return engine;
    }

    APMSessionReporter& reporter() { return *engine_->sessionReporter(); }

    // The application's state as the platform posts it; what follows on the
    // main queue and the worker queue has run when these return.
    void activate() { post(platform::ApplicationStateNotifier::kDidBecomeActive); }
    void resign() { post(platform::ApplicationStateNotifier::kWillResignActive); }
    void post(const QString& name)
    {
        center_.post(name);
        settleAll();
    }

    // A "screen_view" of the application, now.
    void trackScreen(const QString& name, const QString& className, QVariantMap extra = {})
    {
        if (!name.isNull())
            extra.insert(QStringLiteral("screen_name"), name);
        if (!className.isNull())
            extra.insert(QStringLiteral("screen_class"), className);
        screens_->trackScreenWithParameters(extra, time_.now());
        settleAll();
    }

    // Time passes on both clocks; timers falling due fire.
    void pass(double seconds)
    {
        advance(seconds);
        settleAll();
    }

    void settleAll()
    {
        screens_->waitForPendingWork();
        ads_->waitForPendingWork();
        time_.runPending();
        settle(); // an upload the application's state started has its answer
    }

    void configureSettings(const QList<std::pair<QString, QString>>& settings)
    {
        rcfg::ConfigBuilder builder;
        for (const auto& [name, value] : settings)
            builder.setting(name, value);
        ASSERT_TRUE(configure(builder));
    }

    // Every event the engine kept, in order: what reached the collection
    // server, then what still waits in the database.
    QList<CollectedEvent> events()
    {
        QList<CollectedEvent> all = server_.acceptedEvents();
        engine_->dispatchSyncOnWorkerQueue([&] {
            APMDatabase& database = *engine_->database();
            const auto rows = database.sqliteStore()->recordsForQuery(
                QStringLiteral("SELECT rowid, * FROM raw_events ORDER BY rowid"), {}, nullptr);
            for (const APMRow& row : rows.value_or(QList<APMRow>())) {
                const auto data = database.rawEventDataFromDictionary(row, nullptr);
                if (!data)
                    continue;
                CollectedEvent event;
                event.name = data->rawEvent().name();
                event.timestampMillis = qint64(data->rawEvent().timestamp() * 1000);
                const auto& parameters = data->rawEvent().parameters();
                for (auto it = parameters.cbegin(); it != parameters.cend(); ++it) {
                    event.parameters.insert(it.key(),
                        it->isString()      ? QVariant(it->stringValue())
                            : it->isInt64() ? QVariant(it->int64Value())
                                            : QVariant(it->doubleValue()));
                }
                all.append(event);
            }
        });
        return all;
    }

    QList<CollectedEvent> eventsNamed(const QString& name)
    {
        QList<CollectedEvent> named;
        for (const CollectedEvent& event : events()) {
            if (event.name == name)
                named.append(event);
        }
        return named;
    }

    QList<qint64> engagementTimes()
    {
        QList<qint64> times;
        for (const CollectedEvent& event : eventsNamed(QStringLiteral("_e")))
            times.append(event.parameters.value(QStringLiteral("_et")).toLongLong());
        return times;
    }

    std::optional<qint64> userProperty(const QString& name)
    {
        std::optional<qint64> value;
        engine_->dispatchSyncOnWorkerQueue([&] {
            if (const auto attribute = engine_->database()->userAttributeWithName(name, nullptr))
                value = attribute->value().int64Value();
        });
        return value;
    }

    // Uploads what is kept, so that the collection server has seen it all.
    void uploadEverything()
    {
        for (int round = 0;
             round < 4 && rowCount(APMDatabase::kRawEventsTable) + rowCount(APMDatabase::kQueueTable) > 0;
             ++round) {
            engine_->dispatchSyncOnWorkerQueue([&] { engine_->uploadData(); });
            settle();
        }
    }

    platform::NotificationCenter center_;
    std::shared_ptr<APMScreenViewReporter> screens_;
    std::shared_ptr<APMAdExposureReporter> ads_;
};

} // namespace session_test
