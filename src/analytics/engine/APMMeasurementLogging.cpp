// The engine's doors for events, default event parameters and user
// properties: each public method posts its work to the worker queue.
#include "analytics/engine/APMMeasurement.h"
#include "analytics/engine/APMEngineContext.h"
#include "analytics/reporters/APMMeasurementNames.h"

#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/base/APMValue.h"
#include "analytics/config/APMInfoPlistFileUtil.h"
#include "analytics/reporters/APMSessionState.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/model/APMDataTypeValidator.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMEventNames.h"
#include "analytics/model/APMEventParameters.h"
#include "analytics/model/APMLogNames.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/store/APMDatabase.h"
#include "platform/NotificationCenter.h"
#include "platform/ApplicationStateNotifier.h"
#include "analytics/reporters/APMScreenViewReporter.h"
#include "platform/GlobalQueue.h"

using namespace apm_engine;

namespace {

constexpr qint64 kErrorCodeUserPropertyLimit = 9;
constexpr qint64 kErrorCodeDefaultParameterArray = 27;
constexpr qint64 kErrorCodeDefaultParameterLimit = 26;
const QString kAdNetworkRegistrationKey = QStringLiteral("VIREO_ANALYTICS_REGISTRATION_WITH_AD_NETWORK_ENABLED");

bool isAdEventForLogging(const APMEvent& event)
{
    return event.origin() == APMEventNames::kAdOrigin || event.name() == apm_engine::kOverallExposureEvent
        || event.name() == apm_engine::kUnitExposureEvent;
}

} // namespace

void APMMeasurement::logEventWithOrigin(const QString& origin, bool isPublicEvent, const QString& name,
    const QVariantMap& parameters, double timestamp, bool enabled, bool ignoreEnabled, bool ignoreInterceptor,
    Interceptor interceptor, const QVariantMap& addedScreenParameters)
{
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:2403"),
        [=, interceptor = std::move(interceptor)] {
            if (const auto self = weak.lock(); self && *self)
                (*self)->logEventOnWorkerQueueWithOrigin(origin, isPublicEvent, name, parameters, timestamp, enabled,
                    ignoreEnabled, ignoreInterceptor, interceptor, addedScreenParameters);
        });
}

void APMMeasurement::logEventOnWorkerQueueWithOrigin(const QString& origin, bool isPublicEvent, const QString& name,
    const QVariantMap& parameters, double timestamp, bool enabled, bool ignoreEnabled, bool ignoreInterceptor,
    const Interceptor& interceptor, const QVariantMap& addedScreenParameters)
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("logEventOnWorkerQueueWithOrigin"));
    const QVariantMap withDefaults = ignoreInterceptor || name == APMEventNames::kErrorEvent
        ? parameters
        : parametersWithAddedDefaultEventParameters(parameters);
    std::optional<APMEvent> event = APMEvent::initWithOrigin(
        origin, isPublicEvent, name, timestamp, 0, withDefaults, remoteConfig()->eventParameterLimits());
    if (!event) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23219, QStringLiteral("Attempted to log nil event. Origin, name, parameters"),
            origin, name);
        return;
    }
    if (!addedScreenParameters.isEmpty())
        event->addScreenParameters(addedScreenParameters);
    if ((!enabled && !ignoreEnabled) || isAdEventForLogging(*event)) {
        logEventOnWorkerQueue(*event, false);
        return;
    }
    if (!ignoreInterceptor && isPublicEvent && interceptor) {
        QVariantMap intercepted = withDefaults;
        for (auto it = addedScreenParameters.begin(); it != addedScreenParameters.end(); ++it)
            intercepted.insert(it.key(), it.value());
        interceptor(origin, name, intercepted, timestamp);
        return;
    }
    logEventOnWorkerQueue(*event, true);
}

void APMMeasurement::handleInternalEventOnWorkerQueue(APMEvent event)
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("handleInternalEventOnWorkerQueue"));
    // Internal events of the engine's components get the default event
    // parameters (not error events) and no interceptor; the front end's
    // listeners hear of them as of any other.
    if (event.name() != APMEventNames::kErrorEvent) {
        if (const std::optional<QVariantMap> defaults = shared_.persistedConfig->defaultEventParameters())
            event.applyParameters(*defaults);
    }
    logEventOnWorkerQueue(event, true);
}

void APMMeasurement::logInternalEvent(const QString& name, const QVariantMap& parameters)
{
    logEventWithOrigin(kAutoOrigin, false, name, parameters, shared_.now(), true, true, true, nullptr, {});
}

std::function<void(const QString&, const QString&, const QVariantMap&)> APMMeasurement::internalEventLogger()
{
    return [this](const QString& origin, const QString& name, const QVariantMap& parameters) {
        logEventWithOrigin(origin, false, name, parameters, shared_.now(), true, true, true, nullptr, {});
    };
}

// ---- Default event parameters ---------------------------------------------------

void APMMeasurement::setDefaultEventParameters(const std::optional<QVariantMap>& parameters)
{
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:2518"), [weak, parameters] {
        if (const auto self = weak.lock(); self && *self)
            (*self)->handleSetDefaultEventParametersOnWorkerQueue(parameters);
    });
}

void APMMeasurement::handleSetDefaultEventParametersOnWorkerQueue(const std::optional<QVariantMap>& parameters)
{
    if (!shared_.enabled) {
        shared_.log(APMMonitor::kLevelDebug, 23211, QStringLiteral("Analytics is disabled. Default event parameters not updated"));
        return;
    }
    QVariantMap defaults = parameters ? shared_.persistedConfig->defaultEventParameters().value_or(QVariantMap()) : QVariantMap();
    const EventParameterLimits limits = remoteConfig()->eventParameterLimits();
    for (auto it = parameters.value_or(QVariantMap()).cbegin(); parameters && it != parameters->cend(); ++it) {
        const QVariant& value = it.value();
        const bool isNull = value.isNull() && value.typeId() != QMetaType::QString;
        const bool isPlain = value.typeId() == QMetaType::QString || value.canConvert<double>();
        if (!isNull && (!isPlain || value.typeId() == QMetaType::QVariantList)) {
            shared_.log(APMMonitor::kLevelWarningMonitored, 23213,
                QStringLiteral("Invalid key in default event parameters. Parameter ignored."), it.key());
            if (value.typeId() == QMetaType::QVariantList)
                APMLogErrorEvent(kErrorCodeDefaultParameterArray, internalEventLogger());
            continue;
        }
        qint64 failure = 0;
        if (!APMDataTypeValidator::isValidPublicEventParameterName(it.key(), &failure)) {
            shared_.log(APMMonitor::kLevelWarningMonitored, 23214, QStringLiteral("Invalid default event parameter name. Name"),
                it.key());
            continue;
        }
        if (isNull) {
            defaults.remove(it.key());
            continue;
        }
        const std::optional<APMValue> typed = APMValue::valueFromObject(value);
        if (typed && APMDataTypeValidator::isValidPublicEventParameterValue(QVariant::fromValue(*typed), limits, &failure))
            defaults.insert(it.key(), value);
    }
    const qint64 limit = remoteConfig()->maxPublicEventParams();
    if (defaults.size() > limit) {
        EventParameters typed;
        for (auto it = defaults.cbegin(); it != defaults.cend(); ++it) {
            if (const auto value = APMValue::valueFromObject(it.value()))
                typed.insert(it.key(), *value);
        }
        APMTrimPublicParametersToLimit(typed, limit);
        QVariantMap trimmed;
        for (auto it = typed.cbegin(); it != typed.cend(); ++it)
            trimmed.insert(it.key(), defaults.value(it.key()));
        defaults = trimmed;
        APMLogErrorEvent(kErrorCodeDefaultParameterLimit, internalEventLogger());
        shared_.log(APMMonitor::kLevelWarningMonitored, 23215,
            QStringLiteral("Too many default event parameters set. Discarding beyond event parameter limit"));
    }
    shared_.log(APMMonitor::kLevelDebug, 23216, QStringLiteral("Updating default event parameters. Parameters"),
        APMParametersDescription(QVariant(defaults)));
    shared_.persistedConfig->setDefaultEventParameters(defaults);
}

QVariantMap APMMeasurement::parametersWithAddedDefaultEventParameters(const QVariantMap& parameters)
{
    const std::optional<QVariantMap> defaults = shared_.persistedConfig->defaultEventParameters();
    if (!defaults || defaults->isEmpty())
        return parameters;
    QVariantMap merged = *defaults;
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
        merged.insert(it.key(), it.value());
    return merged;
}

// ---- User properties -------------------------------------------------------------

void APMMeasurement::setUserAttribute(const std::optional<APMUserAttribute>& attribute)
{
    if (!attribute) {
        shared_.log(APMMonitor::kLevelWarning, 23079, QStringLiteral("Attempted to set nil user property"));
        return;
    }
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:2745"), [weak, attribute] {
        if (const auto self = weak.lock(); self && *self)
            (*self)->setUserAttributeOnWorkerQueue(*attribute);
    });
}

void APMMeasurement::setUserAttributeOnWorkerQueue(const APMUserAttribute& attribute)
{
    if (!shared_.enabled) {
        shared_.log(APMMonitor::kLevelDebug, 23081, QStringLiteral("Analytics is disabled. User property not set"));
        return;
    }
    setUserPropertyInDatabaseOnWorkerQueue(attribute);
}

bool APMMeasurement::setUserPropertyInDatabaseOnWorkerQueue(const APMUserAttribute& attribute)
{
    APMError error;
    const std::optional<bool> exists = shared_.database->containsUserAttributeWithName(attribute.name(), &error);
    if (!exists) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23082, QStringLiteral("Unable to query existence of user property. Name, error"),
            APMUserPropertyNameForLog(attribute.name()), error.description());
        return false;
    }
    if (*exists && attribute.name() == kUserIDProperty) {
        const std::optional<APMUserAttribute> stored = shared_.database->userAttributeWithName(kUserIDProperty, nullptr);
        if (stored && stored->value().plainValue().toString() != attribute.value().plainValue().toString()) {
            shared_.identity->resetSessionStitchingToken();
            shared_.database->deleteUserAttributeWithName(kLastAdvertisingIDResetProperty, nullptr);
        }
    }
    // The stored personalized-ads choice and the ad-personalization consent go together.
    if (attribute.name() == kNPAProperty && attribute.value().isInt64() && remoteConfig()->DMAConsentEnabled())
        updateAdPersonalizationConsentFromNPAValue(attribute.value().int64Value());
    if (!*exists) {
        const std::optional<qint64> count = attribute.isPublic()
            ? shared_.database->publicUserAttributeCount(&error)
            : shared_.database->userAttributeCountForOrigin(attribute.origin(), &error);
        if (!count) {
            shared_.log(APMMonitor::kLevelErrorMonitored, 23083, QStringLiteral("Unable to query user property count. Origin, error"),
                attribute.origin(), error.description());
            return false;
        }
        const qint64 limit = attribute.isPublic() ? qint64(remoteConfig()->maxPublicUserProperties())
                                                  : kMaxUserPropertiesPerOrigin;
        if (*count >= limit) {
            shared_.log(APMMonitor::kLevelWarning, 23084,
                QStringLiteral("Unable to set user property. Reached limit on set user properties for origin. Origin, name, value"),
                attribute.origin(), APMUserPropertyNameForLog(attribute.name()));
            APMLogErrorEvent(kErrorCodeUserPropertyLimit, internalEventLogger());
            return false;
        }
    }
    if (!shared_.database->updateUserAttribute(attribute, &error)) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23085, QStringLiteral("Unable to set user property. Name, value, error"),
            APMUserPropertyNameForLog(attribute.name()), error.description());
        return false;
    }
    shared_.log(APMMonitor::kLevelDebug, 23087, QStringLiteral("User property set. Name, value"),
        APMUserPropertyNameForLog(attribute.name()), attribute.value().plainValue());
    return true;
}

void APMMeasurement::removeUserAttribute(const QString& name)
{
    if (name.isEmpty()) {
        shared_.log(APMMonitor::kLevelWarning, 23074, QStringLiteral("Attempted to remove nil user property"));
        return;
    }
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:2700"), [weak, name] {
        if (const auto self = weak.lock(); self && *self)
            (*self)->removeUserAttributeOnWorkerQueue(name);
    });
}

void APMMeasurement::removeUserAttributeOnWorkerQueue(const QString& name)
{
    if (!shared_.enabled) {
        shared_.log(APMMonitor::kLevelDebug, 23076, QStringLiteral("Analytics is disabled. User property not removed"));
        return;
    }
    if (name == kUserIDProperty)
        shared_.identity->resetSessionStitchingToken();
    APMError error;
    if (shared_.database->deleteUserAttributeWithName(name, &error))
        shared_.log(APMMonitor::kLevelDebug, 23078, QStringLiteral("User property removed. Name"), APMUserPropertyNameForLog(name));
    else
        shared_.log(APMMonitor::kLevelErrorMonitored, 23077, QStringLiteral("Unable to remove user property. Name, error"),
            APMUserPropertyNameForLog(name), error.description());
}

void APMMeasurement::setPersonalizedAdsUserPropertyWithTimestamp(double timestamp)
{
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:2760"), [weak, timestamp] {
        const auto self = weak.lock();
        if (!self || !*self)
            return;
        APMMeasurement& engine = **self;
        if (const std::optional<qint64> disable = engine.shouldDisableAdPersonalization()) {
            if (const auto attribute = APMUserAttribute::initWithOrigin(
                    kAutoOrigin, kNPAProperty, APMValue::initWithInt64(*disable), timestamp))
                engine.setUserAttributeOnWorkerQueue(*attribute);
        } else {
            engine.removeUserAttributeOnWorkerQueue(kNPAProperty);
        }
    });
}

void APMMeasurement::userAttributeWithName(
    const QString& name, std::function<void(std::optional<APMUserAttribute>)> callback)
{
    if (!callback) {
        shared_.log(APMMonitor::kLevelError, 23088, QStringLiteral("userAttributeWithName callback is nil"));
        return;
    }
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:2887"), [weak, name, callback] {
        const auto self = weak.lock();
        if (!self || !*self)
            return;
        APMError error;
        std::optional<APMUserAttribute> attribute
            = (*self)->shared_.database ? (*self)->shared_.database->userAttributeWithName(name, &error) : std::nullopt;
        if (!attribute && error.code() != 0)
            (*self)->shared_.log(APMMonitor::kLevelErrorMonitored, 23089, QStringLiteral("Unable to get user attribute by name. Name"),
                APMUserPropertyNameForLog(name));
        platform::GlobalQueue::async([callback, attribute] { callback(attribute); });
    });
}

void APMMeasurement::userPropertiesIncludingInternal(bool includeInternal, std::function<void(QVariantMap)> callback)
{
    if (!callback) {
        shared_.log(APMMonitor::kLevelError, 23090, QStringLiteral("Unable to retrieve user properties. Callback is nil"));
        return;
    }
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:2942"), [weak, includeInternal, callback] {
        const auto self = weak.lock();
        if (!self || !*self)
            return;
        APMError error;
        const auto attributes = (*self)->shared_.database
            ? (*self)->shared_.database->userAttributesIncludingInternal(includeInternal, &error)
            : std::nullopt;
        if (!attributes)
            (*self)->shared_.log(
                APMMonitor::kLevelErrorMonitored, 23091, QStringLiteral("Unable to retrieve user properties. Error"), error.description());
        QVariantMap result;
        for (const APMUserAttribute& attribute : attributes.value_or(QList<APMUserAttribute>()))
            result.insert(attribute.name(), attribute.value().plainValue());
        platform::GlobalQueue::async([callback, result] { callback(result); });
    });
}

// ---- Doors of the front end -------------------------------------------------------

void APMMeasurement::logEvent(const std::optional<APMEvent>& event)
{
    if (!event) {
        shared_.log(APMMonitor::kLevelWarningMonitored, 23048, QStringLiteral("Attempted to log nil event"));
        return;
    }
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:2509"), [weak, event] {
        if (const auto self = weak.lock(); self && *self)
            (*self)->handleEventOnWorkerQueue(*event);
    });
}

void APMMeasurement::logEventOnWorkerQueue(const APMEvent& event, bool notifyEventListeners)
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("logEventOnWorkerQueue"));
    // The copy is taken first: handling may not change what listeners hear.
    const APMEvent announced = event;
    handleEventOnWorkerQueue(event);
    if (notifyEventListeners && shared_.environment.eventListeners)
        shared_.environment.eventListeners(announced);
}

void APMMeasurement::maxUserPropertiesForOrigin(const QString& origin, std::function<void(qint64)> callback)
{
    if (origin.isEmpty()) {
        shared_.log(APMMonitor::kLevelError, 23093, QStringLiteral("Origin for querying MaxUserProperties cannot be nil"));
        return;
    }
    if (!callback) {
        shared_.log(APMMonitor::kLevelError, 23094, QStringLiteral("MaxUserProperties callback cannot be nil. Origin"), origin);
        return;
    }
    platform::GlobalQueue::async([callback = std::move(callback)] { callback(kMaxUserPropertiesPerOrigin); });
}

bool APMMeasurement::shouldAllowAdNetworkRegistration() const
{
    return shouldAllowAdNetworkRegistrationWithInfoDictionary(APMInfoPlistFileUtil::mainBundleInfoDictionary());
}

bool APMMeasurement::shouldAllowAdNetworkRegistrationWithInfoDictionary(const QVariantMap& infoDictionary)
{
    const QVariant value = infoDictionary.value(kAdNetworkRegistrationKey);
    const int type = value.typeId();
    if (type == QMetaType::Bool || type == QMetaType::Int || type == QMetaType::LongLong || type == QMetaType::Double)
        return value.toDouble() != 0;
    return true;
}

bool APMMeasurement::hasUserPropertyUserIDOnWorkerQueue()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("hasUserPropertyUserIDOnWorkerQueue"));
    if (!shared_.database)
        return false;
    return shared_.database->containsUserAttributeWithName(kUserIDProperty, nullptr).value_or(false);
}

void APMMeasurement::sessionIDWithCompletion(SessionIDCompletion completion)
{
    if (!completion)
        return;
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:3098"), [weak, completion] {
        const auto answerError = [&completion](const QString& description) {
            completion(0, APMError::apm_errorWithCode(APMError::SessionIDUnavailable, description));
        };
        const auto self = weak.lock();
        if (!self || !*self) {
            answerError(QStringLiteral("Analytics deallocated"));
            return;
        }
        APMMeasurement& engine = **self;
        if (!engine.shared_.enabled) {
            answerError(QStringLiteral("Analytics disabled"));
            return;
        }
        if (engine.shared_.environment.session->isSessionExpired()) {
            answerError(QStringLiteral("Session expired"));
            return;
        }
        const std::optional<APMUserAttribute> stored
            = engine.shared_.database ? engine.shared_.database->userAttributeWithName(kSessionIDProperty, nullptr) : std::nullopt;
        // The reporter stores the identifier as an integer; anything else is no identifier.
        if (!stored || !stored->value().isInt64()) {
            answerError(QStringLiteral("Session ID not found"));
            return;
        }
        completion(stored->value().int64Value(), std::nullopt);
    });
}

// ---- Internal events of the engine and its reporters ----------------------------------

void APMMeasurement::logInternalEventWithOrigin(
    const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp)
{
    if (shared_.environment.logInternalEventWithOrigin)
        shared_.environment.logInternalEventWithOrigin(origin, name, parameters, timestamp);
    else
        logOwnInternalEvent(origin, name, parameters, timestamp);
}

void APMMeasurement::logInternalEventWithOrigin(
    const QString& origin, const QString& name, const QVariantMap& parameters)
{
    if (shared_.environment.logInternalEventWithOrigin) {
        shared_.environment.logInternalEventWithOrigin(origin, name, parameters, shared_.now());
        return;
    }
    logEventWithOrigin(origin, false, name, parameters, shared_.now(), true, true, true, nullptr, {});
}

void APMMeasurement::logOwnInternalEvent(
    const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp)
{
    const QVariantMap screen
        = APMHasScreenParameters(parameters) ? QVariantMap() : screenViewReporter().screenParameters();
    logEventWithOrigin(origin, false, name, parameters, timestamp, true, true, true, nullptr, screen);
}

void APMMeasurement::logInternalEventOnSharedInstance(
    const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp)
{
    if (APMMeasurement* engine = sharedInstance())
        engine->logOwnInternalEvent(origin, name, parameters, timestamp);
}

// ---- Launch ---------------------------------------------------------------------------

void APMMeasurement::subscribeForAppDidFinishLaunchingNotifications(platform::NotificationCenter& center)
{
    // Held for the rest of the process.
    static auto* token = new platform::ObserverToken;
    *token = center.addObserver(
        platform::ApplicationStateNotifier::kDidFinishLaunching, &handleAppDidFinishLaunching);
}

void APMMeasurement::handleAppDidFinishLaunching(const platform::Notification& notification)
{
    // The reporter must follow the application's state from its first activation.
    APMScreenViewReporter::sharedInstance();
    if (!notification.userInfo.isEmpty())
        handleStoredURLAfterAppLaunchWithNotification(notification.userInfo);
}
