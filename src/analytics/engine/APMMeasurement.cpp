#include "analytics/engine/APMMeasurement.h"
#include "analytics/engine/APMBundler.h"
#include "analytics/engine/APMConfigFetcher.h"
#include "analytics/engine/APMDeepLinkHandler.h"
#include "analytics/engine/APMEngineContext.h"
#include "analytics/engine/APMLifecycleReporter.h"
#include "analytics/engine/APMOnDeviceConversion.h"
#include "analytics/engine/APMSessionTracker.h"
#include "analytics/engine/APMUploadScheduler.h"

#include "analytics/base/APMAlarm.h"
#include "analytics/base/APMBackwardCompatibilityUtil.h"
#include "analytics/base/APMBackupExclusion.h"
#include "analytics/base/APMClassRegistry.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMFileLocations.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMPrivateSetMembershipClient.h"
#include "analytics/base/APMDeepLinkStore.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/base/APMUserDefaults.h"
#include "analytics/base/VULLogger.h"
#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/config/APMInfoPlistFileUtil.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/config/APMRemoteConfigDatabase.h"
#include "analytics/engine/APMAudienceEvaluator.h"
#include "analytics/engine/APMEventEditor.h"
#include "analytics/engine/APMFrontEndLink.h"
#include "analytics/engine/APMLoadTime.h"
#include "analytics/reporters/APMEventRoute.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "analytics/reporters/APMLifetimeValueRecorder.h"
#include "analytics/reporters/APMMeasurementRemoteConfig.h"
#include "analytics/engine/APMRateEventSampler.h"
#include "analytics/engine/APMRulesEventEditor.h"
#include "analytics/reporters/APMSearchAdReporter.h"
#include "analytics/reporters/APMSessionReporter.h"
#include "analytics/reporters/APMSessionState.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMETaskManager.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/identity/APMTCFClient.h"
#include "analytics/rules/APMPEventEditingProvider.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/wire/APMPBMeasurementConfig.h"
#include "platform/Clock.h"
#include "platform/HttpClient.h"
#include "platform/Reachability.h"
#include "platform/SerialQueue.h"
#include "platform/SystemFacts.h"

#include <QCoreApplication>

#include <QFileInfo>

#include <cmath>

const QString APMMeasurement::kDatabaseName = QStringLiteral("vireo-app-metrics.sql");
const QString APMMeasurement::kWorkerQueueLabel = QStringLiteral("com.vireo.basa.worker");
const QString APMMeasurement::kAlarmName = QStringLiteral("Measurement timer");
const QString APMMeasurement::kCollectionURLVariable = QStringLiteral("PRAVIK_ANALYTICS_COLLECTION_URL");
const QString APMMeasurement::kAdServicesURLVariable = QStringLiteral("PRAVIK_ANALYTICS_ADSERVICES_URL");

namespace {

const QString kLibraryVersionText = QStringLiteral("102700000");

// The remote configuration's store in the measurement database.
class MeasurementConfigStore final : public APMRemoteConfigDatabase {
public:
    explicit MeasurementConfigStore(APMDatabase& database)
        : store_(database)
    {
    }
    bool updateRemoteConfig(const APMPBMeasurementConfig& config, APMError* error) override
    {
        return store_.updateRemoteConfig(config, error);
    }
    std::unique_ptr<APMPBMeasurementConfig> queryMeasurementConfigWithError(APMError* error) override
    {
        return store_.queryMeasurementConfigWithError(error);
    }
    std::optional<double> lastRemoteConfigUpdateTimestamp(APMError* error) override
    {
        return store_.lastRemoteConfigUpdateTimestamp(error);
    }

private:
    APMDatabase& store_;
};

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

bool isPresent(const QString& text)
{
    return !text.isEmpty();
}

// A reset that did not finish raises the count; the next starts wipe again,
// but not for ever.
bool isResetPending(qint64 resetRetryCount)
{
    return resetRetryCount >= 1 && resetRetryCount <= 9;
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
    const bool enable = shouldEnableMeasurement();
    setEnabled(enable);
    wasEnabledDuringInitialization_ = enable;
}

APMMeasurement::~APMMeasurement()
{
    // Work posted before runs first; then no firing and no reply reaches us.
    shared_.scheduler->dispatchSyncOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:dealloc"), [this] {
        shared_.alarm->cancel();
        // Their alarms belong to the queue: they go on it.
        searchAdReporter_.reset();
        conversion_->cancelRetries();
    });
    if (shared_.environment.reachability)
        shared_.environment.reachability->setChangeHandler({});
    shared_.self.reset();
    shared_.scheduler->workerQueue().stop();
    shared_.alarm.reset();
    if (shared_.remoteConfig && APMMeasurementRemoteConfig::remoteConfig() == shared_.remoteConfig)
        APMMeasurementRemoteConfig::setRemoteConfig(nullptr);
    // The experiment fetch task cancels its alarm on the queue it was given:
    // it goes (with the configuration holding it) while that queue exists.
    shared_.remoteConfig.reset();
    experimentManager_.reset();
}


void APMMeasurement::dispatchSyncOnWorkerQueue(const std::function<void()>& work)
{
    shared_.scheduler->dispatchSyncOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:sync"), work);
}

// ---- Enabling -------------------------------------------------------------------

bool APMMeasurement::shouldEnableMeasurement()
{
    if (shared_.isAnalyticsCollectionDeactivated)
        return false;
    switch (shared_.persistedConfig->measurementEnabledState()) {
    case 1:
        return true;
    case 2:
        return false;
    default:
        return shared_.isAnalyticsCollectionEnabled;
    }
}

void APMMeasurement::setEnabled(bool enabled)
{
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:611"), [weak, enabled] {
        if (const auto self = weak.lock(); self && *self)
            (*self)->setEnabledOnWorkerQueue(enabled);
    });
}

void APMMeasurement::setEnabledOnWorkerQueue(bool enabled)
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("setIsEnabledOnWorkerQueue"));
    if (enabled && shared_.isAnalyticsCollectionDeactivated) {
        shared_.log(APMMonitor::kLevelNotice, 23206, QStringLiteral("Analytics collection deactivated"));
        return;
    }
    lifecycleReporter_->markDeferredAnalyticsCollection(enabled);
    shared_.enabled = enabled;
    if (enabled) {
        if (!startMeasurementOnWorkerQueue()) {
            shared_.log(APMMonitor::kLevelError, 23011, QStringLiteral("Failed to start Analytics. Analytics is disabled"));
            setEnabled(false);
            return;
        }
        if (searchAdReporter_)
            searchAdReporter_->setSearchAdReporterEnabled(true);
        if (const auto reporter = sessionReporter())
            reporter->setReportingEnabled(true);
        shared_.log(APMMonitor::kLevelNotice, 23012, QStringLiteral("Analytics collection enabled"));
    } else {
        clearExpiredStoredDeepLink(deepLinkStore(), remoteConfig()->attributionCacheTTLInterval(), shared_.now());
        shared_.alarm->cancel();
        if (searchAdReporter_)
            searchAdReporter_->setSearchAdReporterEnabled(false);
        if (const auto reporter = sessionReporter())
            reporter->setReportingEnabled(false);
        shared_.log(APMMonitor::kLevelNotice, 23013, QStringLiteral("Analytics collection disabled"));
    }
}

bool APMMeasurement::startMeasurementOnWorkerQueue()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("startMeasurementOnWorkerQueue"));
    {
        std::lock_guard locker(initializeComponentsLock_);
        if (!didInitializeComponents_.load()) {
            if (!initializeComponents())
                return false;
            didInitializeComponents_.store(true);
            if (shared_.environment.reportsLifecycleAtStart)
                lifecycleReporter_->reportLifecycleOnStartOnWorkerQueue();
            // After the first-open and update reports.
            initializeReportersOnWorkerQueue();
        }
    }
    if (shared_.environment.reportsLifecycleAtStart) {
        setPersonalizedAdsUserPropertyOnWorkerQueue();
        // A data reset the front end asked for restarts the install's story.
        if (shared_.environment.frontEnd && shared_.environment.frontEnd->link->needFirstOpenAfterReset()) {
            reportFirstOpenOnWorkerQueue();
            shared_.environment.frontEnd->link->removeNeedFirstOpenAfterReset();
        }
    }
    updateSchedule();
    if (APMBackwardCompatibilityUtil::disableVMRMeasurement())
        shared_.log(APMMonitor::kLevelErrorMonitored, 23210, QStringLiteral("VMRMeasurement has been disabled"));
    return true;
}

bool APMMeasurement::initializeComponents()
{
    shared_.identity = shared_.environment.identity ? shared_.environment.identity : &APMIdentity::sharedInstance();
    if (shared_.environment.frontEnd) {
        setProspectiveConsentSettings();
        shared_.environment.frontEnd->link->removeStartUpConsentSettings();
        shared_.environment.frontEnd->link->removeDeferredResetOnDeniedConsent();
    }

    const QString persistedVMP = shared_.persistedConfig->appIDFromVMP();
    const QString persistedAdNest = shared_.persistedConfig->appIDFromAdNest();
    if (shouldWipeDataWithAppID(
            shared_.appID, shared_.identity->appIDFromVMP(), shared_.identity->appIDFromAdNest(), persistedVMP, persistedAdNest)) {
        // Raised first: a crash in the middle of the wipe leaves the next
        // start to wipe again.
        if (shared_.environment.frontEnd)
            shared_.environment.frontEnd->link->setResetRetryCount(shared_.environment.frontEnd->link->resetRetryCount() + 1);
        if (!wipeoutAnalyticsDataAndResetComponents())
            shared_.log(APMMonitor::kLevelWarningMonitored, 23208, QStringLiteral("Failed to wipe out Analytics data"));
        else if (shared_.environment.frontEnd)
            shared_.environment.frontEnd->link->setResetRetryCount(0);
    }
    shared_.identity->updateIdentifiers();
    if (shared_.environment.frontEnd) {
        const QString afterReset = shared_.environment.frontEnd->link->appInstanceIDAfterReset();
        if (!afterReset.isEmpty()) {
            shared_.identity->setAppInstanceID(afterReset);
            shared_.environment.frontEnd->link->setAppInstanceIDAfterReset(QString());
        }
    }
    updatePersistedAppIDFromVMPAndAdNest();

    const QString path
        = shared_.environment.databasePath.isEmpty() ? APMApplicationSupportPath(kDatabaseName) : shared_.environment.databasePath;
    APMError error;
    for (int attempt = 0; attempt < 2 && !shared_.database; ++attempt)
        shared_.database = APMDatabase::initWithDatabasePath(path, shared_.persistedConfig, &error);
    if (!shared_.database)
        return false;
    shared_.database->setClock(shared_.environment.clock);
    remoteConfigDatabase_ = std::make_shared<MeasurementConfigStore>(*shared_.database);
    shared_.remoteConfig = makeRemoteConfig();
    if (!shared_.remoteConfig)
        return false;
    // The store, the identity and the naming rules read this configuration from now on.
    APMMeasurementRemoteConfig::setRemoteConfig(shared_.remoteConfig);
    initializeServices();
    if (!shared_.environment.session)
        sessions_->makeSessionReporter();

    APMError backupError;
    if (!APMExcludePathFromBackup(QFileInfo(path).absolutePath(), &backupError))
        shared_.log(APMMonitor::kLevelWarningSilent, 23015, QStringLiteral("Failed to exclude directory from backup. Error"),
            backupError.description());
    shared_.log(APMMonitor::kLevelDebug, 23016, QStringLiteral("Analytics is ready to receive events"));
    shared_.environment.monitor->setEncodeContexts(shared_.identity->isFromAppStore());

    APMError staleError;
    if (!shared_.database->maybeDeleteStaleData(&staleError))
        shared_.log(APMMonitor::kLevelWarningSilent, 23018, QStringLiteral("Unable to delete stale data. Error"),
            staleError.description());
    if (shared_.remoteConfig->DMAConsentEnabled())
        updateConsentSettingsUtilWithRemoteConfig();
    checkPSMDependencyOnWorkerQueue();
    maybeDeleteExpiredPSMValueOnWorkerQueue();
    return true;
}

void APMMeasurement::initializeReportersOnWorkerQueue()
{
    makeSearchAdReporter();
    if (shared_.remoteConfig->tcfFeatureEnabled())
        makeTCFClient();
    // Feature rollouts are kept only for a configuration library that is
    // there to use them.
    if (!shared_.persistedConfig->basaltFeatureRollouts().isEmpty() && !isBasaltRemoteConfigSDKPresent())
        shared_.persistedConfig->setBasaltFeatureRollouts(QString());
    sessions_->subscribeForAppForegroundBackgroundNotifications();
}

void APMMeasurement::makeTCFClient()
{
    APMTCFClient::Environment environment;
    environment.userDefaults = shared_.environment.tcfUserDefaults;
    if (shared_.environment.tcfPrivateStore)
        environment.tcfUserDefaults = shared_.environment.tcfPrivateStore();
    environment.infoDictionary = shared_.environment.infoDictionary;
    // The platform's consent goes through the front end, which keeps it
    // under the TCF source; an engine alone has nowhere to keep it.
    if (shared_.environment.frontEnd)
        environment.setConsent = [link = shared_.environment.frontEnd->link](const QVariantMap& consent, const QString& key) {
            link->setConsent(consent, key);
        };
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    environment.logInternalEvent = [weak](const QString& origin, const QString& name, const QVariantMap& parameters) {
        if (const auto self = weak.lock(); self && *self)
            (*self)->logInternalEventWithOrigin(origin, name, parameters);
    };
    tcfClient_ = std::make_unique<APMTCFClient>(std::move(environment));
    tcfClient_->setIsDMARegion(shared_.remoteConfig->isDMARegion());
    tcfClientSetConsentFromData();
}

void APMMeasurement::tcfClientSetConsentFromData()
{
    if (tcfClient_)
        tcfClient_->setConsentFromTCFData();
}

void APMMeasurement::makeSearchAdReporter()
{
    APMSearchAdReporter::Environment environment;
    environment.clock = shared_.environment.clock;
    environment.timer = shared_.environment.timer;
    environment.http = shared_.environment.http;
    environment.tokenSource = shared_.environment.attributionTokenSource;
    environment.serviceURL = shared_.environment.searchAdsURL;
    environment.monitor = shared_.environment.monitor;
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    environment.logEvent = [weak](const QString& origin, const QString& name, const QVariantMap& parameters,
                               double timestamp) {
        if (const auto self = weak.lock(); self && *self)
            (*self)->logInternalEventWithOrigin(origin, name, parameters, timestamp);
    };
    searchAdReporter_ = APMSearchAdReporter::initWithWorkerQueue(
        &shared_.scheduler->workerQueue(), shared_.persistedConfig, std::move(environment));
    if (!searchAdReporter_)
        return;
    searchAdReporter_->setSearchAdReporterEnabled(true);
    searchAdReporter_->start();
}

std::shared_ptr<APMRemoteConfig> APMMeasurement::makeRemoteConfig()
{
    APMRemoteConfig::Environment environment = APMRemoteConfig::defaultEnvironment();
    environment.clock = shared_.environment.clock;
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    environment.isMeasurementEnabled = [weak] {
        const auto self = weak.lock();
        return self && *self && (*self)->isEnabled();
    };
    const QString appVersion = shared_.identity->appVersion();
    environment.appVersion = [appVersion] { return appVersion; };
    // A configuration's event-editing program gets its runner from the rules layer.
    environment.eventEditingProvider = std::make_shared<APMPEventEditingProvider>();
    if (shared_.environment.collectionURL.isValid() && !shared_.environment.collectionURL.host().isEmpty()) {
        environment.collectionHost = shared_.environment.collectionURL.host();
        environment.authorizedCollectionHost = shared_.environment.collectionURL.host();
    }
    // Only the configured address is ever asked; none: nothing is fetched.
    environment.configEndpoint = configFetcher_->configAddress().toString(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment
        | QUrl::StripTrailingSlash | QUrl::RemoveUserInfo);
    experimentManager_ = makeExperimentManager();
    return APMRemoteConfig::initWithAppID(shared_.appID, remoteConfigDatabase_, experimentManager_, std::move(environment));
}

// ---- Wiping ---------------------------------------------------------------------

bool APMMeasurement::shouldWipeDataWithAppID(const QString& appID, const QString& appIDFromVMP,
    const QString& appIDFromAdNest, const QString& persistedAppIDFromVMP, const QString& persistedAppIDFromAdNest) const
{
    if (shared_.environment.frontEnd && isResetPending(shared_.environment.frontEnd->link->resetRetryCount()))
        return true;
    if (isPresent(persistedAppIDFromVMP) && isPresent(appIDFromVMP))
        return persistedAppIDFromVMP != appIDFromVMP;
    if (!isPresent(persistedAppIDFromVMP) && isPresent(persistedAppIDFromAdNest) && isPresent(appIDFromVMP))
        return !isPresent(appIDFromAdNest) || appIDFromAdNest != persistedAppIDFromAdNest;
    if (isPresent(persistedAppIDFromVMP) && !isPresent(appIDFromVMP) && isPresent(appIDFromAdNest)
        && !isPresent(persistedAppIDFromAdNest))
        return isPresent(appID);
    if (!isPresent(appIDFromVMP) && isPresent(persistedAppIDFromAdNest))
        return isPresent(appID) && appID != persistedAppIDFromAdNest;
    return false;
}

void APMMeasurement::updatePersistedAppIDFromVMPAndAdNest()
{
    const QString vmp = shared_.identity->appIDFromVMP();
    const QString adNest = shared_.identity->appIDFromAdNest();
    if (vmp != shared_.persistedConfig->appIDFromVMP())
        shared_.persistedConfig->setAppIDFromVMP(vmp);
    if (adNest != shared_.persistedConfig->appIDFromAdNest())
        shared_.persistedConfig->setAppIDFromAdNest(adNest);
    // The ID the engine was started with belongs to whoever started it.
    if (!shared_.environment.frontEnd)
        return;
    if (shared_.environment.frontEnd->origin == apm_engine::kPlatformOrigin)
        shared_.persistedConfig->setAppIDFromVMP(shared_.appID);
    else if (shared_.environment.frontEnd->origin == apm_engine::kAdOrigin)
        shared_.persistedConfig->setAppIDFromAdNest(shared_.appID);
}

bool APMMeasurement::wipeoutAnalyticsDataAndResetComponents()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("wipeoutAnalyticsDataAndResetComponents"));
    shared_.log(APMMonitor::kLevelNotice, 23171, QStringLiteral("Resetting App Measurement data"));
    resetPSMCounts();
    lifecycleReporter_->setPreviousVMPAppID(shared_.persistedConfig->appIDFromVMP());
    shared_.persistedConfig->clearValues();
    shared_.environment.monitor->clearMonitoringData();
    if (shared_.remoteConfig && shared_.remoteConfig->DMAConsentEnabled() && APMConsentSettingsUtil::adPersonalization()) {
        APMConsentSettingsUtil::unsetAdPersonalization();
        APMConsentSettingsUtil::setDefaultSettings(std::nullopt);
        APMConsentSettingsUtil::setDelegatedSettings(std::nullopt);
    }
    if (shared_.database) {
        APMError error;
        if (!shared_.database->reset(&error)) {
            shared_.log(APMMonitor::kLevelErrorMonitored, 23209, QStringLiteral("Failed to reset database"));
            return false;
        }
        shared_.remoteConfig->reset();
        // The stored audience definitions went with the data; the evaluator
        // must not go on with the ones it read before.
        if (shared_.environment.audience && !shared_.environment.audience->updateAudiences({})) {
            shared_.log(APMMonitor::kLevelErrorMonitored, 23209, QStringLiteral("Failed to reset database"));
            return false;
        }
        // The session number and activity went with the persisted state.
        if (sessionReporter())
            sessions_->makeSessionReporter()->setReportingEnabled(shared_.enabled);
    } else {
        const QString path = shared_.environment.databasePath.isEmpty() ? APMApplicationSupportPath(kDatabaseName)
                                                                 : shared_.environment.databasePath;
        APMError error;
        if (QFileInfo::exists(path) && !APMDeleteFileAtPath(path, &error))
            shared_.log(APMMonitor::kLevelErrorMonitored, 23014, QStringLiteral("Failed to delete old database file. Error"),
                error.description());
    }
    shared_.identity->updateIdentifiersAndWait();
    shared_.identity->resetEphemeralAppInstanceID();
    shared_.identity->resetSessionStitchingToken();
    return true;
}

void APMMeasurement::setProspectiveConsentSettings()
{
    const auto wins = [](qint64 source) { return APMConsentSettingsUtil::isConsentSourceHigherPriority(source); };
    const qint64 current = APMConsentSettingsUtil::consentSource();
    const QVariantMap thirdParty = shared_.environment.frontEnd->link->consentSettings3P().value_or(QVariantMap());
    const QVariantMap atStart = shared_.environment.frontEnd->link->consentSettings1PStart().value_or(QVariantMap());
    const QVariantMap fromPlist = APMConsentSettingsUtil::consentSettingsFromPlist(
        shared_.environment.infoDictionary.value_or(QVariantMap()));
    const QVariantMap tcf = shared_.environment.frontEnd->link->consentSettingsTCF().value_or(QVariantMap());

    QVariantMap settings;
    qint64 source = APMConsentSettingsUtil::SourceThirdParty;
    if (!tcf.isEmpty() && wins(APMConsentSettingsUtil::SourceTCF)
        && (thirdParty.isEmpty() || current == APMConsentSettingsUtil::SourceTCF)) {
        settings = tcf;
        source = APMConsentSettingsUtil::SourceTCF;
    } else if (!fromPlist.isEmpty() && wins(APMConsentSettingsUtil::SourceInfoDictionary)) {
        settings = fromPlist;
        source = APMConsentSettingsUtil::SourceInfoDictionary;
    } else if (shared_.environment.frontEnd->hasPublicInterface
        && (current == APMConsentSettingsUtil::SourceApplication
            || current == APMConsentSettingsUtil::SourceApplicationAtStart)) {
        shared_.environment.frontEnd->link->clearConsent();
    } else {
        settings = thirdParty;
        if (!atStart.isEmpty() && wins(APMConsentSettingsUtil::SourceApplicationAtStart)) {
            settings = atStart;
            source = APMConsentSettingsUtil::SourceApplicationAtStart;
        }
    }
    if (settings.isEmpty() || !wins(source))
        return;
    APMConsentSettingsUtil::setConsentSettings(settings);
    APMConsentSettingsUtil::setConsentSource(source);
    shared_.environment.frontEnd->link->persistConsentSettings(settings, source);
}

void APMMeasurement::updateConsentSettingsUtilWithRemoteConfig()
{
    const std::optional<qint64> before = APMConsentSettingsUtil::adPersonalization();
    const bool dma = shared_.remoteConfig->DMAConsentEnabled();
    const QVariantMap defaults = shared_.remoteConfig->consentDefaults();
    const QVariantMap delegations = shared_.remoteConfig->consentDelegations();
    if (dma && (!defaults.isEmpty() || !delegations.isEmpty())) {
        APMConsentSettingsUtil::setDefaultSettings(defaults);
        APMConsentSettingsUtil::setDelegatedSettings(delegations);
    }
    if (shared_.remoteConfig->regionalDefaultsEnabled()) {
        const QVariantMap regional = shared_.remoteConfig->regionalDefaults();
        if (!regional.isEmpty())
            APMConsentSettingsUtil::setRegionalDefaults(regional);
    } else {
        APMConsentSettingsUtil::setRegionalDefaults(std::nullopt);
    }
    const std::optional<qint64> after = APMConsentSettingsUtil::adPersonalization();
    if (dma && after && after != before)
        shouldUpdateNPAUserProperty_ = true;
}

APMConfigStore& APMMeasurement::deepLinkStore() const
{
    return *shared_.environment.deepLinkStore;
}

platform::SystemFacts& APMMeasurement::systemFacts() const
{
    return *shared_.environment.systemFacts;
}
