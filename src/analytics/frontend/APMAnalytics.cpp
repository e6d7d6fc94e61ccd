#include "analytics/frontend/APMAnalytics.h"
#include "analytics/frontend/APMAnalyticsState.h"

#include "analytics/base/APMClassRegistry.h"
#include "analytics/engine/APMLoadTime.h"
#include "analytics/frontend/APMAnalyticsEngineLink.h"
#include "analytics/frontend/APMAppDelegateInterceptor.h"
#include "analytics/reporters/APMEventRoute.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "platform/MainQueue.h"
#include "analytics/base/APMConfigStore.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMUserDefaults.h"
#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/config/APMInfoPlistFileUtil.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/reporters/APMInAppPurchaseTransactionReporter.h"
#include "analytics/reporters/APMScreenViewReporter.h"
#include "analytics/identity/APMIdentifiers.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/model/APMDataTypeValidator.h"
#include "analytics/model/APMEventNames.h"
#include "platform/AppStore.h"
#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "platform/SerialQueue.h"

#include <atomic>

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
const QString APMAnalytics::kPlatformOrigin = apm_engine::kPlatformOrigin;
const QString& APMAnalytics::kAdOrigin = APMEventNames::kAdOrigin;

using apm_frontend::FrontEndState;
using apm_frontend::state;

namespace apm_frontend {

const QString kOlderDatabaseClass = QStringLiteral("BASADatabase");
const QString kAdLibraryClass = QStringLiteral("ADNMobileAds");
const QString kTagManagerClass = QStringLiteral("VTMTagManager");
const QString kTagManagerInitializer = QStringLiteral("initializeSharedInstance");
const QString kHelpLink = QStringLiteral("https://pravik.invalid/help/analytics-setup");

constexpr double kOperationQueueHoldSeconds = 0.5;

bool isNumberValue(const QVariant& value)
{
    return APMConfigStore::isNumber(value);
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

// Whether the front end started. The reporters ask this in every process,
// also in one that never uses the front end, so it stands apart from the
// state as well.
std::atomic<bool>& started()
{
    static std::atomic<bool> flag { false };
    return flag;
}

// The reporters below log their internal events through the front end once
// it has started: its queue keeps their order with the application's events.
[[maybe_unused]] const bool frontEndReporterDoorInstalled = [] {
    APMEventRoute::setFrontEnd(
        [](const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp) {
            if (!APMAnalytics::hasStarted())
                return false;
            APMAnalytics::logInternalEventWithOrigin(origin, name, timestamp, parameters);
            return true;
        });
    return true;
}();

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
        if (s.observingStore)
            store().setTransactionObserver({});
        s.observingStore = false;
        s.openURLListener = nullptr;
        s.interceptor = nullptr;
        s.listeners.reset();
        s.nextListenerToken = 1;
        apm_frontend::started() = false;
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

APMScreenViewReporter& APMAnalytics::screenViewReporter()
{
    const FrontEndState& s = state();
    return s.environment.screenViewReporter ? *s.environment.screenViewReporter : APMScreenViewReporter::sharedInstance();
}

APMInAppPurchaseTransactionReporter& APMAnalytics::purchaseReporter()
{
    const FrontEndState& s = state();
    return s.environment.purchaseReporter ? *s.environment.purchaseReporter
                                          : APMInAppPurchaseTransactionReporter::sharedInstance();
}

platform::AppStore& APMAnalytics::store()
{
    const FrontEndState& s = state();
    return s.environment.store ? *s.environment.store : platform::AppStore::shared();
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
    return APMLoadTime::timestamp();
}

void APMAnalytics::setLoadTimestamp(double timestamp)
{
    APMLoadTime::setTimestamp(timestamp);
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

bool APMAnalytics::hasStarted()
{
    return apm_frontend::started();
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
    const bool hasPublicInterface = classExists(APMIdentity::kBASAnalyticsClassName);
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
    if (apm_frontend::started().exchange(true))
        return;
    startUp(appID, origin, options, hasPublicInterface);
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

void APMAnalytics::startUp(
    const QString& appID, const QString& origin, const QVariantMap& options, bool hasPublicInterface)
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
    engineEnvironment.frontEnd
        = APMMeasurement::Environment::FrontEnd { origin, hasPublicInterface, std::make_shared<APMAnalyticsEngineLink>() };
    const bool proxyEnabled = !s.environment.appDelegateProxyEnabled || s.environment.appDelegateProxyEnabled();
    s.serialQueue->async([appID, collectionEnabled, deactivated, safelist, engineEnvironment, proxyEnabled]() mutable {
        APMMeasurement::initializeSharedInstanceWithAppID(
            appID, collectionEnabled, deactivated, safelist, std::move(engineEnvironment));
        if (proxyEnabled && !deactivated)
            platform::MainQueue::shared().async([] { createAppDelegateProxy(); });
        if (!proxyEnabled)
            log(APMMonitor::kLevelNotice, 25036, QStringLiteral("App Delegate Proxy is disabled"));
        if (const APMMeasurement* engine = APMMeasurement::sharedInstance())
            state().enabled = engine->wasEnabledDuringInitialization();
        maybeEnableTagManager();
    });
    if (configuration.isValid())
        observeNotificationsForAnalyticsConfiguration(configuration);
    store().setTransactionObserver(
        [](const QList<platform::StorePaymentTransaction>& transactions) { paymentQueueUpdatedTransactions(transactions); });
    {
        std::lock_guard locker(s.mutex);
        s.observingStore = true;
    }
    unsuspendOperationQueue();
}

void APMAnalytics::createAppDelegateProxy()
{
    APMAppDelegateInterceptor::sharedInstance().registerAsAppDelegateProxy();
}

void APMAnalytics::maybeEnableTagManager()
{
    FrontEndState& s = state();
    if (!s.environment.classExists || !s.environment.classExists(kTagManagerClass))
        return;
    if (const APMClassRegistry::ClassMethod initialize
        = APMClassRegistry::classMethod(kTagManagerClass, kTagManagerInitializer)) {
        initialize();
        return;
    }
    log(APMMonitor::kLevelErrorSilent, 25016, QStringLiteral("VTMTagManager class doesn't define initializeSharedInstance"));
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
