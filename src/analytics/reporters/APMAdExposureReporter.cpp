#include "analytics/reporters/APMAdExposureReporter.h"

#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/model/APMEvent.h"
#include "analytics/base/APMValue.h"
#include "analytics/reporters/APMEventRoute.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "analytics/reporters/APMScreenViewReporter.h"
#include "analytics/reporters/APMSessionReporter.h"
#include "analytics/model/APMEventNames.h"
#include "analytics/model/APMScreen.h"
#include "platform/Clock.h"

const QString APMAdExposureReporter::kQueueName = QStringLiteral("APMAdExposureReporter");

namespace ad_exposure_reporter {

using apm_engine::kOverallExposureEvent;
using apm_engine::kUnitExposureEvent;
const QString kAdUnitParameter = QStringLiteral("_ai");
const QString kExposureTimeParameter = QStringLiteral("_xt");
// Shorter exposure is not reported.
constexpr qint64 kMinExposureMs = 1000;

qint64 exposureMs(double endTime, double startTime)
{
    return APMMillisecondsFromSeconds(endTime - startTime).value_or(0);
}

QVariantMap withExposure(QVariantMap parameters, qint64 ms)
{
    parameters.insert(kExposureTimeParameter, QVariant::fromValue(APMValue::initWithInt64(ms)));
    return parameters;
}

} // namespace ad_exposure_reporter

using namespace ad_exposure_reporter;

APMAdExposureReporter& APMAdExposureReporter::sharedInstance()
{
    // Lives with the process, like the screen-view reporter that calls it.
    static APMAdExposureReporter* const shared = [] {
        auto* holder = new std::shared_ptr<APMAdExposureReporter>(create({}));
        return holder->get();
    }();
    return *shared;
}

std::shared_ptr<APMAdExposureReporter> APMAdExposureReporter::create(Environment environment)
{
    std::shared_ptr<APMAdExposureReporter> reporter(new APMAdExposureReporter(std::move(environment)));
    const std::weak_ptr<APMAdExposureReporter> weak = reporter;
    reporter->engagementTimer_ = reporter->environment_.notificationCenter->addObserver(
        APMSessionReporter::kEngagementTimerDidFireNotification, [weak](const platform::Notification&) {
            if (const auto self = weak.lock())
                self->handleEngagementTimer();
        });
    return reporter;
}

APMAdExposureReporter::APMAdExposureReporter(Environment environment)
    : environment_(std::move(environment))
{
    if (!environment_.clock)
        environment_.clock = &platform::Clock::system();
    if (!environment_.notificationCenter)
        environment_.notificationCenter = &platform::NotificationCenter::defaultCenter();
    if (!environment_.monitor)
        environment_.monitor = &APMLibrary::monitor();
    if (!environment_.isAppActive)
        environment_.isAppActive = [] { return APMScreenViewReporter::sharedInstance().isInForeground(); };
    if (!environment_.screenParameters)
        environment_.screenParameters
            = [] { return APMScreenViewReporter::sharedInstance().screenParameters(); };
    if (!environment_.logEvent)
        environment_.logEvent = &APMEventRoute::logReportedInternalEvent;
}

APMAdExposureReporter::~APMAdExposureReporter()
{
    engagementTimer_.reset();
    queue_.stop();
}

void APMAdExposureReporter::log(qint64 level, qint64 code, const QString& message) const
{
    environment_.monitor->logWithLevel(level, code, message);
}

void APMAdExposureReporter::log(
    qint64 level, qint64 code, const QString& message, const QVariant& context) const
{
    environment_.monitor->logWithLevel(level, code, message, context);
}

double APMAdExposureReporter::currentTime() const
{
    return environment_.clock->monotonic();
}

void APMAdExposureReporter::beginAdUnitExposure(const QString& adUnitID)
{
    if (adUnitID.isEmpty()) {
        log(APMMonitor::kLevelWarningSilent, 1000,
            QStringLiteral("Ignoring call to begin ad unit exposure. Received empty ad unit ID"));
        return;
    }
    const double time = currentTime();
    // The task holds no owner: the destructor's stop() runs it first, while
    // every member still lives, and the last owner is never this queue's task.
    queue_.async([this, adUnitID, time] {
        if (adUnitCounts_.size() >= kMaxAdUnits) {
            log(APMMonitor::kLevelWarningSilent, 1002,
                QStringLiteral("Reached limit on ad units. Ignoring ad unit with ID"), adUnitID);
            return;
        }
        if (adUnitCounts_.isEmpty())
            adExposureStartTime_ = time;
        if (!adUnitStartTimes_.contains(adUnitID))
            adUnitStartTimes_.insert(adUnitID, time);
        adUnitCounts_[adUnitID] += 1;
    });
}

void APMAdExposureReporter::endAdUnitExposure(const QString& adUnitID)
{
    if (adUnitID.isEmpty()) {
        log(APMMonitor::kLevelWarningSilent, 1003,
            QStringLiteral("Ignoring call to end ad unit exposure. Received empty ad unit ID"));
        return;
    }
    const double time = currentTime();
    const QVariantMap screen = environment_.screenParameters();
    queue_.sync([&] {
        const auto count = adUnitCounts_.constFind(adUnitID);
        if (count == adUnitCounts_.cend()) {
            log(APMMonitor::kLevelWarningSilent, 1004,
                QStringLiteral("Unknown ad unit. Ignoring ad unit with ID"), adUnitID);
            return;
        }
        if (*count >= 2) {
            adUnitCounts_[adUnitID] -= 1;
            return;
        }
        logUnitEvent(adUnitID, time, screen);
        adUnitCounts_.remove(adUnitID);
        adUnitStartTimes_.remove(adUnitID);
        if (adUnitCounts_.isEmpty()) {
            logOverallEvent(time, screen);
            adExposureStartTime_ = time;
        }
    });
}

void APMAdExposureReporter::logExposureEventsWithScreenParameters(const QVariantMap& screenParameters)
{
    const double time = currentTime();
    queue_.sync([&] { flush(time, screenParameters); });
}

void APMAdExposureReporter::flush(double endTime, const QVariantMap& screenParameters)
{
    if (adUnitCounts_.isEmpty())
        return;
    for (auto it = adUnitCounts_.cbegin(); it != adUnitCounts_.cend(); ++it)
        logUnitEvent(it.key(), endTime, screenParameters);
    logOverallEvent(endTime, screenParameters);
    // Measurement starts again; the open exposures stay open.
    for (auto it = adUnitStartTimes_.begin(); it != adUnitStartTimes_.end(); ++it)
        it.value() = endTime;
    adExposureStartTime_ = endTime;
}

void APMAdExposureReporter::logUnitEvent(
    const QString& adUnitID, double endTime, const QVariantMap& screenParameters)
{
    if (!reportingEnabled()) {
        log(APMMonitor::kLevelWarningSilent, 1007,
            QStringLiteral("Ad unit exposure not logged. Reporting is disabled."));
        return;
    }
    if (adUnitID.isEmpty()) {
        log(APMMonitor::kLevelWarningSilent, 1008,
            QStringLiteral("Ad unit exposure not logged. Received empty ad unit ID"));
        return;
    }
    if (!environment_.isAppActive()) {
        log(APMMonitor::kLevelVerbose, 1011,
            QStringLiteral("Ad unit exposure not logged. App is not active."));
        return;
    }
    const qint64 ms = exposureMs(endTime, adUnitStartTimes_.value(adUnitID, endTime));
    if (ms < kMinExposureMs) {
        log(APMMonitor::kLevelVerbose, 1009,
            QStringLiteral("Ad unit exposure not logged. Exposure time was less than 1 sec"));
        return;
    }
    QVariantMap parameters = withExposure(screenParameters, ms);
    parameters.insert(
        kAdUnitParameter, QVariant::fromValue(APMValue::initWithString(adUnitID).value_or(APMValue())));
    environment_.logEvent(APMEventNames::kAdOrigin, kUnitExposureEvent, parameters, environment_.clock->now());
}

void APMAdExposureReporter::logOverallEvent(double endTime, const QVariantMap& screenParameters)
{
    if (!reportingEnabled()) {
        log(APMMonitor::kLevelWarningSilent, 1005,
            QStringLiteral("Ad exposure not logged. Reporting is disabled."));
        return;
    }
    if (!environment_.isAppActive()) {
        log(APMMonitor::kLevelVerbose, 1010, QStringLiteral("Ad exposure not logged. App is not active."));
        return;
    }
    const qint64 ms = exposureMs(endTime, adExposureStartTime_);
    if (ms < kMinExposureMs) {
        log(APMMonitor::kLevelVerbose, 1006,
            QStringLiteral("Ad exposure not logged. Exposure time was less than 1 sec"));
        return;
    }
    environment_.logEvent(
        APMEventNames::kAdOrigin, kOverallExposureEvent, withExposure(screenParameters, ms), environment_.clock->now());
}

void APMAdExposureReporter::handleScreenDidChangeFromScreen(
    const APMScreen* previous, const APMScreen* /*next*/)
{
    if (previous)
        logExposureEventsWithScreenParameters(APMScreenParametersForScreen(*previous));
}

void APMAdExposureReporter::handleEngagementTimer()
{
    logExposureEventsWithScreenParameters(environment_.screenParameters());
}

void APMAdExposureReporter::handleAppDidBecomeActive()
{
    const double time = currentTime();
    queue_.sync([&] {
        if (adUnitCounts_.isEmpty())
            return;
        // Time spent while not active is not exposure.
        for (auto it = adUnitStartTimes_.begin(); it != adUnitStartTimes_.end(); ++it)
            it.value() = time;
        adExposureStartTime_ = time;
    });
}

void APMAdExposureReporter::handleAppWillResignActiveWithScreen(const APMScreen* screen)
{
    const double time = currentTime();
    QVariantMap parameters = screen ? APMScreenParametersForScreen(*screen) : QVariantMap();
    if (parameters.isEmpty())
        parameters = environment_.screenParameters();
    queue_.sync([&] { flush(time, parameters); });
}

void APMAdExposureReporter::waitForPendingWork()
{
    queue_.sync([] {});
}
