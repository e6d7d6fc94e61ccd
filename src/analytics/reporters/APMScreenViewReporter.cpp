#include "analytics/reporters/APMScreenViewReporter.h"

#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMNumericUtil.h"
#include "analytics/base/APMValue.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/reporters/APMAdExposureReporter.h"
#include "analytics/reporters/APMEventRoute.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "analytics/reporters/APMMeasurementRemoteConfig.h"
#include "analytics/reporters/APMSessionReporter.h"
#include "analytics/model/APMDataTypeValidator.h"
#include "analytics/model/APMEventNames.h"
#include "analytics/model/APMEventParameters.h"
#include "analytics/model/APMScreen.h"
#include "platform/ApplicationStateNotifier.h"
#include "platform/Clock.h"

const QString APMScreenViewReporter::kQueueName = QStringLiteral("APMScreenViewReporter");

namespace screen_view_reporter {

const QString kScreenNameParameter = QStringLiteral("screen_name");
const QString kScreenClassParameter = QStringLiteral("screen_class");
const QString kManualScreenParameter = QStringLiteral("_mst");

// "_vs", the stored form of "screen_view", as the name table has it.
const QString& internalScreenViewEvent()
{
    static const QString name = APMPublicToInternalEventNames().value(APMEventNames::kScreenViewEvent);
    return name;
}

// A screen text as the application gave it: a string, plain or as APMValue;
// anything else is kept as it came so that validation refuses it.
QVariant screenTextArgument(const QVariant& value)
{
    if (value.canConvert<APMValue>() && value.metaType() == QMetaType::fromType<APMValue>()) {
        const APMValue text = value.value<APMValue>();
        if (text.isString())
            return text.stringValue();
    }
    return value;
}

} // namespace screen_view_reporter

using namespace screen_view_reporter;

APMScreenViewReporter& APMScreenViewReporter::sharedInstance()
{
    // Lives with the process: the application's notifications reach it until the end.
    static APMScreenViewReporter* const shared = [] {
        auto* holder = new std::shared_ptr<APMScreenViewReporter>(create({}));
        return holder->get();
    }();
    return *shared;
}

std::shared_ptr<APMScreenViewReporter> APMScreenViewReporter::create(Environment environment)
{
    std::shared_ptr<APMScreenViewReporter> reporter(new APMScreenViewReporter(std::move(environment)));
    const std::weak_ptr<APMScreenViewReporter> weak = reporter;
    platform::NotificationCenter& center = *reporter->environment_.notificationCenter;
    reporter->didBecomeActive_ = center.addObserver(
        platform::ApplicationStateNotifier::kDidBecomeActive, [weak](const platform::Notification&) {
            if (const auto self = weak.lock())
                self->handleApplicationDidBecomeActive();
        });
    reporter->willResignActive_ = center.addObserver(
        platform::ApplicationStateNotifier::kWillResignActive, [weak](const platform::Notification&) {
            if (const auto self = weak.lock())
                self->handleApplicationWillResignActive();
        });
    return reporter;
}

APMScreenViewReporter::APMScreenViewReporter(Environment environment)
    : environment_(std::move(environment))
{
    if (!environment_.clock)
        environment_.clock = &platform::Clock::system();
    if (!environment_.notificationCenter)
        environment_.notificationCenter = &platform::NotificationCenter::defaultCenter();
    if (!environment_.monitor)
        environment_.monitor = &APMLibrary::monitor();
    if (!environment_.remoteConfig)
        environment_.remoteConfig = [] { return APMMeasurementRemoteConfig::remoteConfig(); };
    if (!environment_.sessionReporter)
        environment_.sessionReporter = &APMEventRoute::engineSessionReporter;
    if (!environment_.adExposureReporter)
        environment_.adExposureReporter = [] { return &APMAdExposureReporter::sharedInstance(); };
    if (!environment_.logEvent)
        environment_.logEvent = &APMEventRoute::logReportedInternalEvent;
    currentScreenInstanceID_ = environment_.firstInstanceID.value_or(APMNumericUtil::randomInt64());
}

APMScreenViewReporter::~APMScreenViewReporter()
{
    didBecomeActive_.reset();
    willResignActive_.reset();
    queue_.stop();
}

void APMScreenViewReporter::log(qint64 level, qint64 code, const QString& message) const
{
    environment_.monitor->logWithLevel(level, code, message);
}

void APMScreenViewReporter::log(
    qint64 level, qint64 code, const QString& message, const QVariant& context) const
{
    environment_.monitor->logWithLevel(level, code, message, context);
}

std::shared_ptr<APMRemoteConfig> APMScreenViewReporter::config() const
{
    return environment_.remoteConfig();
}

qint64 APMScreenViewReporter::incrementScreenInstanceID()
{
    // Wraps around rather than overflowing: ids only need to differ.
    qint64 current = currentScreenInstanceID_.load();
    qint64 next = 0;
    do {
        next = current == std::numeric_limits<qint64>::max() ? std::numeric_limits<qint64>::min()
                                                             : current + 1;
    } while (!currentScreenInstanceID_.compare_exchange_weak(current, next));
    return next;
}

void APMScreenViewReporter::trackScreenWithParameters(const QVariantMap& parameters, double timestamp)
{
    if (isBlocked()) {
        log(APMMonitor::kLevelWarning, 31026,
            QStringLiteral("Cannot log screen view event when the app is not active"));
        return;
    }
    const EventParameterLimits limits = config()->eventParameterLimits();
    const QVariant nameArgument = screenTextArgument(parameters.value(kScreenNameParameter));
    const QVariant classArgument = screenTextArgument(parameters.value(kScreenClassParameter));
    if (nameArgument.isValid()
        && !APMDataTypeValidator::isValidScreenParameterValue(nameArgument, limits, nullptr)) {
        log(APMMonitor::kLevelWarning, 31027, QStringLiteral("Received invalid name for screen"),
            nameArgument);
        return;
    }
    if (classArgument.isValid()
        && !APMDataTypeValidator::isValidScreenParameterValue(classArgument, limits, nullptr)) {
        log(APMMonitor::kLevelWarning, 31028, QStringLiteral("Received invalid class for screen"),
            classArgument);
        return;
    }
    const QString name = nameArgument.isValid() ? nameArgument.toString() : QString();
    const QString className = classArgument.isValid() ? classArgument.toString() : QString();

    APMScreen next(name, className, incrementScreenInstanceID());
    next.setIsManuallyTracked(true);
    next.setEventTimestamp(timestamp);
    environment_.monitor->logWithLevel(APMMonitor::kLevelDebug, 31029,
        QStringLiteral("Logging screen view with screen name and screen class"), name, className);

    std::optional<APMScreen> previous;
    queue_.sync([&] {
        previous = currentScreen_;
        currentScreen_ = next;
    });
    // The task holds no owner: the destructor's stop() runs it first, while
    // every member still lives, and the last owner is never this queue's task.
    queue_.async([this, previous, next, parameters, limits] {
        postScreenDidChangeNotificationWithPreviousScreen(previous, next);
        QVariantMap extra;
        if (const auto cleaned
            = APMCleanEventParameters(parameters, APMEventNames::kScreenViewEvent, true, false, limits))
            extra = APMVariantMapFromParameters(*cleaned);
        extra.remove(kScreenNameParameter);
        extra.remove(kScreenClassParameter);
        logViewScreenEventWithPreviousScreen(previous, next, extra);
    });
}

void APMScreenViewReporter::postScreenDidChangeNotificationWithPreviousScreen(
    const std::optional<APMScreen>& previous, const APMScreen& next)
{
    if (!isAppActive())
        return;
    if (previous) {
        if (const auto session = environment_.sessionReporter())
            session->handleScreenDidChangeFromScreen(&*previous, &next);
    }
    if (APMAdExposureReporter* ads = environment_.adExposureReporter())
        ads->handleScreenDidChangeFromScreen(previous ? &*previous : nullptr, &next);
}

void APMScreenViewReporter::logViewScreenEventWithPreviousScreen(
    const std::optional<APMScreen>& previous, const APMScreen& next, const QVariantMap& extra)
{
    if (isBlocked()) {
        log(APMMonitor::kLevelDebug, 31013,
            QStringLiteral("Screen view event not logged. App is not active."));
        return;
    }
    const std::shared_ptr<APMRemoteConfig> settings = config();
    QVariantMap parameters = extra;
    const QVariantMap screen = APMScreenParametersForScreen(next, settings->eventParameterLimits());
    for (auto it = screen.begin(); it != screen.end(); ++it)
        parameters.insert(it.key(), it.value());
    if (previous) {
        const QVariantMap left
            = APMPreviousScreenParametersForScreen(*previous, settings->eventParameterLimits());
        for (auto it = left.begin(); it != left.end(); ++it)
            parameters.insert(it.key(), it.value());
        if (settings->efficientEngagementReportingEnabled()) {
            if (const auto session = environment_.sessionReporter()) {
                const qint64 ms = session->cutFreerideEngagementTimeMillis();
                if (ms > 0)
                    parameters.insert(apm_engine::kEngagementTimeParameter,
                        QVariant::fromValue(APMValue::initWithInt64(ms)));
            }
        }
    }
    parameters.insert(kManualScreenParameter, QVariant::fromValue(APMValue::initWithInt64(1)));
    if (!APMHasScreenParameters(parameters)) {
        log(APMMonitor::kLevelErrorMonitored, 31012,
            QStringLiteral("Screen view event not logged. Screen parameters were empty"));
        return;
    }
    const bool manual = next.isManuallyTracked();
    environment_.logEvent(manual ? apm_engine::kAppOrigin : apm_engine::kAutoOrigin,
        internalScreenViewEvent(), parameters, manual ? next.eventTimestamp() : environment_.clock->now());
}

QVariantMap APMScreenViewReporter::screenParameters()
{
    if (isBlocked())
        return {};
    QVariantMap parameters;
    queue_.sync([&] {
        if (!currentScreen_)
            return;
        parameters.insert(APMEventNames::kScreenIDParameter,
            QVariant::fromValue(APMValue::initWithInt64(currentScreen_->instanceID())));
        if (!currentScreen_->className().isNull())
            parameters.insert(
                APMEventNames::kScreenClassParameter, APMScreenText(currentScreen_->className()));
        if (!currentScreen_->name().isNull())
            parameters.insert(APMEventNames::kScreenNameParameter, APMScreenText(currentScreen_->name()));
    });
    return parameters;
}

void APMScreenViewReporter::setScreenName(const QString& /*screenName*/, const QString& /*screenClass*/)
{
    log(APMMonitor::kLevelWarning, 31000,
        QStringLiteral("Ignoring call to setScreenName:screenClass:. Screen reporting is disabled."));
}

void APMScreenViewReporter::handleApplicationDidBecomeActive()
{
    isAppActive_ = true;
    appHasBeenInitialized_ = true;
    isInForeground_ = true;
    if (const auto session = environment_.sessionReporter())
        session->handleAppDidBecomeActive();
    if (APMAdExposureReporter* ads = environment_.adExposureReporter())
        ads->handleAppDidBecomeActive();
}

void APMScreenViewReporter::handleApplicationWillResignActive()
{
    if (const auto session = environment_.sessionReporter())
        session->handleAppWillResignActiveWithScreen(nullptr);
    if (APMAdExposureReporter* ads = environment_.adExposureReporter())
        ads->handleAppWillResignActiveWithScreen(nullptr);
    // The active flags stay: a tray program spends most of its time with the
    // user in another application, and its screen views and the screen its
    // events carry must not stop then. Only the time in front ends here,
    // after the engagement up to now was reported.
    isInForeground_ = false;
}

void APMScreenViewReporter::waitForPendingWork()
{
    queue_.sync([] {});
}
