#pragma once

#include "analytics/reporters/APMSessionState.h"

#include <QString>
#include <QVariantMap>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace platform {
class Clock;
class Executor;
class NotificationCenter;
} // namespace platform

class APMMonitor;
class APMPersistedConfig;
class APMRemoteConfig;
class APMScreen;
class APMUserAttribute;
class APMEvent;

// The analytics session and the user's engagement: when a session has
// expired, session numbers, the session start "_s", the engagement event
// "_e" and the app-backgrounded event "_ab", and a repeating engagement
// timer on the main queue.
//
// Engagement is measured on the boot clock, which counts time asleep and is
// not moved by changes of the wall clock, so a wall clock set forward or
// back never counts as engagement, and time spent while the application is
// not active is never engagement. Session expiry is measured on the wall
// clock against the persisted last activity, as a distance either way: a
// wall clock moved by more than the time-out, forward or back, ends the
// session.
//
// Calls come from the main thread (application state, screen changes, the
// timer) and from the engine's worker queue (expiry, session start,
// extension); the state they share is guarded here.
class APMSessionReporter final : public APMSessionState,
                                 public std::enable_shared_from_this<APMSessionReporter> {
public:
    static const QString kEngagementTimerName; // "Engagement timer"
    static const QString kEngagementTimerDidFireNotification; // "kAPMSessionReporterEngagementTimerDidFire"

    // Hands an internal event to the engine (origin, name, parameters, time).
    using EventLogger = std::function<void(
        const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp)>;
    // Sets (or, with nothing, clears) the internal user properties "_sid"
    // and "_sno".
    using SessionPropertySetter = std::function<void(
        const std::optional<qint64>& sessionID, const std::optional<qint64>& sessionNumber)>;

    struct Environment {
        platform::Clock* clock = nullptr; // null: the system clock
        platform::Executor* mainQueue = nullptr; // the timer's; null: the main queue
        platform::NotificationCenter* notificationCenter = nullptr; // null: the default centre
        APMMonitor* monitor = nullptr; // null: the library's
        // The settings, read again at each use; null: the engine's.
        std::function<std::shared_ptr<APMRemoteConfig>()> remoteConfig;
        // Whether the application is the active one; null: never.
        std::function<bool()> isAppActive;
        // The screen parameters of the current screen; null: none.
        std::function<QVariantMap()> screenParameters;
        EventLogger logEvent; // null: events go nowhere
        SessionPropertySetter setSessionProperties; // null: not set
    };

    static std::shared_ptr<APMSessionReporter> initWithPersistedConfig(
        APMPersistedConfig& persistedConfig, Environment environment);
    ~APMSessionReporter() override;

    APMSessionReporter(const APMSessionReporter&) = delete;
    APMSessionReporter& operator=(const APMSessionReporter&) = delete;

    bool isReportingEnabled() const;
    void setReportingEnabled(bool enabled);
    double timeoutSessionInterval() const;
    // A negative time-out is stored as 0 (level 3, code 33001).
    void setTimeoutSessionInterval(double seconds);

    // APMSessionState.
    bool isAppActive() const override;
    bool isSessionExpired() const override;

    // False when expired; otherwise the session lives on from now.
    bool extendSession();
    std::optional<APMUserAttribute> sessionIDPropertyWithTimestamp(double timestamp) const;
    std::optional<APMUserAttribute> sessionNumberProperty() const;
    // Counts a new session from now, whether or not the last one expired.
    void updatePropertiesForNewSessionStart();
    // The same, only when the session has expired, checked and done in one
    // step against a start from another thread; whether it started one.
    bool startNewSessionIfExpired();
    void setSessionID(const std::optional<qint64>& sessionID, const std::optional<qint64>& sessionNumber);

    void logSessionStartEvent();
    void logUserEngagementEvent();
    // The milliseconds logged in "_e" (0 when none was logged).
    qint64 logEngagementEventAndReturnTimeWithScreen(const APMScreen* screen, bool isRedundant);
    qint64 cutFreerideEngagementTimeMillis();
    void logAppBackgroundEvent(qint64 engagementMs);

    void handleAppDidBecomeActive();
    void handleAppWillResignActiveWithScreen(const APMScreen* screen);
    void handleScreenDidChangeFromScreen(const APMScreen* previous, const APMScreen* next);
    void rescheduleUserEngagementTimer();

    double currentUptime() const;
    double currentClockTime() const;
    double incurredEngagementTime() const;
    // Whether the engagement timer is armed (read on the main queue).
    bool hasPendingEngagementTimer() const;

private:
    struct Timer;
    APMSessionReporter(APMPersistedConfig& persistedConfig, Environment environment);

    std::shared_ptr<APMRemoteConfig> config() const;
    bool isEfficientMode() const;
    void log(qint64 level, qint64 code, const QString& message) const;
    void logEvent(const QString& name, const QVariantMap& parameters) const;
    void markActivity();
    // Under mutex_: the new session's number and its first activity.
    void startSessionLocked(double clockTime);
    bool isExpiredLocked(double clockTime) const;
    // "_sid" and "_sno" set and "_s" logged for the session just started.
    void logStartedSession();
    void cancelEngagementTimer();

    APMPersistedConfig& persistedConfig_;
    Environment environment_;
    std::shared_ptr<Timer> timer_;

    mutable std::mutex mutex_;
    double engagementStartUptime_ = 0;
    double freerideEngagementStartUptime_ = 0;
    bool reportingEnabled_ = false;
    double timeoutSessionInterval_ = 0;
    // Wall-clock time of the last session activity.
    double lastActivityClockTime_ = 0;
};

// The engine's own session start "_s" (origin "auto") at the timestamp: "_sid"
// the whole seconds, "_sno" the number, and "_aib" = 1 in the background or
// else the screen parameters.
std::optional<APMEvent> APMSessionStartEvent(
    qint64 sessionNumber, bool inBackground, double timestamp, const QVariantMap& screenParameters);
