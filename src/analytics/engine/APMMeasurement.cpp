// The engine's face itself: the shared instance, the environment's defaults,
// the engine's making and stop, the launch hook and the route of internal
// events.
#include "analytics/engine/APMMeasurement.h"
#include "analytics/engine/APMBundler.h"
#include "analytics/engine/APMConfigFetcher.h"
#include "analytics/engine/APMDeepLinkHandler.h"
#include "analytics/engine/APMEngineContext.h"
#include "analytics/engine/APMEngineLifecycle.h"
#include "analytics/engine/APMLifecycleReporter.h"
#include "analytics/engine/APMOnDeviceConversion.h"
#include "analytics/engine/APMSessionTracker.h"
#include "analytics/engine/APMUploadScheduler.h"

#include "analytics/base/APMAlarm.h"
#include "analytics/base/APMClassRegistry.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/base/APMUserDefaults.h"
#include "analytics/base/VULLogger.h"
#include "analytics/config/APMInfoPlistFileUtil.h"
#include "analytics/engine/APMLoadTime.h"
#include "analytics/engine/APMRateEventSampler.h"
#include "analytics/engine/APMRulesEventEditor.h"
#include "analytics/experiments/APMETaskManager.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/model/APMEventParameters.h"
#include "analytics/reporters/APMEventRoute.h"
#include "analytics/reporters/APMLifetimeValueRecorder.h"
#include "analytics/reporters/APMMeasurementRemoteConfig.h"
#include "analytics/reporters/APMScreenViewReporter.h"
#include "analytics/reporters/APMSearchAdReporter.h"
#include "analytics/reporters/APMSessionReporter.h"
#include "platform/ApplicationStateNotifier.h"
#include "platform/Clock.h"
#include "platform/HttpClient.h"
#include "platform/NotificationCenter.h"
#include "platform/Reachability.h"
#include "platform/SerialQueue.h"
#include "platform/SystemFacts.h"

#include <QCoreApplication>

const QString APMMeasurement::kWorkerQueueLabel = QStringLiteral("com.vireo.basa.worker");
const QString APMMeasurement::kAlarmName = QStringLiteral("Measurement timer");
const QString APMMeasurement::kCollectionURLVariable = QStringLiteral("PRAVIK_ANALYTICS_COLLECTION_URL");
const QString APMMeasurement::kAdServicesURLVariable = QStringLiteral("PRAVIK_ANALYTICS_ADSERVICES_URL");

namespace {

const QString kLibraryVersionText = QStringLiteral("102700000");

std::mutex& sharedInstanceMutex()
{
    static std::mutex mutex;
    return mutex;
}

struct SharedEngine {
    bool initialized = false;
    std::unique_ptr<APMMeasurement> instance;
};

SharedEngine& sharedEngine()
{
    static SharedEngine* engine = new SharedEngine; // lives with the process
    return *engine;
}

// Makes the shared engine once per process (or per resetSharedInstance());
// the environment is only built when the engine is.
// The reporters below the engine reach the shared engine through these
// doors; each asks for the shared engine when it is used.
[[maybe_unused]] const bool measurementReporterDoorsInstalled = [] {
    APMEventRoute::Engine doors;
    doors.logOwnInternalEvent = &APMMeasurement::logInternalEventOnSharedInstance;
    doors.logEvent = [](const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp) {
        if (APMMeasurement* engine = APMMeasurement::sharedInstance())
            engine->logEventWithOrigin(
                origin, false, name, parameters, timestamp, engine->isEnabled(), false, true, nullptr, {});
    };
    doors.sessionReporter = []() -> std::shared_ptr<APMSessionReporter> {
        if (!APMMeasurement::hasSharedInstance())
            return nullptr;
        APMMeasurement* engine = APMMeasurement::sharedInstance();
        return engine && engine->didInitializeComponents() ? engine->sessionReporter() : nullptr;
    };
    APMEventRoute::setEngine(std::move(doors));
    return true;
}();

void initializeSharedEngine(const QString& appID, bool isAnalyticsCollectionEnabled,
    bool isAnalyticsCollectionDeactivated, const QStringList& safelistedEvents,
    const std::function<APMMeasurement::Environment()>& makeEnvironment)
{
    std::lock_guard locker(sharedInstanceMutex());
    SharedEngine& shared = sharedEngine();
    if (shared.initialized)
        return;
    shared.initialized = true;
    if (appID.isEmpty())
        return;
    APMMeasurement::monitor();
    shared.instance = APMMeasurement::initWithAppID(
        appID, isAnalyticsCollectionEnabled, isAnalyticsCollectionDeactivated, safelistedEvents, makeEnvironment());
}
} // namespace

APMMeasurement::Environment APMMeasurement::defaultEnvironment()
{
    Environment environment;
    environment.clock = &platform::Clock::system();
    environment.http = &platform::HttpClient::shared();
    const QString address = qEnvironmentVariable(qPrintable(kCollectionURLVariable));
    if (!address.isEmpty())
        environment.collectionURL = QUrl(address);
    environment.persistedConfig = &APMPersistedConfig::sharedInstance();
    environment.identity = &APMIdentity::sharedInstance();
    environment.experimentsURL = APMETaskManager::configuredServiceAddress();
    environment.searchAdsURL = APMSearchAdReporter::configuredServiceURL();
    environment.reachability = &platform::Reachability::shared();
    const QString adServices = qEnvironmentVariable(qPrintable(kAdServicesURLVariable));
    if (!adServices.isEmpty())
        environment.adServicesURL = QUrl(adServices);
    // A data reset restarts first open at the front end's load time, and
    // the automatic reports go through the front end like every other event.
    environment.loadTimestamp = [] { return APMLoadTime::timestamp(); };
    environment.logInternalEventWithOrigin = &APMMeasurement::logReportedInternalEvent;
    return environment;
}

void APMMeasurement::logReportedInternalEvent(
    const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp)
{
    APMEventRoute::logReportedInternalEvent(origin, name, parameters, timestamp);
}

APMMonitor& APMMeasurement::monitor()
{
    return APMLibrary::monitor();
}

// ---- Shared instance --------------------------------------------------------

void APMMeasurement::initializeSharedInstanceWithAppID(const QString& appID, bool isAnalyticsCollectionEnabled,
    bool isAnalyticsCollectionDeactivated, const QStringList& safelistedEvents)
{
    initializeSharedEngine(appID, isAnalyticsCollectionEnabled, isAnalyticsCollectionDeactivated, safelistedEvents,
        [] { return defaultEnvironment(); });
}

void APMMeasurement::initializeSharedInstanceWithAppID(const QString& appID, bool isAnalyticsCollectionEnabled,
    bool isAnalyticsCollectionDeactivated, const QStringList& safelistedEvents, Environment environment)
{
    initializeSharedEngine(appID, isAnalyticsCollectionEnabled, isAnalyticsCollectionDeactivated, safelistedEvents,
        [&environment] { return std::move(environment); });
}

void APMMeasurement::resetSharedInstance()
{
    std::unique_ptr<APMMeasurement> instance;
    {
        std::lock_guard locker(sharedInstanceMutex());
        instance = std::move(sharedEngine().instance);
        sharedEngine().initialized = false;
    }
    // Destroyed outside the lock: its last work may ask for the shared instance.
}

bool APMMeasurement::hasSharedInstance()
{
    std::lock_guard locker(sharedInstanceMutex());
    return sharedEngine().initialized && sharedEngine().instance;
}

APMMeasurement* APMMeasurement::sharedInstance()
{
    std::lock_guard locker(sharedInstanceMutex());
    // Asked for before any start while the public interface is linked: the
    // host has not configured the platform registry.
    if (!sharedEngine().initialized && APMClassRegistry::classExists(APMIdentity::kBASAnalyticsClassName)) {
        VULLogger::shared().log(VULLogger::Warning, APMMonitor::kDefaultLogTag, APMMonitor::formattedMessageCode(23147),
            QStringLiteral("Vireo Analytics for Basalt has not been created. Please, configure Basalt by calling "
                           "[BASApp configure]"));
    }
    return sharedEngine().instance.get();
}

std::shared_ptr<APMRemoteConfig> APMMeasurement::remoteConfig()
{
    return APMMeasurementRemoteConfig::remoteConfig();
}

// ---- Creation -----------------------------------------------------------------

std::unique_ptr<APMMeasurement> APMMeasurement::initWithAppID(const QString& appID,
    bool isAnalyticsCollectionEnabled, bool isAnalyticsCollectionDeactivated, const QStringList& safelistedEvents,
    Environment environment)
{
    if (appID.isEmpty()) {
        monitor().logWithLevel(
            APMMonitor::kLevelErrorMonitored, 23170, QStringLiteral("Cannot start Measurement. App ID is empty."));
        return nullptr;
    }
    APMMonitor& engineMonitor = environment.monitor ? *environment.monitor : monitor();
    // With the public interface linked, its release names the library and
    // its launch arguments switch the logging.
    const bool publicInterface = APMClassRegistry::classExists(APMIdentity::kBASAnalyticsClassName);
    const QString publicVersion = APMClassRegistry::classVersion(APMIdentity::kBASAnalyticsClassName);
    engineMonitor.logWithLevel(APMMonitor::kLevelNotice, 23007,
        QStringLiteral("Analytics v.%1 started").arg(publicVersion.isEmpty() ? kLibraryVersionText : publicVersion));
    if (publicInterface)
        engineMonitor.logWithLevel(APMMonitor::kLevelVerbose, 23222,
            QStringLiteral("Build %1").arg(APMIdentity::appMetricsLibraryVersion()));
    const QString prefix = publicInterface ? QStringLiteral("BAS") : QStringLiteral("APM");
    if (engineMonitor.isDebugModeEnabled()) {
        engineMonitor.logWithLevel(APMMonitor::kLevelNotice, 23008,
            QStringLiteral("To disable debug logging set the following application argument: %1 (see the README)")
                .arg(QStringLiteral("-no%1AnalyticsDebugEnabled").arg(prefix)));
    } else {
        engineMonitor.logWithLevel(APMMonitor::kLevelNotice, 23008,
            QStringLiteral("To enable debug logging set the following application argument: %1 (see the README)")
                .arg(QStringLiteral("-%1AnalyticsDebugEnabled").arg(prefix)));
    }
    engineMonitor.logWithLevel(APMMonitor::kLevelDebug, 23009, QStringLiteral("Debug logging enabled"));
    if (engineMonitor.isVerboseLoggingEnabled()) {
        engineMonitor.logWithLevel(APMMonitor::kLevelDebug, 23207,
            QStringLiteral("To disable verbose logging set the following application argument: %1 (see the README)")
                .arg(QStringLiteral("-%1AnalyticsVerboseLoggingDisabled").arg(prefix)));
    } else {
        engineMonitor.logWithLevel(APMMonitor::kLevelDebug, 23207,
            QStringLiteral("To enable verbose logging set the following application argument: %1 (see the README)")
                .arg(QStringLiteral("-%1AnalyticsVerboseLoggingEnabled").arg(prefix)));
    }
    return std::unique_ptr<APMMeasurement>(new APMMeasurement(appID, isAnalyticsCollectionEnabled,
        isAnalyticsCollectionDeactivated, safelistedEvents, std::move(environment)));
}

APMMeasurement::APMMeasurement(const QString& appID, bool isAnalyticsCollectionEnabled,
    bool isAnalyticsCollectionDeactivated, const QStringList& safelistedEvents, Environment environment)
    : shared_(appID, safelistedEvents, isAnalyticsCollectionEnabled, isAnalyticsCollectionDeactivated,
          std::move(environment))
{
    shared_.self = std::make_shared<APMMeasurement*>(this);
    lifecycle_ = std::make_unique<APMEngineLifecycle>(shared_, *this);
    conversion_ = std::make_unique<APMOnDeviceConversion>(shared_, *this);
    uploads_ = std::make_unique<APMUploadScheduler>(shared_, *this);
    configFetcher_ = std::make_unique<APMConfigFetcher>(shared_, *this);
    bundler_ = std::make_unique<APMBundler>(shared_, *this);
    lifecycleReporter_ = std::make_unique<APMLifecycleReporter>(shared_, *this);
    deepLinks_ = std::make_unique<APMDeepLinkHandler>(shared_, *this);
    sessions_ = std::make_unique<APMSessionTracker>(shared_, *this);
    if (!shared_.environment.clock)
        shared_.environment.clock = &platform::Clock::system();
    if (!shared_.environment.http)
        shared_.environment.http = &platform::HttpClient::shared();
    if (!shared_.environment.persistedConfig)
        shared_.environment.persistedConfig = &APMPersistedConfig::sharedInstance();
    if (!shared_.environment.monitor)
        shared_.environment.monitor = &monitor();
    if (!shared_.environment.eventEditor)
        shared_.environment.eventEditor = std::make_shared<APMRulesEventEditor>();
    // Sampling and lifetime value reach the database and configuration the
    // worker queue makes at start; both run only on that queue.
    if (!shared_.environment.sampler) {
        APMRateEventSampler::Sources sources;
        sources.database = [this] { return shared_.database.get(); };
        sources.remoteConfig = [this] { return shared_.remoteConfig.get(); };
        sources.monitor = shared_.environment.monitor;
        shared_.environment.sampler = std::make_shared<APMRateEventSampler>(std::move(sources));
    }
    if (!shared_.environment.lifetimeValue) {
        APMLifetimeValueRecorder::Sources sources;
        sources.database = [this] { return shared_.database.get(); };
        sources.remoteConfig = [this] { return shared_.remoteConfig.get(); };
        sources.clock = shared_.environment.clock;
        sources.monitor = shared_.environment.monitor;
        shared_.environment.lifetimeValue = APMLifetimeValueRecorder::recordingToDatabase(std::move(sources));
    }
    shared_.persistedConfig = shared_.environment.persistedConfig;
    if (!shared_.environment.systemFacts)
        shared_.environment.systemFacts = &platform::SystemFacts::shared();
    pipeline_ = std::make_unique<APMEventPipeline>(shared_, *this);
    if (!shared_.environment.deepLinkStore)
        shared_.environment.deepLinkStore = &APMUserDefaults::sharedUserDefaults();
    if (!shared_.environment.infoDictionary)
        shared_.environment.infoDictionary = APMInfoPlistFileUtil::mainBundleInfoDictionary();
    if (!shared_.environment.processArguments)
        shared_.environment.processArguments = QCoreApplication::arguments();

    shared_.scheduler = std::make_unique<APMScheduler>(kWorkerQueueLabel);
    platform::Executor& timer = shared_.environment.timer ? *shared_.environment.timer : shared_.scheduler->workerQueue();
    shared_.alarm = std::make_unique<APMAlarm>(shared_.scheduler->workerQueue(), timer, *shared_.environment.clock, kAlarmName);

    const QVariant loadTimestamp = shared_.persistedConfig->loadTimestampValue();
    if (loadTimestamp.isValid() && loadTimestamp.canConvert<double>()) {
        shared_.initTimestamp = loadTimestamp.toDouble();
    } else {
        shared_.initTimestamp = shared_.now();
        shared_.persistedConfig->setLoadTimestampValue(shared_.initTimestamp);
    }
    lifecycle_->enableAsInitialized();
}

APMMeasurement::~APMMeasurement()
{
    lifecycle_->stop();
}

void APMMeasurement::dispatchSyncOnWorkerQueue(const std::function<void()>& work)
{
    shared_.scheduler->dispatchSyncOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:sync"), work);
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
        APMDeepLinkHandler::handleStoredURLAfterAppLaunchWithNotification(notification.userInfo, nullptr, nullptr);
}
