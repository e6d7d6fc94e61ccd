#include "analytics/interface/BASAnalyticsConnector.h"
#include "analytics/interface/BASAnalytics.h"
#include "analytics/interface/BASApp.h"
#include "analytics/interface/BASConnectorUtils.h"

#include "analytics/userproperties/APMConditionalUserPropertyController.h"
#include "analytics/base/APMConfigStore.h"
#include "analytics/base/APMValue.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/model/APMConditionalUserProperty.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMEventNames.h"
#include "analytics/model/APMEventParameters.h"
#include "platform/Clock.h"
#include "platform/MainQueue.h"
#include "platform/SerialQueue.h"

#include <condition_variable>

const QString BASAnalyticsConnector::kQueueName = QStringLiteral("com.vireo.analytics_connector.queue");
const QString BASAnalyticsConnector::kLibraryName = QStringLiteral("basalt-analytics");
const QString& BASAnalyticsConnector::kLibraryVersion = BASAnalytics::kTopLevelVersion;
const QString BASAnalyticsConnector::kInteropProtocol = QStringLiteral("BASAnalyticsInterop");

namespace bas_connector {

const QString kCampaignIntegrationParameter = QStringLiteral("_cis");
const QString kAppExceptionEvent = QStringLiteral("_ae");
const QString kCrashOrigin = QStringLiteral("clx");

// A typed value as its plain number or text; anything else as it is.
QVariant plainValue(const QVariant& value)
{
    return value.metaType() == QMetaType::fromType<APMValue>() ? value.value<APMValue>().plainValue() : value;
}

bool isPlainNumberOrText(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::QString:
        return true;
    default:
        return false;
    }
}

// One answer handed from another queue to a caller that waits for it.
struct MaxUserPropertiesAnswer {
    std::mutex mutex;
    std::condition_variable arrived;
    std::optional<qint64> value;
};

} // namespace bas_connector

using namespace bas_connector;

void BASAnalyticsConnector::load()
{
    BASApp::registerInternalLibrary(kLibraryName, kLibraryVersion);
}

QList<BASComponent<BASAnalyticsInterop>> BASAnalyticsConnector::componentsToRegister()
{
    BASComponent<BASAnalyticsInterop> component;
    component.protocol = kInteropProtocol;
    component.timing = BASComponent<BASAnalyticsInterop>::Lazy;
    component.creationBlock = [](bool* isCacheable) -> std::shared_ptr<BASAnalyticsInterop> {
        if (isCacheable)
            *isCacheable = false;
        return create();
    };
    return { component };
}

platform::SerialQueue& BASAnalyticsConnector::queue()
{
    static platform::SerialQueue* shared = new platform::SerialQueue(kQueueName); // lives with the process
    return *shared;
}

std::shared_ptr<BASAnalyticsConnector> BASAnalyticsConnector::create()
{
    return create(Environment());
}

std::shared_ptr<BASAnalyticsConnector> BASAnalyticsConnector::create(Environment environment)
{
    return std::shared_ptr<BASAnalyticsConnector>(new BASAnalyticsConnector(std::move(environment)));
}

BASAnalyticsConnector::BASAnalyticsConnector(Environment environment)
    : environment_(std::move(environment))
{
}

BASAnalyticsConnector::~BASAnalyticsConnector()
{
    if (logEventListener_ != 0)
        BASAnalytics::removeLogEventListener(logEventListener_);
}

APMConditionalUserPropertyController* BASAnalyticsConnector::controller() const
{
    if (environment_.controller)
        return environment_.controller();
    const APMMeasurement* engine = APMMeasurement::sharedInstance();
    return engine ? engine->conditionalUserPropertyController() : nullptr;
}

// ---- Events and user properties ----------------------------------------------------------

void BASAnalyticsConnector::logEventWithOrigin(const QString& origin, const QString& name, const QVariantMap& parameters)
{
    if (!BASConnectorUtils::isOriginAllowed(origin) || !BASConnectorUtils::shouldLogEventWithName(name, parameters))
        return;
    QVariantMap copy = parameters;
    if (name == APMEventNames::kCampaignEvent) {
        static const QMap<QString, QString> integrations {
            { QStringLiteral("bcm"), QStringLiteral("bcm_integration") },
            { QStringLiteral("bdl"), QStringLiteral("bdl_integration") },
            { QStringLiteral("biam"), QStringLiteral("biam_integration") },
            { QStringLiteral("brc"), QStringLiteral("brc_integration") },
        };
        if (integrations.contains(origin))
            copy.insert(kCampaignIntegrationParameter, integrations.value(origin));
    }
    if (name == kAppExceptionEvent && origin == kCrashOrigin)
        copy.insert(APMEventNames::kRealtimeParameter, qint64(1));
    BASAnalytics::logInternalEventWithOrigin(origin, name, copy);
}

void BASAnalyticsConnector::setUserPropertyWithOrigin(const QString& origin, const QString& name, const QVariant& value)
{
    if (!BASConnectorUtils::isOriginAllowed(origin) || !BASConnectorUtils::isUserPropertyAllowed(name, origin))
        return;
    BASAnalytics::sharedInstance().setInternalUserProperty(value, name, origin);
}

void BASAnalyticsConnector::getUserPropertiesWithCallback(std::function<void(const QVariantMap&)> callback)
{
    if (!callback)
        return;
    BASAnalytics::userPropertiesIncludingInternal(true, &queue(), [callback](const QVariantMap& properties) {
        QVariantMap allowed;
        for (auto it = properties.cbegin(); it != properties.cend(); ++it) {
            if (BASConnectorUtils::isUserPropertyAllowedForQuery(it.key()))
                allowed.insert(it.key(), it.value());
        }
        callback(allowed);
    });
}

qint64 BASAnalyticsConnector::maxUserProperties(const QString& origin)
{
    auto answer = std::make_shared<MaxUserPropertiesAnswer>();
    BASAnalytics::sharedInstance().maxUserPropertiesForOrigin(origin, &queue(), [answer](qint64 limit) {
        std::lock_guard locker(answer->mutex);
        answer->value = limit;
        answer->arrived.notify_all();
    });
    std::unique_lock locker(answer->mutex);
    const auto wait = std::chrono::duration<double>(std::max(0.0, environment_.maxUserPropertiesWait));
    answer->arrived.wait_for(locker, wait, [&answer] { return answer->value.has_value(); });
    return answer->value.value_or(0);
}

// ---- Conditional user properties ----------------------------------------------------------

std::optional<APMEvent> BASAnalyticsConnector::eventFromDictionary(const QVariantMap& dictionary)
{
    const QVariant timestamp = dictionary.value(QStringLiteral("timestamp"));
    const double when = timestamp.canConvert<double>() && timestamp.isValid() ? timestamp.toDouble()
                                                                              : platform::Clock::system().now();
    return APMEvent::initWithOrigin(dictionary.value(QStringLiteral("origin")).toString(), false,
        dictionary.value(QStringLiteral("name")).toString(), when, 0,
        dictionary.value(QStringLiteral("parameters")).toMap(), APMMeasurement::remoteConfig()->eventParameterLimits());
}

std::optional<APMEvent> BASAnalyticsConnector::eventWithOrigin(
    const QString& origin, const QString& eventName, const QVariantMap& parameters)
{
    return APMEvent::initWithOrigin(origin, false, eventName, platform::Clock::system().now(), 0, parameters,
        APMMeasurement::remoteConfig()->eventParameterLimits());
}

void BASAnalyticsConnector::setConditionalUserProperty(const QVariantMap& dictionary)
{
    if (dictionary.isEmpty())
        return;
    APMConditionalUserProperty property;
    for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it) {
        const QString& key = it.key();
        const QVariant& value = it.value();
        if (key == QLatin1String("expiredEvent"))
            property.setExpiredEvent(eventFromDictionary(value.toMap()));
        else if (key == QLatin1String("timedOutEvent"))
            property.setTimedOutEvent(eventFromDictionary(value.toMap()));
        else if (key == QLatin1String("triggeredEvent"))
            property.setTriggeredEvent(eventFromDictionary(value.toMap()));
        else if (key == QLatin1String("value"))
            property.setValue(value.typeId() == QMetaType::QString ? APMValue::initWithString(value)
                                                                   : APMValue::valueFromObject(value));
        else if (key == QLatin1String("creationTimestamp") && APMConfigStore::isNumber(value))
            property.setCreationTimestamp(value.toDouble());
        else if (key == QLatin1String("name"))
            property.setName(value.toString());
        else if (key == QLatin1String("origin"))
            property.setOrigin(value.toString());
        else if (key == QLatin1String("triggerEventName"))
            property.setTriggerEventName(value.isValid() ? std::optional<QString>(value.toString()) : std::nullopt);
        else if (key == QLatin1String("triggerTimeout"))
            property.setTriggerTimeout(value.toDouble());
        else if (key == QLatin1String("timeToLive"))
            property.setTimeToLive(value.toDouble());
        else if (key == QLatin1String("active"))
            property.setActive(value.toBool());
        else if (key == QLatin1String("triggeredTimestamp"))
            property.setTriggeredTimestamp(value.toDouble());
        // Any other key names nothing a property has: ignored.
    }
    if (APMConditionalUserPropertyController* target = controller())
        target->setConditionalUserProperty(property, property.name());
}

void BASAnalyticsConnector::clearConditionalUserProperty(
    const QString&, const QString& origin, const QString& clearEventName, const QVariantMap& clearEventParameters)
{
    if (clearEventParameters.isEmpty())
        return;
    const QString key = clearEventParameters.firstKey();
    const QVariant value = clearEventParameters.first();
    if (key.isEmpty() || !value.isValid())
        return;
    const std::optional<APMEvent> clearEvent = eventWithOrigin(origin, clearEventName, { { key, value } });
    if (APMConditionalUserPropertyController* target = controller())
        target->clearConditionalUserPropertyWithClearEvent(clearEvent, key);
}

QList<QVariantMap> BASAnalyticsConnector::conditionalUserProperties(const QString& origin, const QString& propertyNamePrefix)
{
    QList<QVariantMap> result;
    APMConditionalUserPropertyController* target = controller();
    if (!target)
        return result;
    const auto properties = target->conditionalUserPropertiesWithNamePrefix(propertyNamePrefix, origin);
    for (const APMConditionalUserProperty& property : properties.value_or(QList<APMConditionalUserProperty>())) {
        if (property.name().isEmpty() || !property.value() || !property.value()->isString())
            continue;
        result.append({ { QStringLiteral("name"), property.name() },
            { QStringLiteral("value"), property.value()->stringValue() } });
    }
    return result;
}

// ---- Listeners --------------------------------------------------------------------------------

void BASAnalyticsConnector::registerAnalyticsListener(
    std::shared_ptr<BASAnalyticsInteropListener> listener, const QString& origin)
{
    if (!listener || !BASConnectorUtils::isListenerOriginAllowed(origin))
        return;
    std::lock_guard locker(mutex_);
    if (logEventListener_ != 0 && listeners_) {
        listeners_->insert(origin, listener);
        return;
    }
    listeners_.emplace();
    listeners_->insert(origin, listener);
    const std::weak_ptr<BASAnalyticsConnector> weak = weak_from_this();
    logEventListener_ = BASAnalytics::addLogEventListener([weak](const APMEvent& event) {
        if (const auto connector = weak.lock())
            connector->handleLoggedEvent(event);
    });
}

void BASAnalyticsConnector::unregisterAnalyticsListenerWithOrigin(const QString& origin)
{
    APMAnalytics::ListenerToken token = 0;
    {
        std::lock_guard locker(mutex_);
        if (!listeners_)
            return;
        listeners_->remove(origin);
        if (!listeners_->isEmpty())
            return;
        token = logEventListener_;
        logEventListener_ = 0;
        listeners_.reset();
    }
    if (token != 0)
        BASAnalytics::removeLogEventListener(token);
}

void BASAnalyticsConnector::handleLoggedEvent(const APMEvent& event)
{
    if (!BASConnectorUtils::isEventNameAllowedForListeners(event.name()))
        return;
    std::vector<std::shared_ptr<BASAnalyticsInteropListener>> targets;
    {
        std::lock_guard locker(mutex_);
        if (!listeners_)
            return;
        const auto own = listeners_->constFind(event.origin());
        if (own != listeners_->cend()) {
            targets.push_back(own.value());
        } else if (BASConnectorUtils::isAppOrigin(event.origin())) {
            for (const auto& listener : *listeners_)
                targets.push_back(listener);
        }
    }
    if (targets.empty())
        return;
    const QVariantMap parameters = APMVariantMapFromParameters(event.parameters());
    const QString name = event.name();
    platform::Executor* listenerQueue = environment_.listenerQueue;
    queue().async([targets, parameters, name, listenerQueue] {
        const QVariantMap simplified = simplifiedParametersFromEventParameters(parameters);
        platform::Executor& deliver = listenerQueue ? *listenerQueue : platform::MainQueue::shared();
        deliver.async([targets, simplified, name] {
            for (const auto& target : targets)
                target->messageTriggered(name, simplified);
        });
    });
}

QVariantMap BASAnalyticsConnector::simplifiedParametersFromEventParameters(const QVariantMap& parameters)
{
    QVariantMap simplified;
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it) {
        const QVariant value = isPlainNumberOrText(it.value()) ? it.value() : plainValue(it.value());
        if (isPlainNumberOrText(value))
            simplified.insert(it.key(), value);
    }
    return simplified;
}
