// The front end's logging entry, user properties, settings, queries,
// interceptor and listeners, and the shared instance's doors.
#include "analytics/frontend/APMAnalytics.h"
#include "analytics/frontend/APMAnalyticsState.h"

#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMNumericUtil.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMValue.h"
#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "analytics/reporters/APMScreenViewReporter.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/model/APMDataTypeValidator.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMEventNames.h"
#include "analytics/model/APMEventParameters.h"
#include "analytics/model/APMUserAttribute.h"
#include "platform/Clock.h"
#include "platform/GlobalQueue.h"
#include "platform/MainQueue.h"
#include "platform/SerialQueue.h"

namespace apm_frontend_logging {

const QString kAdEventIDParameter = QStringLiteral("_aeid");
constexpr qint64 kMaxEventNameLength = 40;
constexpr qint64 kMaxUserPropertyNameLength = 24;
const QStringList kScreenParameterNames = { APMEventNames::kScreenNameParameter,
    APMEventNames::kScreenClassParameter, APMEventNames::kScreenIDParameter };

} // namespace apm_frontend_logging

using apm_frontend::FrontEndState;
using apm_frontend::isNumberValue;
using apm_frontend::state;
using namespace apm_frontend_logging;

// ---- Events ------------------------------------------------------------------------------------

void APMAnalytics::logErrorEvent(qint64 code, const QString& name, qint64 maxLength, const QVariant& value)
{
    APMLogErrorEventWithValue(code, name, maxLength, value,
        [](const QString& origin, const QString& eventName, const QVariantMap& parameters) {
            logInternalEventWithOrigin(origin, eventName, parameters);
        });
}

void APMAnalytics::logEventWithName(const QString& name, const QVariantMap& parameters)
{
    logEventWithOrigin(apm_engine::kAppOrigin, name, parameters);
}

void APMAnalytics::logEventWithOrigin(const QString& origin, const QString& name, const QVariantMap& parameters)
{
    qint64 failure = 0;
    if (!APMDataTypeValidator::isValidPublicEventName(name, &failure)) {
        logErrorEvent(failure == 4 ? 13 : 2, name, kMaxEventNameLength, QVariant());
        return;
    }
    logEventWithOrigin(origin, true, name, parameters);
}

void APMAnalytics::logEventWithOrigin(
    const QString& origin, bool isPublicEvent, const QString& name, const QVariantMap& parameters)
{
    // The screen-view reporter logs screen views itself, as "_vs".
    if (name == APMEventNames::kScreenViewEvent) {
        screenViewReporter().trackScreenWithParameters(parameters, now());
        return;
    }
    const QVariantMap added = APMHasScreenParameters(parameters) ? QVariantMap() : screenViewReporter().screenParameters();
    FrontEndState& s = state();
    // Taking the time and queueing under one queue keeps timestamps in queue order.
    s.timestampQueue->sync([&] {
        const double timestamp = now();
        queueOperationWithBlock([=] {
            logEventOnSerialQueue(origin, isPublicEvent, name, parameters, timestamp, false, false, added);
        });
    });
}

void APMAnalytics::logEventWithOrigin(const QString& origin, bool isPublicEvent, const QString& name,
    const QVariantMap& parameters, double timestamp, bool ignoreEnabled, bool ignoreInterceptor)
{
    queueOperationWithBlock([=] {
        logEventOnSerialQueue(origin, isPublicEvent, name, parameters, timestamp, ignoreEnabled, ignoreInterceptor, {});
    });
}

void APMAnalytics::logInternalEventWithOrigin(const QString& origin, const QString& name, const QVariantMap& parameters)
{
    logEventWithOrigin(origin, false, name, parameters);
}

void APMAnalytics::logInternalEventWithOrigin(
    const QString& origin, const QString& name, double timestamp, const QVariantMap& parameters)
{
    const QVariantMap added = APMHasScreenParameters(parameters) ? QVariantMap() : screenViewReporter().screenParameters();
    queueOperationWithBlock(
        [=] { logEventOnSerialQueue(origin, false, name, parameters, timestamp, false, false, added); });
}

void APMAnalytics::logEventOnSerialQueue(const QString& origin, bool isPublicEvent, const QString& name,
    QVariantMap parameters, double timestamp, bool ignoreEnabled, bool ignoreInterceptor,
    QVariantMap addedScreenParameters)
{
    qint64 failure = 0;
    if (ignoreInterceptor && addedScreenParameters.isEmpty()
        && APMDataTypeValidator::isValidForwardedEventOrigin(origin, &failure)) {
        for (const QString& screenName : kScreenParameterNames) {
            if (parameters.contains(screenName))
                addedScreenParameters.insert(screenName, parameters.take(screenName));
        }
    }
    APMMeasurement* engine = APMMeasurement::sharedInstance();
    if (!engine)
        return;
    Interceptor interceptor;
    {
        FrontEndState& s = state();
        std::lock_guard locker(s.mutex);
        interceptor = s.interceptor;
    }
    engine->logEventWithOrigin(origin, isPublicEvent, name, parameters, timestamp, state().enabled, ignoreEnabled,
        ignoreInterceptor, std::move(interceptor), addedScreenParameters);
}

// ---- Public user properties ------------------------------------------------------------------

void APMAnalytics::setUserPropertyString(const QVariant& value, const QString& name)
{
    if (name == kAllowPersonalizedAdsProperty) {
        setAllowPersonalizedAds(value);
        return;
    }
    if (!value.isValid()) {
        removeUserAttributeForName(name);
        return;
    }
    qint64 failure = 0;
    if (!APMDataTypeValidator::isValidPublicUserAttributeName(name, &failure)) {
        logErrorEvent(failure == 4 ? 15 : 6, name, kMaxUserPropertyNameLength, QVariant());
        return;
    }
    if (value.typeId() != QMetaType::QString) {
        log(APMMonitor::kLevelError, 25003, QStringLiteral("User property must be NSString. Value"), { value });
        return;
    }
    const std::optional<APMValue> typed = APMValue::initWithString(value);
    if (!typed)
        return;
    if (!APMDataTypeValidator::isValidPublicUserAttributeValue(QVariant::fromValue(*typed), &failure)) {
        if (failure == 2)
            logErrorEvent(7, name, kMaxUserPropertyNameLength, value);
        return;
    }
    sharedInstance().setInternalUserProperty(value, name, apm_engine::kAppOrigin);
}

void APMAnalytics::setAllowPersonalizedAds(const QVariant& value)
{
    queueOperationWithBlock([value] {
        FrontEndState& s = state();
        if (!s.enabled)
            log(APMMonitor::kLevelDebug, 25033, QStringLiteral("Personalized Ads property changed while Analytics is disabled"));
        s.environment.persistedConfig->setAllowPersonalizedAds(value.isValid() ? QVariant(APMBoolValueOf(value).value_or(false)) : QVariant());
        if (!value.isValid() && APMMeasurement::remoteConfig()->DMAConsentEnabled()
            && APMConsentSettingsUtil::adPersonalization())
            APMConsentSettingsUtil::unsetAdPersonalization();
        APMMeasurement* engine = APMMeasurement::sharedInstance();
        if (!s.enabled || !engine)
            return;
        // The engine weighs the stored choice against consent and
        // configuration on its own queue, in the same block that writes the
        // answer.
        engine->setPersonalizedAdsUserPropertyWithTimestamp(now());
    });
}

void APMAnalytics::setUserID(const QVariant& userID)
{
    if (!userID.isValid()) {
        sharedInstance().removeInternalUserAttributeForName(apm_engine::kUserIDProperty);
        sharedInstance().removeInternalUserAttributeForName(apm_engine::kLastAdvertisingIDResetProperty);
        return;
    }
    if (userID.typeId() != QMetaType::QString) {
        log(APMMonitor::kLevelError, 25004, QStringLiteral("User ID must be NSString. User ID"), { userID });
        return;
    }
    sharedInstance().setInternalUserProperty(userID, apm_engine::kUserIDProperty, apm_engine::kAppOrigin);
}

void APMAnalytics::setUserAttributeNumber(const QVariant& number, const QString& name)
{
    qint64 failure = 0;
    if (!APMDataTypeValidator::isValidPublicUserAttributeName(name, &failure)) {
        logErrorEvent(failure == 4 ? 15 : 6, name, kMaxUserPropertyNameLength, QVariant());
        return;
    }
    if (!isNumberValue(number))
        return;
    const QVariant typed = number.typeId() == QMetaType::Double || number.typeId() == QMetaType::Float
        ? QVariant::fromValue(APMValue::initWithDouble(number.toDouble()))
        : QVariant::fromValue(APMValue::initWithInt64(number.toLongLong()));
    sharedInstance().setInternalUserProperty(typed, name, apm_engine::kAutoOrigin);
}

void APMAnalytics::removeUserAttributeForName(const QString& name)
{
    qint64 failure = 0;
    if (!APMDataTypeValidator::isValidPublicUserAttributeName(name, &failure))
        return;
    sharedInstance().removeInternalUserAttributeForName(name);
}

// ---- Settings -------------------------------------------------------------------------------------

void APMAnalytics::setDefaultEventParameters(const std::optional<QVariantMap>& parameters)
{
    queueOperationWithBlock([parameters] {
        APMMeasurement* engine = APMMeasurement::sharedInstance();
        if (state().enabled && engine)
            engine->setDefaultEventParameters(parameters);
    });
}

void APMAnalytics::setSessionTimeoutInterval(double seconds)
{
    dispatchAsyncOnSerialQueue([seconds] {
        if (APMMeasurement* engine = APMMeasurement::sharedInstance())
            engine->setSessionTimeoutInterval(seconds);
    });
}

void APMAnalytics::setUserData(const QVariantMap& userData)
{
    queueOperationWithBlockThenWait([userData] { setUserDataOnSerialQueue(userData); });
}

void APMAnalytics::setUserDataOnSerialQueue(const QVariantMap& userData)
{
    if (!state().enabled) {
        log(APMMonitor::kLevelWarningMonitored, 25044, QStringLiteral("Analytics is disabled. User data not set."));
        return;
    }
    if (APMMeasurement* engine = APMMeasurement::sharedInstance())
        engine->setUserData(userData);
}

void APMAnalytics::sessionIDWithCompletion(SessionIDCompletion completion)
{
    if (!completion) {
        log(APMMonitor::kLevelErrorMonitored, 25050, QStringLiteral("Analytics sessionID completion cannot be nil"));
        return;
    }
    dispatchAsyncOnSerialQueue([completion] {
        APMMeasurement* engine = APMMeasurement::sharedInstance();
        if (!engine || !engine->didInitializeComponents()) {
            completion(0, APMError::apm_errorWithCode(APMError::SessionIDUnavailable, QStringLiteral("Analytics uninitialized")));
            return;
        }
        if (!APMMeasurement::remoteConfig()->isSessionIDEnabled()) {
            completion(0, APMError::apm_errorWithCode(APMError::SessionIDUnavailable, QStringLiteral("Session ID API disabled")));
            return;
        }
        engine->sessionIDWithCompletion([completion](qint64 sessionID, const std::optional<APMError>& error) {
            platform::GlobalQueue::async([completion, sessionID, error] { completion(sessionID, error); });
        });
    });
}

QString APMAnalytics::appInstanceID()
{
    if (APMConsentSettingsUtil::isAnalyticsStorageDenied())
        return QString();
    const QString afterReset = appInstanceIDAfterReset();
    if (!afterReset.isEmpty())
        return afterReset;
    return state().environment.identity->appInstanceID();
}

APMIdentity& APMAnalytics::identity()
{
    return *state().environment.identity;
}

// ---- Queries, interceptor and listeners ---------------------------------------------------------

void APMAnalytics::userPropertiesIncludingInternal(
    bool includeInternal, platform::Executor* queue, UserPropertiesCallback callback)
{
    queueOperationWithBlock([includeInternal, queue, callback] {
        if (!callback) {
            log(APMMonitor::kLevelErrorSilent, 25006, QStringLiteral("Analytics userProperties callback cannot be nil"));
            return;
        }
        if (!queue) {
            log(APMMonitor::kLevelErrorSilent, 25007,
                QStringLiteral("Cannot query for Analytics user properties. Queue cannot be nil"));
            platform::MainQueue::shared().async([callback] { callback({}); });
            return;
        }
        APMMeasurement* engine = APMMeasurement::sharedInstance();
        if (!state().enabled || !engine) {
            log(APMMonitor::kLevelWarningSilent, 25008,
                QStringLiteral("Cannot query for public user properties when Analytics is disabled"));
            queue->async([callback] { callback({}); });
            return;
        }
        engine->userPropertiesIncludingInternal(includeInternal, [queue, callback](const QVariantMap& properties) {
            queue->async([callback, properties] { callback(properties); });
        });
    });
}

void APMAnalytics::setLogEventInterceptor(Interceptor interceptor)
{
    auto store = [interceptor = std::move(interceptor)] {
        FrontEndState& s = state();
        std::lock_guard locker(s.mutex);
        s.interceptor = interceptor;
    };
    if (isCurrentQueueSerialQueue())
        store();
    else
        queueOperationWithBlock(std::move(store));
}

APMAnalytics::ListenerToken APMAnalytics::addLogEventListener(Listener listener)
{
    if (!listener) {
        log(APMMonitor::kLevelErrorSilent, 25012, QStringLiteral("Attempted addition of nil log event listener."));
        return 0;
    }
    FrontEndState& s = state();
    ListenerToken token = 0;
    {
        std::lock_guard locker(s.mutex);
        token = s.nextListenerToken++;
    }
    auto insert = [token, listener = std::move(listener)] {
        FrontEndState& st = state();
        std::lock_guard locker(st.mutex);
        if (!st.listeners)
            st.listeners.emplace();
        st.listeners->insert_or_assign(token, listener);
    };
    if (isCurrentQueueSerialQueue())
        insert();
    else
        queueOperationWithBlock(std::move(insert));
    return token;
}

void APMAnalytics::removeLogEventListener(ListenerToken token)
{
    if (token == 0) {
        log(APMMonitor::kLevelErrorSilent, 25013, QStringLiteral("Attempted removal of nil log event."));
        return;
    }
    queueOperationWithBlock([token] {
        FrontEndState& s = state();
        std::unique_lock locker(s.mutex);
        if (!s.listeners) {
            locker.unlock();
            log(APMMonitor::kLevelErrorSilent, 25014, QStringLiteral("Attempted removal of nil log event listener."));
            return;
        }
        if (s.listeners->erase(token) == 0) {
            locker.unlock();
            log(APMMonitor::kLevelErrorSilent, 25015,
                QStringLiteral("Attempted removal of log event listener with invalid token."));
        }
    });
}

void APMAnalytics::notifyEventListeners(const APMEvent& event)
{
    queueOperationWithBlock([event] { notifyEventListenersOnSerialQueue(event); });
}

void APMAnalytics::notifyEventListenersOnSerialQueue(const APMEvent& event)
{
    std::vector<Listener> listeners;
    {
        FrontEndState& s = state();
        std::lock_guard locker(s.mutex);
        if (s.listeners) {
            for (const auto& [token, listener] : *s.listeners)
                listeners.push_back(listener);
        }
    }
    for (const Listener& listener : listeners)
        listener(event);
}

// ---- The shared instance ----------------------------------------------------------------------------

APMAnalytics& APMAnalytics::sharedInstance()
{
    static APMAnalytics* shared = new APMAnalytics; // lives with the process
    return *shared;
}

namespace APMAnalyticsLoggingAdEvent {

// The whole part of decimal text ("12.5" and "12." are 12, ".5" is 0).
// Text beyond the 64-bit range has no such number and stays text: clamping
// would report an identifier that was never sent, which is our own choice.
std::optional<qint64> adEventNumber(const QString& text)
{
    if (!APMIsDecimalNumberString(text))
        return std::nullopt;
    const QString whole = text.section(QLatin1Char('.'), 0, 0);
    if (whole.isEmpty() || whole == QLatin1String("+") || whole == QLatin1String("-"))
        return 0;
    bool ok = false;
    const qint64 number = whole.toLongLong(&ok);
    return ok ? std::optional<qint64>(number) : std::nullopt;
}

} // namespace APMAnalyticsLoggingAdEvent

void APMAnalytics::logLibraryInternalEventWithOrigin(
    const QString& origin, const QString& name, const QVariantMap& parameters) const
{
    QVariantMap converted = parameters;
    const QVariant adEventID = parameters.value(kAdEventIDParameter);
    if (origin == kAdOrigin && adEventID.typeId() == QMetaType::QString) {
        const std::optional<qint64> number = APMAnalyticsLoggingAdEvent::adEventNumber(adEventID.toString());
        if (number)
            converted.insert(kAdEventIDParameter, QVariant::fromValue(APMValue::initWithInt64(*number)));
        else
            log(APMMonitor::kLevelErrorSilent, 25024, QStringLiteral("AdEvent ID string is not a number"));
    }
    APMAnalytics::logInternalEventWithOrigin(origin, name, converted);
}

void APMAnalytics::setInternalUserProperty(const QVariant& value, const QString& name, const QString& origin) const
{
    qint64 failure = 0;
    if (!APMDataTypeValidator::isValidInternalUserAttributeName(name, &failure)) {
        logErrorEvent(6, name, kMaxUserPropertyNameLength, QVariant());
        return;
    }
    if (origin.isEmpty() || origin.size() >= 33) {
        log(APMMonitor::kLevelErrorSilent, 25005,
            QStringLiteral("Unable to set user property. Origin is invalid. Origin, name"), { origin, name });
        return;
    }
    if (!value.isValid()) {
        removeInternalUserAttributeForName(name);
        return;
    }
    const std::optional<APMValue> typed = APMValue::valueFromObject(value);
    if (!typed)
        return;
    if (!APMDataTypeValidator::isValidInternalUserAttributeValue(QVariant::fromValue(*typed), name, &failure)) {
        if (failure == 2) {
            QVariant text;
            if (typed->isString())
                text = typed->stringValue();
            else if (isNumberValue(value))
                text = value.toString();
            logErrorEvent(7, name, kMaxUserPropertyNameLength, text);
        }
        return;
    }
    const std::optional<APMUserAttribute> attribute = APMUserAttribute::initWithOrigin(origin, name, *typed, now());
    if (!attribute)
        return;
    queueOperationWithBlock([attribute] {
        if (APMMeasurement* engine = APMMeasurement::sharedInstance())
            engine->setUserAttribute(attribute);
    });
}

void APMAnalytics::removeInternalUserAttributeForName(const QString& name) const
{
    queueOperationWithBlock([name] {
        if (APMMeasurement* engine = APMMeasurement::sharedInstance())
            engine->removeUserAttribute(name);
    });
}

void APMAnalytics::maxUserPropertiesForOrigin(
    const QString& origin, platform::Executor* queue, std::function<void(qint64)> callback) const
{
    if (origin.isEmpty()) {
        log(APMMonitor::kLevelErrorSilent, 25009,
            QStringLiteral("Cannot query Analytics for max user properties. Origin must be a non-empty string"));
        return;
    }
    if (!queue) {
        log(APMMonitor::kLevelErrorSilent, 25010,
            QStringLiteral("Cannot query Analytics for max user properties. Queue cannot be nil. Origin"), { origin });
        return;
    }
    if (!callback) {
        log(APMMonitor::kLevelErrorSilent, 25011,
            QStringLiteral("Cannot query Analytics for max user properties. MaxUserProperties callback cannot be nil. Origin"),
            { origin });
        return;
    }
    queueOperationWithBlock([origin, queue, callback] {
        if (APMMeasurement* engine = APMMeasurement::sharedInstance())
            engine->maxUserPropertiesForOrigin(
                origin, [queue, callback](qint64 limit) { queue->async([callback, limit] { callback(limit); }); });
    });
}
