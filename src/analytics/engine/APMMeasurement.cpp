#include "analytics/engine/APMMeasurement.h"
#include "analytics/engine/APMAnalytics.h"

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
#include "analytics/base/APMEnvironmentInfo.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/base/APMUserDefaults.h"
#include "analytics/base/VULLogger.h"
#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/config/APMInfoPlistFileUtil.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/config/APMRemoteConfigDatabase.h"
#include "analytics/engine/APMAudienceEvaluator.h"
#include "analytics/engine/APMEventEditor.h"
#include "analytics/engine/APMLifetimeValueRecorder.h"
#include "analytics/engine/APMMeasurementRemoteConfig.h"
#include "analytics/engine/APMRateEventSampler.h"
#include "analytics/engine/APMRulesEventEditor.h"
#include "analytics/engine/APMSearchAdReporter.h"
#include "analytics/engine/APMSessionReporter.h"
#include "analytics/engine/APMSessionState.h"
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
        : database_(database)
    {
    }
    bool updateRemoteConfig(const APMPBMeasurementConfig& config, APMError* error) override
    {
        return database_.updateRemoteConfig(config, error);
    }
    std::unique_ptr<APMPBMeasurementConfig> queryMeasurementConfigWithError(APMError* error) override
    {
        return database_.queryMeasurementConfigWithError(error);
    }
    std::optional<double> lastRemoteConfigUpdateTimestamp(APMError* error) override
    {
        return database_.lastRemoteConfigUpdateTimestamp(error);
    }

private:
    APMDatabase& database_;
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
    environment.loadTimestamp = [] { return APMAnalytics::loadTimestamp(); };
    environment.logInternalEventWithOrigin = &APMMeasurement::logReportedInternalEvent;
    return environment;
}

void APMMeasurement::logReportedInternalEvent(
    const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp)
{
    if (APMAnalytics::hasStarted())
        APMAnalytics::logInternalEventWithOrigin(origin, name, timestamp, parameters);
    else
        logInternalEventOnSharedInstance(origin, name, parameters, timestamp);
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
    : environment_(std::move(environment))
    , appID_(appID)
    , safelistedEvents_(safelistedEvents)
    , isAnalyticsCollectionEnabled_(isAnalyticsCollectionEnabled)
    , isAnalyticsCollectionDeactivated_(isAnalyticsCollectionDeactivated)
    , self_(std::make_shared<APMMeasurement*>(this))
{
    if (!environment_.clock)
        environment_.clock = &platform::Clock::system();
    if (!environment_.http)
        environment_.http = &platform::HttpClient::shared();
    if (!environment_.persistedConfig)
        environment_.persistedConfig = &APMPersistedConfig::sharedInstance();
    if (!environment_.monitor)
        environment_.monitor = &monitor();
    if (!environment_.eventEditor)
        environment_.eventEditor = std::make_shared<APMRulesEventEditor>();
    // Sampling and lifetime value reach the database and configuration the
    // worker queue makes at start; both run only on that queue.
    if (!environment_.sampler) {
        APMRateEventSampler::Sources sources;
        sources.database = [this] { return database_.get(); };
        sources.remoteConfig = [this] { return remoteConfig_.get(); };
        sources.monitor = environment_.monitor;
        environment_.sampler = std::make_shared<APMRateEventSampler>(std::move(sources));
    }
    if (!environment_.lifetimeValue) {
        APMLifetimeValueRecorder::Sources sources;
        sources.database = [this] { return database_.get(); };
        sources.remoteConfig = [this] { return remoteConfig_.get(); };
        sources.clock = environment_.clock;
        sources.monitor = environment_.monitor;
        environment_.lifetimeValue = APMLifetimeValueRecorder::recordingToDatabase(std::move(sources));
    }
    persistedConfig_ = environment_.persistedConfig;
    if (!environment_.systemFacts)
        environment_.systemFacts = &platform::SystemFacts::shared();
    ownEnvironmentInfo_ = std::make_unique<APMEnvironmentInfo>(*environment_.systemFacts, environment_.monitor);
    if (!environment_.deepLinkStore)
        environment_.deepLinkStore = &APMUserDefaults::sharedUserDefaults();
    if (!environment_.infoDictionary)
        environment_.infoDictionary = APMInfoPlistFileUtil::mainBundleInfoDictionary();
    if (!environment_.processArguments)
        environment_.processArguments = QCoreApplication::arguments();

    scheduler_ = std::make_unique<APMScheduler>(kWorkerQueueLabel);
    platform::Executor& timer = environment_.timer ? *environment_.timer : scheduler_->workerQueue();
    alarm_ = std::make_unique<APMAlarm>(scheduler_->workerQueue(), timer, *environment_.clock, kAlarmName);

    const QVariant loadTimestamp = persistedConfig_->loadTimestampValue();
    if (loadTimestamp.isValid() && loadTimestamp.canConvert<double>()) {
        initTimestamp_ = loadTimestamp.toDouble();
    } else {
        initTimestamp_ = now();
        persistedConfig_->setLoadTimestampValue(initTimestamp_);
    }
    const bool enable = shouldEnableMeasurement();
    setEnabled(enable);
    wasEnabledDuringInitialization_ = enable;
}

APMMeasurement::~APMMeasurement()
{
    // Work posted before runs first; then no firing and no reply reaches us.
    scheduler_->dispatchSyncOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:dealloc"), [this] {
        alarm_->cancel();
        // Their alarms belong to the queue: they go on it.
        searchAdReporter_.reset();
        PSMRetryAlarm_.reset();
    });
    if (environment_.reachability)
        environment_.reachability->setChangeHandler({});
    self_.reset();
    scheduler_->workerQueue().stop();
    alarm_.reset();
    if (remoteConfig_ && APMMeasurementRemoteConfig::remoteConfig() == remoteConfig_)
        APMMeasurementRemoteConfig::setRemoteConfig(nullptr);
    // The experiment fetch task cancels its alarm on the queue it was given:
    // it goes (with the configuration holding it) while that queue exists.
    remoteConfig_.reset();
    experimentManager_.reset();
}

// ---- Helpers --------------------------------------------------------------------

void APMMeasurement::log(qint64 level, qint64 code, const QString& message) const
{
    environment_.monitor->logWithLevel(level, code, message);
}

void APMMeasurement::log(qint64 level, qint64 code, const QString& message, const QVariant& context) const
{
    environment_.monitor->logWithLevel(level, code, message, context);
}

void APMMeasurement::log(
    qint64 level, qint64 code, const QString& message, const QVariant& context1, const QVariant& context2) const
{
    environment_.monitor->logWithLevel(level, code, message, context1, context2);
}

bool APMMeasurement::isDebugMode() const
{
    return environment_.monitor->isDebugModeEnabled();
}

double APMMeasurement::now() const
{
    return environment_.clock->now();
}

double APMMeasurement::bootClock() const
{
    return environment_.clock->monotonic();
}

void APMMeasurement::dispatchSyncOnWorkerQueue(const std::function<void()>& work)
{
    scheduler_->dispatchSyncOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:sync"), work);
}

// ---- Enabling -------------------------------------------------------------------

bool APMMeasurement::shouldEnableMeasurement()
{
    if (isAnalyticsCollectionDeactivated_)
        return false;
    switch (persistedConfig_->measurementEnabledState()) {
    case 1:
        return true;
    case 2:
        return false;
    default:
        return isAnalyticsCollectionEnabled_;
    }
}

void APMMeasurement::setEnabled(bool enabled)
{
    const std::weak_ptr<APMMeasurement*> weak = self_;
    scheduler_->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:611"), [weak, enabled] {
        if (const auto self = weak.lock(); self && *self)
            (*self)->setEnabledOnWorkerQueue(enabled);
    });
}

void APMMeasurement::setEnabledOnWorkerQueue(bool enabled)
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("setIsEnabledOnWorkerQueue"));
    if (enabled && isAnalyticsCollectionDeactivated_) {
        log(APMMonitor::kLevelNotice, 23206, QStringLiteral("Analytics collection deactivated"));
        return;
    }
    markDeferredAnalyticsCollection(enabled);
    enabled_ = enabled;
    if (enabled) {
        if (!startMeasurementOnWorkerQueue()) {
            log(APMMonitor::kLevelError, 23011, QStringLiteral("Failed to start Analytics. Analytics is disabled"));
            setEnabled(false);
            return;
        }
        if (searchAdReporter_)
            searchAdReporter_->setSearchAdReporterEnabled(true);
        if (const auto reporter = sessionReporter())
            reporter->setReportingEnabled(true);
        log(APMMonitor::kLevelNotice, 23012, QStringLiteral("Analytics collection enabled"));
    } else {
        clearExpiredStoredDeepLink(deepLinkStore(), remoteConfig()->attributionCacheTTLInterval(), now());
        alarm_->cancel();
        if (searchAdReporter_)
            searchAdReporter_->setSearchAdReporterEnabled(false);
        if (const auto reporter = sessionReporter())
            reporter->setReportingEnabled(false);
        log(APMMonitor::kLevelNotice, 23013, QStringLiteral("Analytics collection disabled"));
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
            if (environment_.reportsLifecycleAtStart)
                reportLifecycleOnStartOnWorkerQueue();
            // After the first-open and update reports.
            initializeReportersOnWorkerQueue();
        }
    }
    if (environment_.reportsLifecycleAtStart) {
        setPersonalizedAdsUserPropertyOnWorkerQueue();
        // A data reset the front end asked for restarts the install's story.
        if (environment_.frontEnd && APMAnalytics::needFirstOpenAfterReset()) {
            reportFirstOpenOnWorkerQueue();
            APMAnalytics::removeNeedFirstOpenAfterReset();
        }
    }
    updateSchedule();
    if (APMBackwardCompatibilityUtil::disableVMRMeasurement())
        log(APMMonitor::kLevelErrorMonitored, 23210, QStringLiteral("VMRMeasurement has been disabled"));
    return true;
}

bool APMMeasurement::initializeComponents()
{
    identity_ = environment_.identity ? environment_.identity : &APMIdentity::sharedInstance();
    if (environment_.frontEnd) {
        setProspectiveConsentSettings();
        APMAnalytics::removeStartUpConsentSettings();
        APMAnalytics::removeDeferredResetOnDeniedConsent();
    }

    const QString persistedVMP = persistedConfig_->appIDFromVMP();
    const QString persistedAdNest = persistedConfig_->appIDFromAdNest();
    if (shouldWipeDataWithAppID(
            appID_, identity_->appIDFromVMP(), identity_->appIDFromAdNest(), persistedVMP, persistedAdNest)) {
        // Raised first: a crash in the middle of the wipe leaves the next
        // start to wipe again.
        if (environment_.frontEnd)
            APMAnalytics::setResetRetryCount(APMAnalytics::resetRetryCount() + 1);
        if (!wipeoutAnalyticsDataAndResetComponents())
            log(APMMonitor::kLevelWarningMonitored, 23208, QStringLiteral("Failed to wipe out Analytics data"));
        else if (environment_.frontEnd)
            APMAnalytics::setResetRetryCount(0);
    }
    identity_->updateIdentifiers();
    if (environment_.frontEnd) {
        const QString afterReset = APMAnalytics::appInstanceIDAfterReset();
        if (!afterReset.isEmpty()) {
            identity_->setAppInstanceID(afterReset);
            APMAnalytics::setAppInstanceIDAfterReset(QString());
        }
    }
    updatePersistedAppIDFromVMPAndAdNest();

    const QString path
        = environment_.databasePath.isEmpty() ? APMApplicationSupportPath(kDatabaseName) : environment_.databasePath;
    APMError error;
    for (int attempt = 0; attempt < 2 && !database_; ++attempt)
        database_ = APMDatabase::initWithDatabasePath(path, persistedConfig_, &error);
    if (!database_)
        return false;
    database_->setClock(environment_.clock);
    remoteConfigDatabase_ = std::make_shared<MeasurementConfigStore>(*database_);
    remoteConfig_ = makeRemoteConfig();
    if (!remoteConfig_)
        return false;
    // The store, the identity and the naming rules read this configuration from now on.
    APMMeasurementRemoteConfig::setRemoteConfig(remoteConfig_);
    initializeServices();
    if (!environment_.session)
        makeSessionReporter();

    APMError backupError;
    if (!APMExcludePathFromBackup(QFileInfo(path).absolutePath(), &backupError))
        log(APMMonitor::kLevelWarningSilent, 23015, QStringLiteral("Failed to exclude directory from backup. Error"),
            backupError.description());
    log(APMMonitor::kLevelDebug, 23016, QStringLiteral("Analytics is ready to receive events"));
    environment_.monitor->setEncodeContexts(identity_->isFromAppStore());

    APMError staleError;
    if (!database_->maybeDeleteStaleData(&staleError))
        log(APMMonitor::kLevelWarningSilent, 23018, QStringLiteral("Unable to delete stale data. Error"),
            staleError.description());
    if (remoteConfig_->DMAConsentEnabled())
        updateConsentSettingsUtilWithRemoteConfig();
    checkPSMDependencyOnWorkerQueue();
    maybeDeleteExpiredPSMValueOnWorkerQueue();
    return true;
}

void APMMeasurement::initializeReportersOnWorkerQueue()
{
    makeSearchAdReporter();
    if (remoteConfig_->tcfFeatureEnabled())
        makeTCFClient();
    // Feature rollouts are kept only for a configuration library that is
    // there to use them.
    if (!persistedConfig_->basaltFeatureRollouts().isEmpty() && !isBasaltRemoteConfigSDKPresent())
        persistedConfig_->setBasaltFeatureRollouts(QString());
    subscribeForAppForegroundBackgroundNotifications();
}

void APMMeasurement::makeTCFClient()
{
    APMTCFClient::Environment environment;
    environment.userDefaults = environment_.tcfUserDefaults;
    if (environment_.tcfPrivateStore)
        environment.tcfUserDefaults = environment_.tcfPrivateStore();
    environment.infoDictionary = environment_.infoDictionary;
    // The platform's consent goes through the front end, which keeps it
    // under the TCF source; an engine alone has nowhere to keep it.
    if (environment_.frontEnd)
        environment.setConsent = [](const QVariantMap& consent, const QString& key) {
            APMAnalytics::setConsent(consent, key);
        };
    const std::weak_ptr<APMMeasurement*> weak = self_;
    environment.logInternalEvent = [weak](const QString& origin, const QString& name, const QVariantMap& parameters) {
        if (const auto self = weak.lock(); self && *self)
            (*self)->logInternalEventWithOrigin(origin, name, parameters);
    };
    tcfClient_ = std::make_unique<APMTCFClient>(std::move(environment));
    tcfClient_->setIsDMARegion(remoteConfig_->isDMARegion());
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
    environment.clock = environment_.clock;
    environment.timer = environment_.timer;
    environment.http = environment_.http;
    environment.tokenSource = environment_.attributionTokenSource;
    environment.serviceURL = environment_.searchAdsURL;
    environment.monitor = environment_.monitor;
    const std::weak_ptr<APMMeasurement*> weak = self_;
    environment.logEvent = [weak](const QString& origin, const QString& name, const QVariantMap& parameters,
                               double timestamp) {
        if (const auto self = weak.lock(); self && *self)
            (*self)->logInternalEventWithOrigin(origin, name, parameters, timestamp);
    };
    searchAdReporter_ = APMSearchAdReporter::initWithWorkerQueue(
        &scheduler_->workerQueue(), persistedConfig_, std::move(environment));
    if (!searchAdReporter_)
        return;
    searchAdReporter_->setSearchAdReporterEnabled(true);
    searchAdReporter_->start();
}

std::shared_ptr<APMRemoteConfig> APMMeasurement::makeRemoteConfig()
{
    APMRemoteConfig::Environment environment = APMRemoteConfig::defaultEnvironment();
    environment.clock = environment_.clock;
    const std::weak_ptr<APMMeasurement*> weak = self_;
    environment.isMeasurementEnabled = [weak] {
        const auto self = weak.lock();
        return self && *self && (*self)->isEnabled();
    };
    const QString appVersion = identity_->appVersion();
    environment.appVersion = [appVersion] { return appVersion; };
    // A configuration's event-editing program gets its runner from the rules layer.
    environment.eventEditingProvider = std::make_shared<APMPEventEditingProvider>();
    if (environment_.collectionURL.isValid() && !environment_.collectionURL.host().isEmpty()) {
        environment.collectionHost = environment_.collectionURL.host();
        environment.authorizedCollectionHost = environment_.collectionURL.host();
    }
    // Only the configured address is ever asked; none: nothing is fetched.
    environment.configEndpoint = configAddress().toString(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment
        | QUrl::StripTrailingSlash | QUrl::RemoveUserInfo);
    experimentManager_ = makeExperimentManager();
    return APMRemoteConfig::initWithAppID(appID_, remoteConfigDatabase_, experimentManager_, std::move(environment));
}

// ---- Wiping ---------------------------------------------------------------------

bool APMMeasurement::shouldWipeDataWithAppID(const QString& appID, const QString& appIDFromVMP,
    const QString& appIDFromAdNest, const QString& persistedAppIDFromVMP, const QString& persistedAppIDFromAdNest) const
{
    if (environment_.frontEnd && isResetPending(APMAnalytics::resetRetryCount()))
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
    const QString vmp = identity_->appIDFromVMP();
    const QString adNest = identity_->appIDFromAdNest();
    if (vmp != persistedConfig_->appIDFromVMP())
        persistedConfig_->setAppIDFromVMP(vmp);
    if (adNest != persistedConfig_->appIDFromAdNest())
        persistedConfig_->setAppIDFromAdNest(adNest);
    // The ID the engine was started with belongs to whoever started it.
    if (!environment_.frontEnd)
        return;
    if (environment_.frontEnd->origin == APMAnalytics::kPlatformOrigin)
        persistedConfig_->setAppIDFromVMP(appID_);
    else if (environment_.frontEnd->origin == APMAnalytics::kAdOrigin)
        persistedConfig_->setAppIDFromAdNest(appID_);
}

bool APMMeasurement::wipeoutAnalyticsDataAndResetComponents()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("wipeoutAnalyticsDataAndResetComponents"));
    log(APMMonitor::kLevelNotice, 23171, QStringLiteral("Resetting App Measurement data"));
    resetPSMCounts();
    previousVMPAppID_ = persistedConfig_->appIDFromVMP();
    persistedConfig_->clearValues();
    environment_.monitor->clearMonitoringData();
    if (remoteConfig_ && remoteConfig_->DMAConsentEnabled() && APMConsentSettingsUtil::adPersonalization()) {
        APMConsentSettingsUtil::unsetAdPersonalization();
        APMConsentSettingsUtil::setDefaultSettings(std::nullopt);
        APMConsentSettingsUtil::setDelegatedSettings(std::nullopt);
    }
    if (database_) {
        APMError error;
        if (!database_->reset(&error)) {
            log(APMMonitor::kLevelErrorMonitored, 23209, QStringLiteral("Failed to reset database"));
            return false;
        }
        remoteConfig_->reset();
        // The stored audience definitions went with the data; the evaluator
        // must not go on with the ones it read before.
        if (environment_.audience && !environment_.audience->updateAudiences({})) {
            log(APMMonitor::kLevelErrorMonitored, 23209, QStringLiteral("Failed to reset database"));
            return false;
        }
        // The session number and activity went with the persisted state.
        if (sessionReporter())
            makeSessionReporter()->setReportingEnabled(enabled_);
    } else {
        const QString path = environment_.databasePath.isEmpty() ? APMApplicationSupportPath(kDatabaseName)
                                                                 : environment_.databasePath;
        APMError error;
        if (QFileInfo::exists(path) && !APMDeleteFileAtPath(path, &error))
            log(APMMonitor::kLevelErrorMonitored, 23014, QStringLiteral("Failed to delete old database file. Error"),
                error.description());
    }
    identity_->updateIdentifiersAndWait();
    identity_->resetEphemeralAppInstanceID();
    identity_->resetSessionStitchingToken();
    return true;
}

void APMMeasurement::setProspectiveConsentSettings()
{
    const auto wins = [](qint64 source) { return APMConsentSettingsUtil::isConsentSourceHigherPriority(source); };
    const qint64 current = APMConsentSettingsUtil::consentSource();
    const QVariantMap thirdParty = APMAnalytics::consentSettings3P().value_or(QVariantMap());
    const QVariantMap atStart = APMAnalytics::consentSettings1PStart().value_or(QVariantMap());
    const QVariantMap fromPlist = APMConsentSettingsUtil::consentSettingsFromPlist(
        environment_.infoDictionary.value_or(QVariantMap()));
    const QVariantMap tcf = APMAnalytics::consentSettingsTCF().value_or(QVariantMap());

    QVariantMap settings;
    qint64 source = APMConsentSettingsUtil::SourceThirdParty;
    if (!tcf.isEmpty() && wins(APMConsentSettingsUtil::SourceTCF)
        && (thirdParty.isEmpty() || current == APMConsentSettingsUtil::SourceTCF)) {
        settings = tcf;
        source = APMConsentSettingsUtil::SourceTCF;
    } else if (!fromPlist.isEmpty() && wins(APMConsentSettingsUtil::SourceInfoDictionary)) {
        settings = fromPlist;
        source = APMConsentSettingsUtil::SourceInfoDictionary;
    } else if (environment_.frontEnd->hasPublicInterface
        && (current == APMConsentSettingsUtil::SourceApplication
            || current == APMConsentSettingsUtil::SourceApplicationAtStart)) {
        APMAnalytics::clearConsent();
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
    APMAnalytics::persistConsentSettings(settings, source);
}

void APMMeasurement::updateConsentSettingsUtilWithRemoteConfig()
{
    const std::optional<qint64> before = APMConsentSettingsUtil::adPersonalization();
    const bool dma = remoteConfig_->DMAConsentEnabled();
    const QVariantMap defaults = remoteConfig_->consentDefaults();
    const QVariantMap delegations = remoteConfig_->consentDelegations();
    if (dma && (!defaults.isEmpty() || !delegations.isEmpty())) {
        APMConsentSettingsUtil::setDefaultSettings(defaults);
        APMConsentSettingsUtil::setDelegatedSettings(delegations);
    }
    if (remoteConfig_->regionalDefaultsEnabled()) {
        const QVariantMap regional = remoteConfig_->regionalDefaults();
        if (!regional.isEmpty())
            APMConsentSettingsUtil::setRegionalDefaults(regional);
    } else {
        APMConsentSettingsUtil::setRegionalDefaults(std::nullopt);
    }
    const std::optional<qint64> after = APMConsentSettingsUtil::adPersonalization();
    if (dma && after && after != before)
        shouldUpdateNPAUserProperty_ = true;
}
