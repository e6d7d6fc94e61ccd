#include "analytics/engine/APMEngineLifecycle.h"
#include "analytics/engine/APMConfigFetcher.h"
#include "analytics/engine/APMEngineContext.h"
#include "analytics/engine/APMLifecycleReporter.h"
#include "analytics/engine/APMMeasurement.h"
#include "analytics/engine/APMOnDeviceConversion.h"
#include "analytics/engine/APMSessionTracker.h"

#include "analytics/audience/APMAudience.h"
#include "analytics/audience/APMAudienceLimits.h"
#include "analytics/base/APMAlarm.h"
#include "analytics/base/APMBackupExclusion.h"
#include "analytics/base/APMBackwardCompatibilityUtil.h"
#include "analytics/base/APMClassRegistry.h"
#include "analytics/base/APMDeepLinkStore.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMFileLocations.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/base/APMUserDefaults.h"
#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/config/APMRemoteConfigDatabase.h"
#include "analytics/engine/APMAudienceBundleEvaluator.h"
#include "analytics/engine/APMAudienceEvaluator.h"
#include "analytics/engine/APMConditionalPropertyEventProcessor.h"
#include "analytics/engine/APMFrontEndLink.h"
#include "analytics/experiments/APMEDatabase.h"
#include "analytics/experiments/APMEExperimentRequestBuilder.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMETaskManager.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/identity/APMTCFClient.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "analytics/reporters/APMMeasurementRemoteConfig.h"
#include "analytics/reporters/APMSearchAdReporter.h"
#include "analytics/reporters/APMSessionReporter.h"
#include "analytics/rules/APMPEventEditingProvider.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/userproperties/APMConditionalUserPropertyController.h"
#include "analytics/wire/APMPBMeasurementConfig.h"
#include "platform/Reachability.h"
#include "platform/SerialQueue.h"

#include <QDir>
#include <QFileInfo>

namespace apm_engine_lifecycle {

const QString kRemoteConfigClassName = QStringLiteral("BASRemoteConfig");

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

} // namespace apm_engine_lifecycle

using namespace apm_engine_lifecycle;

APMEngineLifecycle::APMEngineLifecycle(APMEngineContext& shared, APMMeasurement& engine)
    : shared_(shared)
    , engine_(engine)
{
}

APMEngineLifecycle::~APMEngineLifecycle() = default;

// ---- Enabling ---------------------------------------------------------------

void APMEngineLifecycle::enableAsInitialized()
{
    const bool enable = shouldEnableMeasurement();
    setEnabled(enable);
    wasEnabledDuringInitialization_ = enable;
}

bool APMEngineLifecycle::shouldEnableMeasurement()
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

void APMEngineLifecycle::setEnabled(bool enabled)
{
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:611"), [weak, enabled] {
        if (const auto self = weak.lock(); self && *self)
            (*self)->lifecycle().setEnabledOnWorkerQueue(enabled);
    });
}

void APMEngineLifecycle::setEnabledOnWorkerQueue(bool enabled)
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("setIsEnabledOnWorkerQueue"));
    if (enabled && shared_.isAnalyticsCollectionDeactivated) {
        shared_.log(APMMonitor::kLevelNotice, 23206, QStringLiteral("Analytics collection deactivated"));
        return;
    }
    engine_.lifecycleReporter().markDeferredAnalyticsCollection(enabled);
    shared_.enabled = enabled;
    if (enabled) {
        if (!startMeasurementOnWorkerQueue()) {
            shared_.log(APMMonitor::kLevelError, 23011, QStringLiteral("Failed to start Analytics. Analytics is disabled"));
            setEnabled(false);
            return;
        }
        if (searchAdReporter_)
            searchAdReporter_->setSearchAdReporterEnabled(true);
        if (const auto reporter = engine_.sessionReporter())
            reporter->setReportingEnabled(true);
        shared_.log(APMMonitor::kLevelNotice, 23012, QStringLiteral("Analytics collection enabled"));
    } else {
        clearExpiredStoredDeepLink(deepLinkStore(), APMMeasurement::remoteConfig()->attributionCacheTTLInterval(), shared_.now());
        shared_.alarm->cancel();
        if (searchAdReporter_)
            searchAdReporter_->setSearchAdReporterEnabled(false);
        if (const auto reporter = engine_.sessionReporter())
            reporter->setReportingEnabled(false);
        shared_.log(APMMonitor::kLevelNotice, 23013, QStringLiteral("Analytics collection disabled"));
    }
}

APMConfigStore& APMEngineLifecycle::deepLinkStore() const
{
    return *shared_.environment.deepLinkStore;
}

// ---- Start ------------------------------------------------------------------

bool APMEngineLifecycle::startMeasurementOnWorkerQueue()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("startMeasurementOnWorkerQueue"));
    {
        std::lock_guard locker(initializeComponentsLock_);
        if (!didInitializeComponents_.load()) {
            if (!initializeComponents())
                return false;
            didInitializeComponents_.store(true);
            if (shared_.environment.reportsLifecycleAtStart)
                engine_.lifecycleReporter().reportLifecycleOnStartOnWorkerQueue();
            // After the first-open and update reports.
            initializeReportersOnWorkerQueue();
        }
    }
    if (shared_.environment.reportsLifecycleAtStart) {
        engine_.setPersonalizedAdsUserPropertyOnWorkerQueue();
        // A data reset the front end asked for restarts the install's story.
        if (shared_.environment.frontEnd && shared_.environment.frontEnd->link->needFirstOpenAfterReset()) {
            engine_.reportFirstOpenOnWorkerQueue();
            shared_.environment.frontEnd->link->removeNeedFirstOpenAfterReset();
        }
    }
    engine_.updateSchedule();
    if (APMBackwardCompatibilityUtil::disableVMRMeasurement())
        shared_.log(APMMonitor::kLevelErrorMonitored, 23210, QStringLiteral("VMRMeasurement has been disabled"));
    return true;
}

bool APMEngineLifecycle::initializeComponents()
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
        = shared_.environment.databasePath.isEmpty() ? APMApplicationSupportPath(APMDatabase::kDatabaseName) : shared_.environment.databasePath;
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
        engine_.sessions().makeSessionReporter();

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
    engine_.checkPSMDependencyOnWorkerQueue();
    engine_.maybeDeleteExpiredPSMValueOnWorkerQueue();
    return true;
}

std::shared_ptr<APMRemoteConfig> APMEngineLifecycle::makeRemoteConfig()
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
    environment.configEndpoint = engine_.configFetcher().configAddress().toString(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment
        | QUrl::StripTrailingSlash | QUrl::RemoveUserInfo);
    experimentManager_ = makeExperimentManager();
    return APMRemoteConfig::initWithAppID(shared_.appID, remoteConfigDatabase_, experimentManager_, std::move(environment));
}

void APMEngineLifecycle::initializeServices()
{
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    if (!shared_.environment.audience) {
        const std::weak_ptr<APMRemoteConfig> config = shared_.remoteConfig;
        auto audience = std::make_unique<APMAudience>(*shared_.database, [config] {
            const std::shared_ptr<APMRemoteConfig> current = config.lock();
            return current ? APMAudienceLimits::fromRemoteConfig(*current) : APMAudienceLimits();
        });
        shared_.environment.audience = std::make_shared<APMAudienceBundleEvaluator>(std::move(audience));
    }
    if (!shared_.environment.conditionalProperties) {
        // Companion events of setting and clearing go through the pipeline
        // like any other event.
        conditionalUserPropertyController_ = std::make_shared<APMConditionalUserPropertyController>(
            *shared_.database, shared_.scheduler->workerQueue(),
            [weak](const APMEvent& event) {
                if (const auto self = weak.lock(); self && *self)
                    (*self)->writeEventOnWorkerQueue(event);
            },
            [weak] {
                const auto self = weak.lock();
                return self && *self && (*self)->isEnabled();
            });
        // Queries wait for the worker queue on the engine's timer; from the
        // worker queue itself they run inline.
        conditionalUserPropertyController_->setQueryWaiting(shared_.environment.timer, [weak] {
            const auto self = weak.lock();
            return self && *self && (*self)->scheduler().isOnWorkerQueue();
        });
        shared_.environment.conditionalProperties
            = std::make_shared<APMConditionalPropertyEventProcessor>(conditionalUserPropertyController_);
    }
}

std::shared_ptr<APMEManager> APMEngineLifecycle::makeExperimentManager()
{
    APMETaskManager::Environment environment;
    // Fetches and their alarm run on the task manager's own worker queue;
    // tests inject their timer instead and run it on virtual time.
    environment.workerQueue = shared_.environment.timer;
    environment.clock = shared_.environment.clock;
    environment.network = shared_.environment.http;
    if (!shared_.environment.experimentStore && !experimentStore_)
        experimentStore_ = std::make_unique<APMUserDefaults>(APMETaskManager::kSuiteName);
    environment.persistedStorage = shared_.environment.experimentStore ? shared_.environment.experimentStore : experimentStore_.get();
    const QString measurementPath
        = shared_.environment.databasePath.isEmpty() ? APMApplicationSupportPath(APMDatabase::kDatabaseName) : shared_.environment.databasePath;
    environment.databasePath = QFileInfo(measurementPath).absoluteDir().filePath(APMEDatabase::kDatabaseName);
    environment.serviceAddress = shared_.environment.experimentsURL;
    environment.requestBuilder = std::make_shared<APMEExperimentRequestBuilder>();
    // New-snapshot notices go where the fetch task's alarm runs when that is
    // injected (tests on virtual time), else to the main queue.
    return APMEManager::initWithTaskManager(
        *shared_.environment.clock, std::make_shared<APMETaskManager>(environment), shared_.environment.timer);
}

void APMEngineLifecycle::initializeReportersOnWorkerQueue()
{
    makeSearchAdReporter();
    if (shared_.remoteConfig->tcfFeatureEnabled())
        makeTCFClient();
    // Feature rollouts are kept only for a configuration library that is
    // there to use them.
    if (!shared_.persistedConfig->basaltFeatureRollouts().isEmpty() && !isBasaltRemoteConfigSDKPresent())
        shared_.persistedConfig->setBasaltFeatureRollouts(QString());
    engine_.sessions().subscribeForAppForegroundBackgroundNotifications();
}

void APMEngineLifecycle::makeSearchAdReporter()
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

void APMEngineLifecycle::makeTCFClient()
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

void APMEngineLifecycle::tcfClientSetConsentFromData()
{
    if (tcfClient_)
        tcfClient_->setConsentFromTCFData();
}

bool APMEngineLifecycle::isBasaltRemoteConfigSDKPresent()
{
    return APMClassRegistry::classExists(kRemoteConfigClassName);
}

// ---- Consent ----------------------------------------------------------------

void APMEngineLifecycle::setProspectiveConsentSettings()
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

void APMEngineLifecycle::updateConsentSettingsUtilWithRemoteConfig()
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

// ---- Wiping -----------------------------------------------------------------

bool APMEngineLifecycle::shouldWipeDataWithAppID(const QString& appID, const QString& appIDFromVMP,
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

void APMEngineLifecycle::updatePersistedAppIDFromVMPAndAdNest()
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

bool APMEngineLifecycle::wipeoutAnalyticsDataAndResetComponents()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("wipeoutAnalyticsDataAndResetComponents"));
    shared_.log(APMMonitor::kLevelNotice, 23171, QStringLiteral("Resetting App Measurement data"));
    engine_.resetPSMCounts();
    engine_.lifecycleReporter().setPreviousVMPAppID(shared_.persistedConfig->appIDFromVMP());
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
        if (engine_.sessionReporter())
            engine_.sessions().makeSessionReporter()->setReportingEnabled(shared_.enabled);
    } else {
        const QString path = shared_.environment.databasePath.isEmpty() ? APMApplicationSupportPath(APMDatabase::kDatabaseName)
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

bool APMEngineLifecycle::resetAnalyticsDataWithAppInstanceID(const QString& appInstanceID)
{
    if (appInstanceID.isEmpty()) {
        if (!APMConsentSettingsUtil::isAnalyticsStorageDenied()) {
            shared_.log(APMMonitor::kLevelErrorMonitored, 23167,
                QStringLiteral("Cannot reset with an empty app instance ID"));
            return false;
        }
        shared_.log(APMMonitor::kLevelDebug, 23218, QStringLiteral("Resetting with an empty app instance ID"));
    }
    const double loadTimestamp = shared_.environment.loadTimestamp ? shared_.environment.loadTimestamp() : shared_.initTimestamp;
    bool reset = false;
    shared_.scheduler->dispatchSyncOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:3644"), [&] {
        if (!wipeoutAnalyticsDataAndResetComponents())
            return;
        reset = true;
        shared_.persistedConfig->setAppInstanceID(appInstanceID);
        updatePersistedAppIDFromVMPAndAdNest();
        shared_.log(APMMonitor::kLevelNotice, 23168, QStringLiteral("Analytics data has been reset"));
        engine_.lifecycleReporter().markDeferredAnalyticsCollection(shared_.enabled);
        shared_.initTimestamp = loadTimestamp;
        shared_.persistedConfig->setLoadTimestampValue(loadTimestamp);
        if (shared_.enabled) {
            engine_.setPersonalizedAdsUserPropertyOnWorkerQueue();
            engine_.reportFirstOpenOnWorkerQueue();
        }
    });
    return reset;
}

// ---- Stop ------------------------------------------------------------------

void APMEngineLifecycle::stop()
{
    // Work posted before runs first; then no firing and no reply reaches us.
    shared_.scheduler->dispatchSyncOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:dealloc"), [this] {
        shared_.alarm->cancel();
        // Their alarms belong to the queue: they go on it.
        searchAdReporter_.reset();
        engine_.conversion().cancelRetries();
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
