#pragma once

#include "analytics/model/APMScreen.h"
#include "platform/NotificationCenter.h"
#include "platform/SerialQueue.h"

#include <QString>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace platform {
class Clock;
} // namespace platform

class APMAdExposureReporter;
class APMMonitor;
class APMRemoteConfig;
class APMSessionReporter;

// Which screen of the application the user is on. Screens are known only
// from the application's own "screen_view" events: each becomes the internal
// screen-view event "_vs" (with the screen left behind as "_pi", "_pc",
// "_pn"), and every other event is placed on the current screen through
// screenParameters(). It follows the application's activation and passes it,
// and screen changes, to the session and ad exposure reporters.
//
// While the application is not the active one (after it was active once),
// screen views are refused and events carry no screen.
class APMScreenViewReporter final {
public:
    static const QString kQueueName; // "APMScreenViewReporter"

    using EventLogger = std::function<void(
        const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp)>;

    struct Environment {
        platform::Clock* clock = nullptr; // null: the system clock
        // Where the application's state is posted; null: the default centre.
        platform::NotificationCenter* notificationCenter = nullptr;
        APMMonitor* monitor = nullptr; // null: the library's
        std::function<std::shared_ptr<APMRemoteConfig>()> remoteConfig; // null: the engine's
        // The engine's session reporter once its components exist; null: the shared engine's.
        std::function<std::shared_ptr<APMSessionReporter>()> sessionReporter;
        // Null: the shared ad exposure reporter.
        std::function<APMAdExposureReporter*()> adExposureReporter;
        EventLogger logEvent; // null: the shared engine's logging entry
        // The first instance id; null: a random one.
        std::optional<qint64> firstInstanceID;
    };

    // The process's reporter, made on first use (the launch hook makes it).
    static APMScreenViewReporter& sharedInstance();
    static std::shared_ptr<APMScreenViewReporter> create(Environment environment);
    ~APMScreenViewReporter();

    APMScreenViewReporter(const APMScreenViewReporter&) = delete;
    APMScreenViewReporter& operator=(const APMScreenViewReporter&) = delete;

    // Once active, the application stays active for screen views and the
    // screen its events carry, also while the user is in another one.
    bool isAppActive() const { return isAppActive_.load(); }
    // Whether the user is in the application now: from activation to the
    // next resignation. Engagement and exposure are measured only then, so
    // time spent in other applications never counts; our own choice, since
    // a tray program is mostly not in front.
    bool isInForeground() const { return isInForeground_.load(); }
    // A "screen_view" event of the application with its time.
    void trackScreenWithParameters(const QVariantMap& parameters, double timestamp);
    // "_si", "_sc", "_sn" of the current screen as APMValue; empty without one
    // or while the application is not active.
    QVariantMap screenParameters();
    // Screens are named only by "screen_view" events: a warning.
    void setScreenName(const QString& screenName, const QString& screenClass);
    qint64 incrementScreenInstanceID();

    void handleApplicationDidBecomeActive();
    void handleApplicationWillResignActive();

    // Waits until the screen-view work posted so far has run.
    void waitForPendingWork();

private:
    explicit APMScreenViewReporter(Environment environment);

    bool isBlocked() const { return !isAppActive_.load() && appHasBeenInitialized_.load(); }
    void log(qint64 level, qint64 code, const QString& message) const;
    void log(qint64 level, qint64 code, const QString& message, const QVariant& context) const;
    std::shared_ptr<APMRemoteConfig> config() const;
    void postScreenDidChangeNotificationWithPreviousScreen(
        const std::optional<APMScreen>& previous, const APMScreen& next);
    void logViewScreenEventWithPreviousScreen(
        const std::optional<APMScreen>& previous, const APMScreen& next, const QVariantMap& extra);

    Environment environment_;
    std::atomic<bool> isAppActive_ { false };
    std::atomic<bool> appHasBeenInitialized_ { false };
    std::atomic<bool> isInForeground_ { false };
    std::atomic<qint64> currentScreenInstanceID_ { 0 };
    std::optional<APMScreen> currentScreen_; // only on the queue
    platform::SerialQueue queue_ { kQueueName };
    platform::ObserverToken didBecomeActive_;
    platform::ObserverToken willResignActive_;
};
