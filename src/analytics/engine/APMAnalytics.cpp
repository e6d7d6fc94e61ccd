#include "analytics/engine/APMAnalytics.h"
#include "analytics/engine/APMAnalyticsState.h"

#include "analytics/base/APMClassRegistry.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMNumericUtil.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMUserDefaults.h"
#include "analytics/base/APMValue.h"
#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/config/APMInfoPlistFileUtil.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/identity/APMIdentifiers.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/model/APMDataTypeValidator.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMEventParameters.h"
#include "analytics/model/APMLogNames.h"
#include "analytics/model/APMUserAttribute.h"
#include "platform/Clock.h"
#include "platform/GlobalQueue.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/SerialQueue.h"

const QString APMAnalytics::kOperationQueueName = QStringLiteral("APMAnalyticsOperationQueue");
const QString APMAnalytics::kSerialQueueName = QStringLiteral("APMAnalyticsQueue");
const QString APMAnalytics::kTimestampQueueName = QStringLiteral("APMAnalyticsTimestampQueue");
const QString APMAnalytics::kSuiteName = QStringLiteral("APMAnalyticsSuiteName");
const QString APMAnalytics::kConfigurationOption = QStringLiteral("BASALT_ANALYTICS_CONFIGURATION");
const QString APMAnalytics::kCollectionDeactivatedOption = QStringLiteral("BASALT_ANALYTICS_COLLECTION_DEACTIVATED");
const QString APMAnalytics::kCollectionEnabledOption = QStringLiteral("BASALT_ANALYTICS_COLLECTION_ENABLED");
const QString APMAnalytics::kLogTagOption = QStringLiteral("app_metrics_log_tag");
const QString APMAnalytics::kSafelistedEventsOption = QStringLiteral("safelisted_events");
const QString APMAnalytics::kWillStartNotification = QStringLiteral("kBASAnalyticsWillStartNotification");
const QString APMAnalytics::kConfigurationSetEnabledNotification
    = QStringLiteral("BASAnalyticsConfigurationSetEnabledNotification");
const QString APMAnalytics::kAllowPersonalizedAdsProperty = QStringLiteral("allow_personalized_ads");
const QString APMAnalytics::kPlatformOrigin = QStringLiteral("fa");
const QString APMAnalytics::kAdOrigin = QStringLiteral("am");

using apm_frontend::FrontEndState;
using apm_frontend::state;

namespace apm_frontend {

const QString kAppOriginName = QStringLiteral("app");
const QString kAutoOriginName = QStringLiteral("auto");
const QString kOlderDatabaseClass = QStringLiteral("BASADatabase");
const QString kPublicInterfaceClass = QStringLiteral("BASAnalytics");
const QString kAdLibraryClass = QStringLiteral("ADNMobileAds");
const QString kAdEventIDParameter = QStringLiteral("_aeid");
const QString kUserIDPropertyName = QStringLiteral("_id");
const QString kAdvertisingIDResetPropertyName = QStringLiteral("_lair");
const QStringList kScreenParameterNames
    = { QStringLiteral("_sn"), QStringLiteral("_sc"), QStringLiteral("_si") };
const QString kHelpLink = QStringLiteral("https://pravik.invalid/help/analytics-setup");

constexpr qint64 kMaxEventNameLength = 40;
constexpr qint64 kMaxUserPropertyNameLength = 24;
constexpr double kOperationQueueHoldSeconds = 0.5;

bool isNumberValue(const QVariant& value)
{
    return APMConfigStore::isNumber(value);
}

// A value's truth the way the platform's callers mean it: numbers when not
// zero, texts by their leading characters, anything else false.
bool boolValueOf(const QVariant& value)
{
    if (isNumberValue(value))
        return value.toDouble() != 0;
    return value.typeId() == QMetaType::QString && APMBoolValueOfText(value.toString());
}

// The environment the state is first made with, when a test gives one
// before anything else used the front end.
std::optional<APMAnalytics::Environment>& firstEnvironment()
{
    static std::optional<APMAnalytics::Environment> environment;
    return environment;
}

FrontEndState& state()
{
    static FrontEndState* shared = [] {
        auto* made = new FrontEndState; // lives with the process
        std::optional<APMAnalytics::Environment>& given = firstEnvironment();
        made->environment = given ? std::move(*given) : APMAnalytics::defaultEnvironment();
        given.reset();
        made->makeQueues();
        return made;
    }();
    return *shared;
}

// The load time does not need the rest of the state: recording it at start
// makes nothing else of the library.
struct LoadTime {
    std::mutex mutex;
    double timestamp = 0;
};

LoadTime& loadTime()
{
    static LoadTime* shared = new LoadTime; // lives with the process
    return *shared;
}

void FrontEndState::makeQueues()
{
    serialQueue = std::make_unique<platform::SerialQueue>(APMAnalytics::kSerialQueueName);
    timestampQueue = std::make_unique<platform::SerialQueue>(APMAnalytics::kTimestampQueueName);
}

} // namespace apm_frontend

using namespace apm_frontend;

APMAnalytics::Environment APMAnalytics::defaultEnvironment()
{
    Environment environment;
    environment.clock = &platform::Clock::system();
    static APMUserDefaults suite(kSuiteName);
    environment.preferences = &suite;
    environment.persistedConfig = &APMPersistedConfig::sharedInstance();
    environment.identity = &APMIdentity::sharedInstance();
    environment.identifiers = &APMIdentifiers::sharedInstance();
    environment.monitor = &APMMeasurement::monitor();
    environment.notifications = &platform::NotificationCenter::defaultCenter();
    environment.log = [](qint64 level, qint64 code, const QString& message, const QVariantList& contexts) {
        APMMeasurement::monitor().logWithLevelContexts(level, code, message, contexts);
    };
    environment.classExists = &APMClassRegistry::classExists;
    environment.serviceInfoPlistPath = [] { return APMInfoPlistFileUtil::vireoServiceInfoPlistPath(); };
    environment.serviceInfoDictionary = [] { return APMInfoPlistFileUtil::dictionaryFromVireoServiceInfoPlist(); };
    environment.engineEnvironment = [] { return APMMeasurement::defaultEnvironment(); };
    return environment;
}

void APMAnalytics::resetForTesting(Environment environment)
{
    const double start = environment.clock->now();
    firstEnvironment() = environment;
    FrontEndState& s = state();
    setLoadTimestamp(start);
    if (!firstEnvironment())
        return; // just made with it
    firstEnvironment().reset();
    s.serialQueue->sync([] {});
    s.timestampQueue->sync([] {});
    APMMeasurement::resetSharedInstance();
    s.serialQueue.reset();
    s.timestampQueue.reset();
    {
        std::lock_guard locker(s.operationMutex);
        s.suspended = true;
        s.heldOperations.clear();
        ++s.generation;
    }
    {
        std::lock_guard locker(s.mutex);
        s.interceptor = nullptr;
        s.listeners.reset();
        s.nextListenerToken = 1;
        s.started = false;
        s.configurationObserver.reset();
    }
    s.enabled = false;
    s.collectionDeactivated = false;
    s.environment = std::move(environment);
    s.makeQueues();
}

void APMAnalytics::log(qint64 level, qint64 code, const QString& message, const QVariantList& contexts)
{
    const FrontEndState& s = state();
    if (s.environment.log)
        s.environment.log(level, code, message, contexts);
}

double APMAnalytics::now()
{
    return state().environment.clock->now();
}

// ---- Load time ----------------------------------------------------------------------

void APMAnalytics::load()
{
    setLoadTimestamp(platform::Clock::system().now());
}

double APMAnalytics::loadTimestamp()
{
    LoadTime& l = loadTime();
    std::lock_guard locker(l.mutex);
    return l.timestamp;
}

void APMAnalytics::setLoadTimestamp(double timestamp)
{
    LoadTime& l = loadTime();
    std::lock_guard locker(l.mutex);
    l.timestamp = timestamp;
}

// ---- Queues ---------------------------------------------------------------------------

platform::SerialQueue& APMAnalytics::queue()
{
    return *state().serialQueue;
}

bool APMAnalytics::isCurrentQueueSerialQueue()
{
    return state().serialQueue->isCurrent();
}

void APMAnalytics::dispatchAsyncOnSerialQueue(Block block)
{
    if (block)
        state().serialQueue->async(std::move(block));
}

void APMAnalytics::queueOperationWithBlock(Block block)
{
    if (!block)
        return;
    FrontEndState& s = state();
    std::lock_guard locker(s.operationMutex);
    // One operation at a time, in order: while held, operations wait; once
    // released, each one only posts its work to the serial queue.
    if (s.suspended)
        s.heldOperations.append(std::move(block));
    else
        s.serialQueue->async(std::move(block));
}

void APMAnalytics::queueOperationWithBlockThenWait(Block block)
{
    queueOperationWithBlock(std::move(block));
    FrontEndState& s = state();
    std::lock_guard locker(s.operationMutex);
    if (s.suspended)
        return;
    // Every operation has posted its work by now; hold the rest for at least
    // the hold time and until the serial queue reaches the release.
    s.suspended = true;
    const quint64 generation = s.generation;
    const auto release = [generation] {
        if (state().generation == generation)
            unsuspendOperationQueue();
    };
    if (s.environment.timer) {
        s.environment.timer->asyncAfter(kOperationQueueHoldSeconds, [generation, release] {
            if (state().generation == generation)
                state().serialQueue->async(release);
        });
    } else {
        s.serialQueue->asyncAfter(kOperationQueueHoldSeconds, release);
    }
}

void APMAnalytics::unsuspendOperationQueue()
{
    FrontEndState& s = state();
    std::lock_guard locker(s.operationMutex);
    s.suspended = false;
    for (Block& block : s.heldOperations)
        s.serialQueue->async(std::move(block));
    s.heldOperations.clear();
}

bool APMAnalytics::isOperationQueueSuspended()
{
    FrontEndState& s = state();
    std::lock_guard locker(s.operationMutex);
    return s.suspended;
}

// ---- Start -------------------------------------------------------------------------------

void APMAnalytics::startWithAppID(const QString& appID, const QString& origin, const QVariantMap& options)
{
    FrontEndState& s = state();
    const auto classExists = [&s](const QString& name) {
        return s.environment.classExists && s.environment.classExists(name);
    };
    if (classExists(kOlderDatabaseClass)) {
        log(APMMonitor::kLevelErrorMonitored, 25029,
            QStringLiteral("Detected an older version of Vireo Analytics for Basalt framework. Data collection will be "
                           "disabled. Please upgrade to the latest version of Vireo Analytics for Basalt"));
        return;
    }
    const bool hasPublicInterface = classExists(kPublicInterfaceClass);
    if (hasPublicInterface && origin != kPlatformOrigin) {
        log(APMMonitor::kLevelWarning, 25026, QStringLiteral("Deferring to Basalt for event data collection"));
        return;
    }
    if (!hasPublicInterface && s.environment.serviceInfoPlistPath && !s.environment.serviceInfoPlistPath().isEmpty()) {
        log(APMMonitor::kLevelError, 25027,
            QStringLiteral("Deferring to Vireo Analytics for Basalt for event data collection. ") + kHelpLink);
        return;
    }
    if (classExists(kAdLibraryClass) && s.environment.serviceInfoDictionary && s.environment.serviceInfoDictionary()
        && s.environment.identity->appIDFromAdNest().isEmpty()) {
        log(APMMonitor::kLevelWarning, 25028,
            QStringLiteral("AdNest and Basalt are in use in this app, but are not linked. For analytics data "
                           "consistency and integrity, it is highly recommended that you link your AdNest app to the "
                           "corresponding Basalt app and re-download the VireoService-Info.plist file. See ")
                + kHelpLink + QStringLiteral(" for more information."));
    }
    if (!options.isEmpty()) {
        const QVariant tag = options.value(kLogTagOption);
        if (tag.typeId() == QMetaType::QString && !tag.toString().isEmpty()) {
            if (s.environment.monitor)
                s.environment.monitor->setLogTag(tag.toString());
        } else {
            log(APMMonitor::kLevelErrorSilent, 25030, QStringLiteral("Invalid monitor tag. It must be a non-empty string."));
        }
    }
    {
        std::lock_guard locker(s.mutex);
        if (s.started)
            return;
        s.started = true;
    }
    startUp(appID, origin, options);
}

std::optional<QStringList> APMAnalytics::checkedSafelist(const QVariant& value)
{
    const int type = value.typeId();
    if (type != QMetaType::QVariantList && type != QMetaType::QStringList) {
        log(APMMonitor::kLevelError, 25034, QStringLiteral("Invalid safelisted event parameter. Type must be an array"));
        return std::nullopt;
    }
    QStringList names;
    for (const QVariant& element : value.toList()) {
        qint64 failure = 0;
        if (!APMDataTypeValidator::isValidInternalEventName(element, &failure)) {
            log(APMMonitor::kLevelError, 25035, QStringLiteral("Invalid event name for safelisting. Name"), { element });
            return std::nullopt;
        }
        names.append(element.toString());
    }
    return names;
}

void APMAnalytics::startUp(const QString& appID, const QString& origin, const QVariantMap& options)
{
    FrontEndState& s = state();
    if (APMConsentSettingsUtil::consentSource() == APMConsentSettingsUtil::SourceNone)
        loadPersistedConsentSettings();
    APMIdentity& identity = *s.environment.identity;
    if (origin == kPlatformOrigin) {
        const QString previous = identity.appIDFromVMP();
        if (appID != previous) {
            identity.setAppIDFromVMP(appID);
            log(APMMonitor::kLevelErrorMonitored, 25020,
                QStringLiteral("Analytics requires Vireo App ID from VireoService-Info.plist. Your data may be lost. "
                               "Vireo App ID has been changed. Original, new ID"),
                { previous, appID });
        }
    }
    if (origin == kAdOrigin) {
        const QString previous = identity.appIDFromAdNest();
        if (appID != previous) {
            log(APMMonitor::kLevelWarning, 25031, QStringLiteral("AdNest App ID changed. Original, new"), { previous, appID });
            identity.setAppIDFromAdNest(appID);
        }
    }
    if (s.environment.notifications)
        s.environment.notifications->post(kWillStartNotification);
    if (s.environment.identifiers)
        s.environment.identifiers->setOrigin(origin);

    s.collectionDeactivated = false;
    bool collectionEnabled = true;
    bool deactivated = false;
    QVariant configuration;
    QStringList safelist;
    if (!options.isEmpty()) {
        const QVariant enabledOption = options.value(kCollectionEnabledOption);
        collectionEnabled = isNumberValue(enabledOption) ? enabledOption.toBool() : true;
        const QVariant deactivatedOption = options.value(kCollectionDeactivatedOption);
        deactivated = isNumberValue(deactivatedOption) && deactivatedOption.toBool();
        configuration = options.value(kConfigurationOption);
        if (options.contains(kSafelistedEventsOption))
            safelist = checkedSafelist(options.value(kSafelistedEventsOption)).value_or(QStringList());
        const QVariantMap consent = APMConsentSettingsUtil::consentSettingsFromDictionary(options);
        if (!consent.isEmpty())
            s.environment.preferences->setObject(consent, kConsentSettingsOnStartKey);
    }
    s.collectionDeactivated = deactivated;

    APMMeasurement::Environment engineEnvironment = s.environment.engineEnvironment
        ? s.environment.engineEnvironment()
        : APMMeasurement::defaultEnvironment();
    engineEnvironment.eventListeners = [](const APMEvent& event) { notifyEventListeners(event); };
    s.serialQueue->async([appID, collectionEnabled, deactivated, safelist, engineEnvironment]() mutable {
        APMMeasurement::initializeSharedInstanceWithAppID(
            appID, collectionEnabled, deactivated, safelist, std::move(engineEnvironment));
        if (const APMMeasurement* engine = APMMeasurement::sharedInstance())
            state().enabled = engine->wasEnabledDuringInitialization();
    });
    if (configuration.isValid())
        observeNotificationsForAnalyticsConfiguration(configuration);
    unsuspendOperationQueue();
}

// ---- Enabling --------------------------------------------------------------------------------

void APMAnalytics::setAnalyticsEnabled(bool enabled)
{
    setAnalyticsEnabled(enabled, false);
}

void APMAnalytics::setAnalyticsEnabled(bool enabled, bool persistSetting)
{
    dispatchAsyncOnSerialQueue([enabled, persistSetting] {
        FrontEndState& s = state();
        if (persistSetting)
            s.environment.persistedConfig->setMeasurementEnabledState(enabled ? 1 : 2);
        // Deactivated collection cannot be switched on; switching off still works.
        if (s.collectionDeactivated && enabled)
            return;
        s.enabled = enabled;
        if (APMMeasurement* engine = APMMeasurement::sharedInstance())
            engine->setEnabled(enabled);
    });
}

bool APMAnalytics::isEnabled()
{
    return state().enabled;
}

void APMAnalytics::observeNotificationsForAnalyticsConfiguration(const QVariant& configuration)
{
    FrontEndState& s = state();
    if (!s.environment.notifications)
        return;
    platform::ObserverToken token = s.environment.notifications->addObserver(
        kConfigurationSetEnabledNotification, [configuration](const platform::Notification& notification) {
            if (notification.object == configuration)
                handleSetEnabled(notification);
        });
    std::lock_guard locker(s.mutex);
    s.configurationObserver = std::move(token);
}

void APMAnalytics::handleSetEnabled(const platform::Notification& notification)
{
    const QVariant value = notification.userInfo.value(kConfigurationSetEnabledNotification);
    if (!isNumberValue(value)) {
        log(APMMonitor::kLevelWarningMonitored, 25000, QStringLiteral("Received setEnabled notification without NSNumber"),
            { value });
        return;
    }
    setAnalyticsEnabled(value.toBool(), false);
}

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
    logEventWithOrigin(kAppOriginName, name, parameters);
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
    FrontEndState& s = state();
    // Taking the time and queueing under one queue keeps timestamps in queue order.
    s.timestampQueue->sync([&] {
        const double timestamp = now();
        queueOperationWithBlock([=] {
            logEventOnSerialQueue(origin, isPublicEvent, name, parameters, timestamp, false, false, {});
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
    queueOperationWithBlock([=] { logEventOnSerialQueue(origin, false, name, parameters, timestamp, false, false, {}); });
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
    sharedInstance().setInternalUserProperty(value, name, kAppOriginName);
}

void APMAnalytics::setAllowPersonalizedAds(const QVariant& value)
{
    queueOperationWithBlock([value] {
        FrontEndState& s = state();
        if (!s.enabled)
            log(APMMonitor::kLevelDebug, 25033, QStringLiteral("Personalized Ads property changed while Analytics is disabled"));
        s.environment.persistedConfig->setAllowPersonalizedAds(value.isValid() ? QVariant(boolValueOf(value)) : QVariant());
        if (!value.isValid() && APMMeasurement::remoteConfig()->DMAConsentEnabled()
            && APMConsentSettingsUtil::adPersonalization())
            APMConsentSettingsUtil::unsetAdPersonalization();
    });
}

void APMAnalytics::setUserID(const QVariant& userID)
{
    if (!userID.isValid()) {
        sharedInstance().removeInternalUserAttributeForName(kUserIDPropertyName);
        sharedInstance().removeInternalUserAttributeForName(kAdvertisingIDResetPropertyName);
        return;
    }
    if (userID.typeId() != QMetaType::QString) {
        log(APMMonitor::kLevelError, 25004, QStringLiteral("User ID must be NSString. User ID"), { userID });
        return;
    }
    sharedInstance().setInternalUserProperty(userID, kUserIDPropertyName, kAppOriginName);
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
    sharedInstance().setInternalUserProperty(typed, name, kAutoOriginName);
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

void APMAnalytics::logLibraryInternalEventWithOrigin(
    const QString& origin, const QString& name, const QVariantMap& parameters) const
{
    QVariantMap converted = parameters;
    const QVariant adEventID = parameters.value(kAdEventIDParameter);
    if (origin == kAdOrigin && adEventID.typeId() == QMetaType::QString) {
        if (APMIsDecimalNumberString(adEventID.toString()))
            converted.insert(kAdEventIDParameter, QVariant::fromValue(APMValue::initWithInt64(adEventID.toString().toLongLong())));
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
