#pragma once

#include "platform/NotificationCenter.h"
#include "platform/SerialQueue.h"

#include <QHash>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>

namespace platform {
class Clock;
} // namespace platform

class APMMonitor;
class APMScreen;

// How long ad units are on screen. Advertising code reports the beginning
// and end of each unit's exposure; overlapping exposures of one unit are
// counted. When a unit's exposure ends, the screen changes, the engagement
// timer fires or the application stops being active, the time is logged:
// "_xu" for one unit and "_xa" for all exposure together (origin "am").
// Time is the boot clock, so wall-clock changes are not exposure; time
// spent while the application was not active is not counted.
class APMAdExposureReporter final {
public:
    static const QString kQueueName; // "APMAdExposureReporter"
    static constexpr int kMaxAdUnits = 100;

    using EventLogger = std::function<void(
        const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp)>;

    struct Environment {
        platform::Clock* clock = nullptr; // null: the system clock
        platform::NotificationCenter* notificationCenter = nullptr; // null: the default centre
        APMMonitor* monitor = nullptr; // null: the library's
        std::function<bool()> isAppActive; // null: the shared screen-view reporter's
        std::function<QVariantMap()> screenParameters; // null: the shared screen-view reporter's
        EventLogger logEvent; // null: the shared engine's logging entry
    };

    static APMAdExposureReporter& sharedInstance();
    static std::shared_ptr<APMAdExposureReporter> create(Environment environment);
    ~APMAdExposureReporter();

    APMAdExposureReporter(const APMAdExposureReporter&) = delete;
    APMAdExposureReporter& operator=(const APMAdExposureReporter&) = delete;

    void beginAdUnitExposure(const QString& adUnitID);
    void endAdUnitExposure(const QString& adUnitID);
    void handleScreenDidChangeFromScreen(const APMScreen* previous, const APMScreen* next);
    void handleEngagementTimer();
    void handleAppDidBecomeActive();
    void handleAppWillResignActiveWithScreen(const APMScreen* screen);
    void logExposureEventsWithScreenParameters(const QVariantMap& screenParameters);

    // Seconds on the boot clock.
    double currentTime() const;
    bool reportingEnabled() const { return reportingEnabled_.load(); }
    void setReportingEnabled(bool enabled) { reportingEnabled_ = enabled; }

    // Waits until the work posted so far has run.
    void waitForPendingWork();

private:
    explicit APMAdExposureReporter(Environment environment);

    void log(qint64 level, qint64 code, const QString& message) const;
    void log(qint64 level, qint64 code, const QString& message, const QVariant& context) const;
    // On the queue.
    void flush(double endTime, const QVariantMap& screenParameters);
    void logUnitEvent(const QString& adUnitID, double endTime, const QVariantMap& screenParameters);
    void logOverallEvent(double endTime, const QVariantMap& screenParameters);

    Environment environment_;
    std::atomic<bool> reportingEnabled_ { true };
    // Only on the queue.
    QHash<QString, qint64> adUnitCounts_;
    QHash<QString, double> adUnitStartTimes_;
    double adExposureStartTime_ = 0;
    platform::SerialQueue queue_ { kQueueName };
    platform::ObserverToken engagementTimer_;
};
