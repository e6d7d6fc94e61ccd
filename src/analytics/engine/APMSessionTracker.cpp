// The engine's sessions: its session reporter, the session start it makes
// itself, sessions of events logged while the application is not active, and
// its reactions to the application's launch and state.
#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/engine/APMSessionTracker.h"

#include "analytics/engine/APMEngineContext.h"
#include "analytics/engine/APMMeasurement.h"
#include "analytics/engine/APMFrontEndLink.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "analytics/reporters/APMScreenViewReporter.h"
#include "analytics/reporters/APMSessionReporter.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMEventParameters.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/store/APMDatabase.h"
#include "platform/ApplicationStateNotifier.h"
#include "platform/NotificationCenter.h"

#include <algorithm>
#include <cmath>

using namespace apm_engine;

struct APMSessionTracker::Observers {
    platform::ObserverToken willResignActive;
    platform::ObserverToken didBecomeActive;
};

namespace measurement_session {

const QString kExtendSessionParameter = QStringLiteral("extend_session");
constexpr double kConfigRefreshInterval = 7 * 24 * 3600.0;

} // namespace measurement_session

APMSessionTracker::APMSessionTracker(APMEngineContext& shared, APMMeasurement& engine)
    : shared_(shared)
    , engine_(engine)
{
}

APMSessionTracker::~APMSessionTracker() = default;

// ---- The session reporter ---------------------------------------------------------------

APMScreenViewReporter& APMSessionTracker::screenViewReporter() const
{
    return shared_.environment.screenViewReporter ? *shared_.environment.screenViewReporter
                                           : APMScreenViewReporter::sharedInstance();
}

std::shared_ptr<APMSessionReporter> APMSessionTracker::sessionReporter() const
{
    std::lock_guard locker(reporterMutex_);
    return reporter_;
}

std::shared_ptr<APMSessionReporter> APMSessionTracker::makeSessionReporter()
{
    APMSessionReporter::Environment e;
    e.clock = shared_.environment.clock;
    e.mainQueue = shared_.environment.mainQueue;
    e.notificationCenter = shared_.environment.notificationCenter;
    e.monitor = shared_.environment.monitor;
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    const auto engine = [weak]() -> APMMeasurement* {
        const auto self = weak.lock();
        return self ? *self : nullptr;
    };
    // Whoever finds the engine there finds its session tracker too.
    e.remoteConfig = [this, engine] {
        APMMeasurement* self = engine();
        return self && shared_.remoteConfig ? shared_.remoteConfig : APMMeasurement::remoteConfig();
    };
    e.isAppActive = [engine] {
        APMMeasurement* self = engine();
        return self && self->screenViewReporter().isInForeground();
    };
    e.logEvent = [engine](const QString& origin, const QString& name, const QVariantMap& parameters,
                     double timestamp) {
        if (APMMeasurement* self = engine())
            self->logInternalEventWithOrigin(origin, name, parameters, timestamp);
    };
    e.setSessionProperties = [this, engine](const std::optional<qint64>& id, const std::optional<qint64>& number) {
        APMMeasurement* self = engine();
        if (!self)
            return;
        const double now = shared_.now();
        const auto set = [&](const QString& name, const std::optional<qint64>& value) {
            if (value)
                self->setUserAttribute(APMUserAttribute::initWithOrigin(
                    kAutoOrigin, name, APMValue::initWithInt64(*value), now));
            else
                self->removeUserAttribute(name);
        };
        set(kSessionIDProperty, id);
        set(kSessionNumberProperty, number);
    };
    auto reporter = APMSessionReporter::initWithPersistedConfig(*shared_.persistedConfig, std::move(e));
    {
        std::lock_guard locker(reporterMutex_);
        reporter_ = reporter;
    }
    shared_.environment.session = reporter;
    return reporter;
}

void APMSessionTracker::setSessionTimeoutInterval(double seconds)
{
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:1584"), [weak, seconds] {
        const auto self = weak.lock();
        if (!self || !*self)
            return;
        if (const auto reporter = (*self)->sessionReporter())
            reporter->setTimeoutSessionInterval(seconds);
    });
}

// ---- Session starts -------------------------------------------------------------------------

void APMSessionTracker::reportSessionStartOnWorkerQueueWithTimestamp(double timestamp, bool appInBackground)
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("reportSessionStartOnWorkerQueue"));
    const std::shared_ptr<APMSessionReporter> reporter = sessionReporter();
    // The main thread may start a session on activation at the same moment:
    // only the one whose check-and-start succeeds reports it.
    if (!reporter || !reporter->startNewSessionIfExpired())
        return;
    if (const auto id = reporter->sessionIDPropertyWithTimestamp(timestamp))
        engine_.setUserAttributeOnWorkerQueue(*id);
    if (const auto number = reporter->sessionNumberProperty())
        engine_.setUserAttributeOnWorkerQueue(*number);
    const bool markBackground = appInBackground && shared_.remoteConfig->appInBackgroundParameterEnabled();
    const std::optional<APMEvent> event = APMSessionStartEvent(shared_.persistedConfig->sessionNumber(),
        markBackground, timestamp, markBackground ? QVariantMap() : screenViewReporter().screenParameters());
    if (event)
        engine_.handleInternalEventOnWorkerQueue(*event);
}

void APMSessionTracker::processSessionFromEvent(const APMEvent& event)
{
    const std::shared_ptr<APMSessionState>& session = shared_.environment.session;
    if (!session || session->isAppActive())
        return;
    const std::shared_ptr<APMSessionReporter> reporter = sessionReporter();
    const auto extend = event.parameters().constFind(measurement_session::kExtendSessionParameter);
    if (extend != event.parameters().cend()) {
        if (extend->isInt64() && extend->int64Value() == 1) {
            if (reporter && reporter->isSessionExpired())
                reportSessionStartOnWorkerQueueWithTimestamp(event.timestamp(), true);
            else if (reporter)
                reporter->extendSession();
        } else {
            shared_.log(APMMonitor::kLevelWarning, 23179,
                QStringLiteral("extend_session is a reserved parameter. To extend or start a session in the "
                               "background, set an event parameter {@'extend_session': @1}"));
        }
    }
    if (!session->isSessionExpired())
        return;
    // The session is over: its properties must not ride on later events.
    struct Removal {
        const QString& name;
        qint64 code;
        const char* message;
    };
    const Removal removals[] = {
        { kSessionIDProperty, 23177,
            "Failed to remove session ID user property on session expiration. Error" },
        { kSessionNumberProperty, 23178,
            "Failed to remove session number user property on session expiration. Error" },
        { kSessionEngagementProperty, 23192,
            "Failed to remove session user engagement user property on session expiration. Error" },
    };
    // Most events after a session ended find nothing to remove; a read is
    // much cheaper than a write transaction (a failed read counts as stored).
    const bool anyStored = std::any_of(std::begin(removals), std::end(removals), [this](const Removal& removal) {
        return shared_.database->containsUserAttributeWithName(removal.name, nullptr).value_or(true);
    });
    if (!anyStored)
        return;
    shared_.database->performTransaction([&] {
        for (const Removal& removal : removals) {
            APMError error;
            if (!shared_.database->deleteUserAttributeWithName(removal.name, &error) && error.code() != 0) {
                shared_.log(APMMonitor::kLevelErrorSilent, removal.code, QString::fromLatin1(removal.message),
                    error.description());
                return false;
            }
        }
        return true;
    });
}

// ---- The application's state -------------------------------------------------------------

void APMSessionTracker::subscribeForAppForegroundBackgroundNotifications()
{
    platform::NotificationCenter& center = shared_.environment.notificationCenter
        ? *shared_.environment.notificationCenter
        : platform::NotificationCenter::defaultCenter();
    observers_ = std::make_shared<Observers>();
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    observers_->willResignActive = center.addObserver(
        platform::ApplicationStateNotifier::kWillResignActive, [weak](const platform::Notification&) {
            if (const auto self = weak.lock(); self && *self)
                (*self)->sessions().handleAppWillResignActiveEvent();
        });
    observers_->didBecomeActive = center.addObserver(
        platform::ApplicationStateNotifier::kDidBecomeActive, [weak](const platform::Notification&) {
            if (const auto self = weak.lock(); self && *self)
                (*self)->sessions().handleAppDidBecomeActiveEvent();
        });
}

void APMSessionTracker::handleAppDidBecomeActiveEvent()
{
    // The configuration is read on the worker queue only, so the whole
    // decision is made there.
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:4197"), [this, weak] {
        const auto self = weak.lock();
        if (!self || !*self)
            return;
        APMMeasurement& engine = **self;
        if (!shared_.remoteConfig || !shared_.remoteConfig->blocklistInternal())
            return;
        const double age = std::fabs(shared_.now() - shared_.remoteConfig->lastRemoteConfigUpdateTimestamp());
        if (age < measurement_session::kConfigRefreshInterval)
            return;
        if (engine.isNetworkReadyForRequest())
            engine.fetchRemoteConfig();
        else
            shared_.log(APMMonitor::kLevelVerbose, 23143,
                QStringLiteral("Network operation is pending. Ignoring request to fetch configuration"));
    });
}

void APMSessionTracker::handleAppWillResignActiveEvent()
{
    shared_.persistedConfig->synchronizeToDisk();
    shared_.log(APMMonitor::kLevelVerbose, 23144,
        QStringLiteral("App will resign active state. Scheduling data upload"));
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    auto scheduleUpload = [weak] {
        if (const auto self = weak.lock(); self && *self) {
            (*self)->scheduler().scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:4250"), [weak] {
                if (const auto engine = weak.lock(); engine && *engine)
                    (*engine)->uploadData();
            });
        }
    };
    // Behind the front end's queued work: events it still holds reach the
    // worker queue before this upload does.
    if (shared_.environment.frontEnd)
        shared_.environment.frontEnd->link->queueOperationWithBlock(std::move(scheduleUpload));
    else
        scheduleUpload();
}
