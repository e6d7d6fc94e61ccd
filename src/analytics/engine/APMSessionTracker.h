#pragma once

#include <memory>
#include <mutex>

class APMEvent;
class APMMeasurement;
class APMScreenViewReporter;
class APMSessionReporter;
struct APMEngineContext;

// The engine's sessions: its session reporter, the session start it makes
// itself, sessions of events logged while the application is not active,
// and its reactions to the application becoming active or going inactive.
class APMSessionTracker {
public:
    APMSessionTracker(APMEngineContext& shared, APMMeasurement& engine);
    ~APMSessionTracker();
    APMSessionTracker(const APMSessionTracker&) = delete;
    APMSessionTracker& operator=(const APMSessionTracker&) = delete;

    // The environment's, else the shared one.
    APMScreenViewReporter& screenViewReporter() const;
    // Any thread; null until made or when a session state was injected.
    std::shared_ptr<APMSessionReporter> sessionReporter() const;
    // A new reporter over the persisted state (at start, and after a wipe).
    std::shared_ptr<APMSessionReporter> makeSessionReporter();
    // Any thread.
    void setSessionTimeoutInterval(double seconds);
    // A new session when the current one has expired (worker queue).
    void reportSessionStartOnWorkerQueueWithTimestamp(double timestamp, bool appInBackground);
    // Sessions of events logged while the application is not active.
    void processSessionFromEvent(const APMEvent& event);
    void subscribeForAppForegroundBackgroundNotifications();
    // Any thread: refreshes a week-old configuration when internal events
    // are blocklisted.
    void handleAppDidBecomeActiveEvent();
    void handleAppWillResignActiveEvent();

private:
    struct Observers;

    APMEngineContext& shared_;
    APMMeasurement& engine_;
    // Replaced by a wipe on the worker queue, read from the main thread too.
    mutable std::mutex reporterMutex_;
    std::shared_ptr<APMSessionReporter> reporter_;
    std::shared_ptr<Observers> observers_;
};
