// The engine's doors for events, default event parameters and user
// properties: each posts its work to the worker queue, where the event
// pipeline takes it, or answers from there on a global queue.
#include "analytics/engine/APMMeasurement.h"
#include "analytics/engine/APMEngineContext.h"
#include "analytics/engine/APMEventPipeline.h"
#include "analytics/engine/APMLifecycleReporter.h"

#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/base/APMValue.h"
#include "analytics/config/APMInfoPlistFileUtil.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMLogNames.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "analytics/reporters/APMSessionState.h"
#include "analytics/store/APMDatabase.h"
#include "platform/GlobalQueue.h"

using namespace apm_engine;

namespace {

const QString kAdNetworkRegistrationKey = QStringLiteral("VIREO_ANALYTICS_REGISTRATION_WITH_AD_NETWORK_ENABLED");

} // namespace

void APMMeasurement::logEventWithOrigin(const QString& origin, bool isPublicEvent, const QString& name,
    const QVariantMap& parameters, double timestamp, bool enabled, bool ignoreEnabled, bool ignoreInterceptor,
    Interceptor interceptor, const QVariantMap& addedScreenParameters)
{
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:2403"),
        [=, interceptor = std::move(interceptor)] {
            if (const auto self = weak.lock(); self && *self)
                (*self)->pipeline_->logEventOnWorkerQueueWithOrigin(origin, isPublicEvent, name, parameters, timestamp, enabled,
                    ignoreEnabled, ignoreInterceptor, interceptor, addedScreenParameters);
        });
}

void APMMeasurement::logInternalEvent(const QString& name, const QVariantMap& parameters)
{
    logEventWithOrigin(kAutoOrigin, false, name, parameters, shared_.now(), true, true, true, nullptr, {});
}

// ---- Default event parameters ---------------------------------------------------

void APMMeasurement::setDefaultEventParameters(const std::optional<QVariantMap>& parameters)
{
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:2518"), [weak, parameters] {
        if (const auto self = weak.lock(); self && *self)
            (*self)->pipeline_->handleSetDefaultEventParametersOnWorkerQueue(parameters);
    });
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
            (*self)->pipeline_->setUserAttributeOnWorkerQueue(*attribute);
    });
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
            (*self)->pipeline_->removeUserAttributeOnWorkerQueue(name);
    });
}

void APMMeasurement::setPersonalizedAdsUserPropertyWithTimestamp(double timestamp)
{
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:2760"), [weak, timestamp] {
        const auto self = weak.lock();
        if (!self || !*self)
            return;
        APMMeasurement& engine = **self;
        if (const std::optional<qint64> disable = engine.lifecycleReporter_->shouldDisableAdPersonalization()) {
            if (const auto attribute = APMUserAttribute::initWithOrigin(
                    kAutoOrigin, kNPAProperty, APMValue::initWithInt64(*disable), timestamp))
                engine.pipeline_->setUserAttributeOnWorkerQueue(*attribute);
        } else {
            engine.pipeline_->removeUserAttributeOnWorkerQueue(kNPAProperty);
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
            (*self)->pipeline_->handleEventOnWorkerQueue(*event);
    });
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
    platform::GlobalQueue::async([callback = std::move(callback)] { callback(APMEventPipeline::kMaxUserPropertiesPerOrigin); });
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
