#include "analytics/reporters/APMSessionReporter.h"

#include "analytics/base/APMAlarm.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMNumericUtil.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMValue.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "analytics/reporters/APMMeasurementRemoteConfig.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMScreen.h"
#include "analytics/model/APMUserAttribute.h"
#include "platform/Clock.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"

#include <algorithm>
#include <cmath>
#include <limits>

using namespace apm_engine;

const QString APMSessionReporter::kEngagementTimerName = QStringLiteral("Engagement timer");
const QString APMSessionReporter::kEngagementTimerDidFireNotification
    = QStringLiteral("kAPMSessionReporterEngagementTimerDidFire");

namespace session_reporter {

// One engagement event never carries more than an hour.
constexpr double kMaxEngagementSeconds = 3600.0;
// Shorter stays on a screen are not worth an engagement event.
constexpr double kMinScreenEngagementSeconds = 1.0;

QVariant int64Value(qint64 value)
{
    return QVariant::fromValue(APMValue::initWithInt64(value));
}

} // namespace session_reporter

using session_reporter::int64Value;

// The engagement timer lives on the main queue: every use of it is posted
// there, and it outlives the reporter until its cancellation has run.
struct APMSessionReporter::Timer {
    Timer(platform::Executor& queue, platform::Clock& clock)
        : queue(queue)
        , alarm(queue, clock, kEngagementTimerName)
    {
    }
    platform::Executor& queue;
    APMAlarm alarm;
};

std::shared_ptr<APMSessionReporter> APMSessionReporter::initWithPersistedConfig(
    APMPersistedConfig& persistedConfig, Environment environment)
{
    return std::shared_ptr<APMSessionReporter>(
        new APMSessionReporter(persistedConfig, std::move(environment)));
}

APMSessionReporter::APMSessionReporter(APMPersistedConfig& persistedConfig, Environment environment)
    : persistedConfig_(persistedConfig)
    , environment_(std::move(environment))
{
    if (!environment_.clock)
        environment_.clock = &platform::Clock::system();
    if (!environment_.mainQueue)
        environment_.mainQueue = &platform::MainQueue::shared();
    if (!environment_.notificationCenter)
        environment_.notificationCenter = &platform::NotificationCenter::defaultCenter();
    if (!environment_.monitor)
        environment_.monitor = &APMLibrary::monitor();
    if (!environment_.remoteConfig)
        environment_.remoteConfig = [] { return APMMeasurementRemoteConfig::remoteConfig(); };
    timer_ = std::make_shared<Timer>(*environment_.mainQueue, *environment_.clock);
    timeoutSessionInterval_ = config()->sessionDefaultTimeoutInterval();
    const double uptime = currentUptime();
    engagementStartUptime_ = freerideEngagementStartUptime_ = uptime;
    lastActivityClockTime_ = persistedConfig_.lastSessionActivityClockTime();
}

APMSessionReporter::~APMSessionReporter()
{
    // The timer goes on the queue it belongs to, after its cancellation.
    std::shared_ptr<Timer> timer = std::move(timer_);
    timer->queue.async([timer] { timer->alarm.cancel(); });
}

// ---- Helpers ----------------------------------------------------------------------

std::shared_ptr<APMRemoteConfig> APMSessionReporter::config() const
{
    return environment_.remoteConfig();
}

bool APMSessionReporter::isEfficientMode() const
{
    return config()->efficientEngagementReportingEnabled();
}

void APMSessionReporter::log(qint64 level, qint64 code, const QString& message) const
{
    environment_.monitor->logWithLevel(level, code, message);
}

void APMSessionReporter::logEvent(const QString& name, const QVariantMap& parameters) const
{
    if (environment_.logEvent)
        environment_.logEvent(kAutoOrigin, name, parameters, currentClockTime());
}

double APMSessionReporter::currentUptime() const
{
    return environment_.clock->monotonic();
}

double APMSessionReporter::currentClockTime() const
{
    return environment_.clock->now();
}

// ---- Settings ---------------------------------------------------------------------

bool APMSessionReporter::isReportingEnabled() const
{
    std::lock_guard locker(mutex_);
    return reportingEnabled_;
}

void APMSessionReporter::setReportingEnabled(bool enabled)
{
    {
        std::lock_guard locker(mutex_);
        reportingEnabled_ = enabled;
    }
    if (!enabled) {
        cancelEngagementTimer();
        return;
    }
    const std::weak_ptr<APMSessionReporter> weak = weak_from_this();
    timer_->queue.async([weak] {
        const auto self = weak.lock();
        if (self && self->isAppActive() && !self->timer_->alarm.scheduledTimestamp())
            self->rescheduleUserEngagementTimer();
    });
}

double APMSessionReporter::timeoutSessionInterval() const
{
    std::lock_guard locker(mutex_);
    return timeoutSessionInterval_;
}

void APMSessionReporter::setTimeoutSessionInterval(double seconds)
{
    if (seconds < 0 || std::isnan(seconds)) {
        log(APMMonitor::kLevelWarning, 33001,
            QStringLiteral("Received negative timeout session duration. Setting to 0.0 instead."));
        seconds = 0;
    }
    std::lock_guard locker(mutex_);
    timeoutSessionInterval_ = seconds;
}

// ---- Session ------------------------------------------------------------------------

bool APMSessionReporter::isAppActive() const
{
    return environment_.isAppActive && environment_.isAppActive();
}

bool APMSessionReporter::isSessionExpired() const
{
    const double clockTime = currentClockTime();
    std::lock_guard locker(mutex_);
    return isExpiredLocked(clockTime);
}

// Expiry goes by the wall clock, either way: time asleep ends a session, and
// so does a clock set back by more than the time-out. A stored time that is
// no number tells nothing: the session counts as expired, never as one that
// cannot expire.
bool APMSessionReporter::isExpiredLocked(double clockTime) const
{
    return !(std::fabs(clockTime - lastActivityClockTime_) <= timeoutSessionInterval_);
}

void APMSessionReporter::markActivity()
{
    const double clockTime = currentClockTime();
    persistedConfig_.setLastSessionActivityClockTime(clockTime);
    std::lock_guard locker(mutex_);
    lastActivityClockTime_ = clockTime;
}

bool APMSessionReporter::extendSession()
{
    if (isSessionExpired())
        return false;
    markActivity();
    return true;
}

std::optional<APMUserAttribute> APMSessionReporter::sessionIDPropertyWithTimestamp(double timestamp) const
{
    return APMUserAttribute::initWithOrigin(
        kAutoOrigin, kSessionIDProperty, APMValue::initWithInt64(APMSaturatingInt64(timestamp)), timestamp);
}

std::optional<APMUserAttribute> APMSessionReporter::sessionNumberProperty() const
{
    return APMUserAttribute::initWithOrigin(kAutoOrigin, kSessionNumberProperty,
        APMValue::initWithInt64(persistedConfig_.sessionNumber()), currentClockTime());
}

void APMSessionReporter::updatePropertiesForNewSessionStart()
{
    const double clockTime = currentClockTime();
    std::lock_guard locker(mutex_);
    startSessionLocked(clockTime);
}

bool APMSessionReporter::startNewSessionIfExpired()
{
    const double clockTime = currentClockTime();
    std::lock_guard locker(mutex_);
    if (!isExpiredLocked(clockTime))
        return false;
    startSessionLocked(clockTime);
    return true;
}

void APMSessionReporter::startSessionLocked(double clockTime)
{
    const qint64 number = persistedConfig_.sessionNumber();
    persistedConfig_.setSessionNumber(number < std::numeric_limits<qint64>::max() ? number + 1 : number);
    persistedConfig_.setLastSessionActivityClockTime(clockTime);
    lastActivityClockTime_ = clockTime;
}

void APMSessionReporter::setSessionID(
    const std::optional<qint64>& sessionID, const std::optional<qint64>& sessionNumber)
{
    if (environment_.setSessionProperties)
        environment_.setSessionProperties(sessionID, sessionNumber);
}

void APMSessionReporter::logSessionStartEvent()
{
    if (!isAppActive()) {
        log(APMMonitor::kLevelDebug, 33005,
            QStringLiteral("Session start event not logged. Application is not active"));
        return;
    }
    if (!isReportingEnabled())
        return;
    updatePropertiesForNewSessionStart();
    logStartedSession();
}

void APMSessionReporter::logStartedSession()
{
    const qint64 id = APMSaturatingInt64(currentClockTime());
    const qint64 number = persistedConfig_.sessionNumber();
    setSessionID(id, number);
    logEvent(kSessionStartEvent,
        { { kSessionIDProperty, int64Value(id) }, { kSessionNumberProperty, int64Value(number) } });
}

// ---- Engagement ---------------------------------------------------------------------

double APMSessionReporter::incurredEngagementTime() const
{
    const bool efficient = isEfficientMode();
    double start = 0;
    {
        std::lock_guard locker(mutex_);
        start = efficient ? freerideEngagementStartUptime_ : engagementStartUptime_;
    }
    const double incurred = currentUptime() - start;
    if (incurred < 0 || std::isnan(incurred)) {
        log(APMMonitor::kLevelWarningMonitored, 33004,
            QStringLiteral("Incurred engagement time is negative. Setting to 0.0 instead"));
        return 0;
    }
    return incurred;
}

void APMSessionReporter::logUserEngagementEvent()
{
    logEngagementEventAndReturnTimeWithScreen(nullptr, false);
}

qint64 APMSessionReporter::logEngagementEventAndReturnTimeWithScreen(
    const APMScreen* screen, bool isRedundant)
{
    if (!isAppActive()) {
        log(APMMonitor::kLevelDebug, 33006,
            QStringLiteral("User engagement event not logged. Application is not active"));
        return 0;
    }
    const bool efficient = isEfficientMode();
    qint64 ms = 0;
    if (isReportingEnabled()) {
        ms = APMMillisecondsFromSeconds(
            std::min(incurredEngagementTime(), session_reporter::kMaxEngagementSeconds)).value_or(0);
        QVariantMap parameters { { kEngagementTimeParameter, int64Value(ms) } };
        if (screen) {
            const QVariantMap screenParameters
                = APMScreenParametersForScreen(*screen, config()->eventParameterLimits());
            for (auto it = screenParameters.begin(); it != screenParameters.end(); ++it)
                parameters.insert(it.key(), it.value());
        }
        if (isRedundant && efficient)
            parameters.insert(kFirstRunParameter, int64Value(1));
        logEvent(kEngagementEvent, parameters);
    }
    const double uptime = currentUptime();
    {
        std::lock_guard locker(mutex_);
        engagementStartUptime_ = uptime;
        if (!isRedundant && efficient)
            freerideEngagementStartUptime_ = uptime;
    }
    markActivity();
    rescheduleUserEngagementTimer();
    return ms;
}

qint64 APMSessionReporter::cutFreerideEngagementTimeMillis()
{
    if (!isEfficientMode())
        return 0;
    const double incurred = incurredEngagementTime();
    const double uptime = currentUptime();
    {
        std::lock_guard locker(mutex_);
        freerideEngagementStartUptime_ = uptime;
    }
    return APMMillisecondsFromSeconds(incurred).value_or(0);
}

void APMSessionReporter::logAppBackgroundEvent(qint64 engagementMs)
{
    if (!isReportingEnabled() || !config()->appBackgroundedEventEnabled())
        return;
    if (!isAppActive()) {
        log(APMMonitor::kLevelDebug, 33008,
            QStringLiteral("App backgrounded event not logged. Application is not active"));
        return;
    }
    QVariantMap parameters;
    if (engagementMs > 0 && isEfficientMode())
        parameters.insert(kEngagementTimeParameter, int64Value(engagementMs));
    logEvent(kAppBackgroundedEvent, parameters);
}

// ---- Application and screens ----------------------------------------------------------

void APMSessionReporter::handleAppDidBecomeActive()
{
    const double uptime = currentUptime();
    {
        std::lock_guard locker(mutex_);
        engagementStartUptime_ = freerideEngagementStartUptime_ = uptime;
    }
    rescheduleUserEngagementTimer();
    // The engine's worker queue may start a session at the same moment: the
    // check and the start are one step, so only one of the two does.
    if (!isAppActive() || !isReportingEnabled() || !startNewSessionIfExpired())
        return;
    setSessionID(std::nullopt, std::nullopt);
    logStartedSession();
}

void APMSessionReporter::handleAppWillResignActiveWithScreen(const APMScreen* screen)
{
    const bool backgroundedEvent = config()->appBackgroundedEventEnabled();
    const qint64 ms = backgroundedEvent && config()->redundantEngagementRemovalEnabled()
        ? cutFreerideEngagementTimeMillis()
        : logEngagementEventAndReturnTimeWithScreen(screen, backgroundedEvent);
    logAppBackgroundEvent(ms);
    cancelEngagementTimer();
}

void APMSessionReporter::handleScreenDidChangeFromScreen(const APMScreen* previous, const APMScreen* /*next*/)
{
    if (!previous || incurredEngagementTime() < session_reporter::kMinScreenEngagementSeconds)
        return;
    if (!isEfficientMode())
        logEngagementEventAndReturnTimeWithScreen(previous, false);
    else if (!config()->redundantEngagementRemovalEnabled())
        logEngagementEventAndReturnTimeWithScreen(previous, true);
}

// ---- Timer ----------------------------------------------------------------------------

void APMSessionReporter::rescheduleUserEngagementTimer()
{
    // Turning reporting back on arms the timer again.
    if (!isReportingEnabled())
        return;
    const double interval = config()->sessionEventUserEngagementInterval();
    const std::weak_ptr<APMSessionReporter> weak = weak_from_this();
    const std::weak_ptr<Timer> weakTimer = timer_;
    platform::NotificationCenter* center = environment_.notificationCenter;
    timer_->queue.async([weak, weakTimer, interval, center] {
        const auto timer = weakTimer.lock();
        if (!timer || weak.expired())
            return;
        timer->alarm.runAfterDelay(interval, [weak, center] {
            center->post(kEngagementTimerDidFireNotification);
            if (const auto self = weak.lock())
                self->logUserEngagementEvent();
        });
    });
}

void APMSessionReporter::cancelEngagementTimer()
{
    const std::weak_ptr<Timer> weakTimer = timer_;
    timer_->queue.async([weakTimer] {
        if (const auto timer = weakTimer.lock())
            timer->alarm.cancel();
    });
}

bool APMSessionReporter::hasPendingEngagementTimer() const
{
    return timer_->alarm.scheduledTimestamp().has_value();
}

// ---- The engine's session start ----------------------------------------------------------

std::optional<APMEvent> APMSessionStartEvent(
    qint64 sessionNumber, bool inBackground, double timestamp, const QVariantMap& screenParameters)
{
    QVariantMap parameters { { kSessionIDProperty, int64Value(APMSaturatingInt64(timestamp)) },
        { kSessionNumberProperty, int64Value(sessionNumber) } };
    if (inBackground) {
        parameters.insert(kAppInBackgroundParameter, int64Value(1));
    } else {
        for (auto it = screenParameters.begin(); it != screenParameters.end(); ++it)
            parameters.insert(it.key(), it.value());
    }
    return APMEvent::initWithOrigin(kAutoOrigin, false, kSessionStartEvent, timestamp, 0, parameters,
        APMMeasurementRemoteConfig::remoteConfig()->eventParameterLimits());
}
