#pragma once

#include "analytics/base/APMError.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMUserActivity.h"
#include "analytics/engine/APMEngineContext.h"
#include "analytics/engine/APMEventPipeline.h"
#include "analytics/engine/APMMeasurementEnvironment.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>

namespace platform {
class Clock;
class NotificationCenter;
struct HttpRequest;
struct HttpResponse;
struct Notification;
struct StorePaymentTransaction;
} // namespace platform

class APMAlarm;
class APMBundler;
class APMConditionalUserPropertyController;
class APMConfigFetcher;
class APMDatabase;
class APMDeepLinkHandler;
class APMEngineLifecycle;
class APMEvent;
class APMIdentity;
class APMLifecycleReporter;
class APMMonitor;
class APMOnDeviceConversion;
class APMPersistedConfig;
class APMRemoteConfig;
class APMScheduler;
class APMScreenViewReporter;
class APMSessionReporter;
class APMSessionTracker;
class APMTCFClient;
class APMUploadScheduler;
class APMUserAttribute;

// The measurement engine: owns the measurement database, the remote
// configuration, the identity, the worker queue with its upload alarm and the
// network client, and runs every operation of the engine on that queue. Events
// and user properties come in through the logging entry, pass the event
// pipeline into raw events, are bundled and uploaded in gzipped batches to the
// collection address.
//
// Nothing is lost or sent twice by the engine's own doing: raw events are
// deleted only in the transaction that stores their bundle, bundles only
// after the collection server accepted the batch that carried them, so a
// crash at any point leaves the data to be sent by the next run.
//
// This class is the engine's face: it makes the engine and keeps the shared
// instance, the launch hook and the route of internal events
// (APMMeasurement.cpp); its doors post a caller's work to the worker queue
// (APMMeasurementLogging.cpp), hand it to the job that owns it
// (APMMeasurementJobs.cpp) or are small services (APMMeasurementServices.cpp).
// Each job is a class that owns its state and documents its doors:
// APMEngineLifecycle (enabling, the start with consent restore, the services,
// the TCF client, the wipe, the stop), APMEventPipeline (the logging entry's
// worker-queue side, default event parameters, user properties, events into
// raw events), APMBundler, APMUploadScheduler (schedule, batches, the one
// network request at a time), APMConfigFetcher (configuration fetch and its
// application), APMLifecycleReporter (first open, updates, stored campaign,
// personalized ads), APMSessionTracker, APMDeepLinkHandler (campaign URLs,
// deep links) and APMOnDeviceConversion. They share APMEngineContext, which
// the engine owns, and reach one another through the doors below, or through
// a job's accessor (as tests do) for work the engine has no door for.
class APMMeasurement {
public:
    static constexpr qint64 kAppMetricsLibraryVersion = APMLibrary::kAppMetricsLibraryVersion;
    static const QString kWorkerQueueLabel; // "com.vireo.basa.worker"
    static const QString kAlarmName; // "Measurement timer"
    static const QString kCollectionURLVariable; // "PRAVIK_ANALYTICS_COLLECTION_URL"
    static const QString kAdServicesURLVariable; // "PRAVIK_ANALYTICS_ADSERVICES_URL"

    using Environment = APMMeasurementEnvironment;
    // The process's own: system clock, shared HTTP client, collection address
    // from PRAVIK_ANALYTICS_COLLECTION_URL, shared persisted state and identity.
    static Environment defaultEnvironment();
    static APMMonitor& monitor();

    // ---- Shared instance and life cycle ------------------------------------------

    // At most once per process: makes the shared engine when the app ID is not
    // empty. A later call (or one after an empty ID) changes nothing.
    static void initializeSharedInstanceWithAppID(const QString& appID, bool isAnalyticsCollectionEnabled,
        bool isAnalyticsCollectionDeactivated, const QStringList& safelistedEvents);
    // The same with the environment given (the front end passes its own).
    static void initializeSharedInstanceWithAppID(const QString& appID, bool isAnalyticsCollectionEnabled,
        bool isAnalyticsCollectionDeactivated, const QStringList& safelistedEvents, Environment environment);
    // Tests only: ends the shared engine (finishing its work) for a new one.
    static void resetSharedInstance();
    static bool hasSharedInstance();
    static APMMeasurement* sharedInstance();
    // The engine's remote configuration, or the default instance without one.
    static std::shared_ptr<APMRemoteConfig> remoteConfig();
    // Nothing for an empty app ID (level 1, code 23170). The engine posts its
    // own enabling (shouldEnableMeasurement()) to the worker queue.
    static std::unique_ptr<APMMeasurement> initWithAppID(const QString& appID, bool isAnalyticsCollectionEnabled,
        bool isAnalyticsCollectionDeactivated, const QStringList& safelistedEvents,
        Environment environment = defaultEnvironment());
    // Finishes the work already posted, then stops.
    ~APMMeasurement();
    APMMeasurement(const APMMeasurement&) = delete;
    APMMeasurement& operator=(const APMMeasurement&) = delete;

    // Runs the work on the worker queue and waits for it (tests, shutdown).
    void dispatchSyncOnWorkerQueue(const std::function<void()>& work);
    // Installed once at program start: at launch the screen-view reporter
    // comes to life and the address the application was launched with is kept.
    static void subscribeForAppDidFinishLaunchingNotifications(platform::NotificationCenter& center);
    static void handleAppDidFinishLaunching(const platform::Notification& notification);

    // ---- Logging entry, default parameters and user properties (posted) ----------

    using Interceptor = APMEventPipeline::Interceptor;
    using SessionIDCompletion = std::function<void(qint64 sessionID, const std::optional<APMError>& error)>;
    void logEventWithOrigin(const QString& origin, bool isPublicEvent, const QString& name,
        const QVariantMap& parameters, double timestamp, bool enabled, bool ignoreEnabled, bool ignoreInterceptor,
        Interceptor interceptor, const QVariantMap& addedScreenParameters);
    // An event made elsewhere, through the pipeline; none: level 4, code 23048.
    void logEvent(const std::optional<APMEvent>& event);
    // An internal event of the engine itself (origin "auto", now).
    void logInternalEvent(const QString& name, const QVariantMap& parameters);
    void setDefaultEventParameters(const std::optional<QVariantMap>& parameters);
    void setUserAttribute(const std::optional<APMUserAttribute>& attribute);
    void removeUserAttribute(const QString& name);
    // Any thread: one worker-queue block asks shouldDisableAdPersonalization()
    // and sets "_npa" (origin "auto", at the timestamp) to its answer or
    // removes it, so that no consent change can come between the two.
    void setPersonalizedAdsUserPropertyWithTimestamp(double timestamp);
    // The callbacks run on the worker queue's caller side: a global queue.
    void userAttributeWithName(const QString& name, std::function<void(std::optional<APMUserAttribute>)> callback);
    void userPropertiesIncludingInternal(bool includeInternal, std::function<void(QVariantMap)> callback);
    // The callback receives 25 for every non-empty origin, on a global queue.
    void maxUserPropertiesForOrigin(const QString& origin, std::function<void(qint64)> callback);
    // The "_sid" user property, or an error of code 13; answered on the
    // worker queue (on the caller's thread once the engine is gone).
    void sessionIDWithCompletion(SessionIDCompletion completion);
    // The application's "VIREO_ANALYTICS_REGISTRATION_WITH_AD_NETWORK_ENABLED"
    // when it is a number; true otherwise.
    bool shouldAllowAdNetworkRegistration() const;
    static bool shouldAllowAdNetworkRegistrationWithInfoDictionary(const QVariantMap& infoDictionary);

    // ---- Internal events of the engine's reporters and jobs ------------------------

    // Where the environment's `logInternalEventWithOrigin` sends it, else the
    // engine's own entry (now without a timestamp).
    void logInternalEventWithOrigin(
        const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp);
    void logInternalEventWithOrigin(
        const QString& origin, const QString& name, const QVariantMap& parameters);
    // The engine's own entry, on the current screen unless the event names one.
    void logOwnInternalEvent(
        const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp);
    // The engine's own entry on the shared engine; nothing without one.
    static void logInternalEventOnSharedInstance(
        const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp);
    // Where reporters and lifecycle reports log by default: the front end's
    // internal-event entry once one has started (its queue keeps their order
    // with the application's events), else the shared engine's own entry.
    static void logReportedInternalEvent(
        const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp);

    // ---- Small services (APMMeasurementServices.cpp) ---------------------------------

    // Any thread: posts the duplicate filter, the purchased transactions whose
    // fingerprint was not seen before (or cannot be checked), in order. The
    // callback runs on a global queue; never when the engine is gone.
    void filterPurchaseTransactions(const QList<platform::StorePaymentTransaction>& transactions,
        std::function<void(QList<platform::StorePaymentTransaction>)> callback);
    // Worker queue: the first open's time (seconds since 1970); 0 when unknown.
    double firstOpenTimestamp();
    // The network library's log lines, as monitor lines.
    void VULNetwork_logWithLevel(qint64 level, qint64 code, const QString& message);
    void VULNetwork_logWithLevelMessageCodeMessageContext(
        qint64 level, qint64 code, const QString& message, const QVariant& context);
    void VULNetwork_logWithLevelMessageCodeMessageContexts(
        qint64 level, qint64 code, const QString& message, const QVariantList& contexts);

    // ---- Doors to the jobs (APMMeasurementJobs.cpp) -----------------------------------

    // Life cycle (APMEngineLifecycle).
    void setEnabled(bool enabled);
    bool didInitializeComponents() const;
    // Whether enabling was asked for when the engine was made.
    bool wasEnabledDuringInitialization() const;
    void updateConsentSettingsUtilWithRemoteConfig();
    void tcfClientSetConsentFromData();
    APMTCFClient* tcfClient() const;
    bool shouldUpdateNPAUserProperty() const;
    void setShouldUpdateNPAUserProperty(bool value);
    // Null until the components are initialized.
    APMConditionalUserPropertyController* conditionalUserPropertyController() const;
    // Wipes the data and starts over under the app instance ID (waits).
    bool resetAnalyticsDataWithAppInstanceID(const QString& appInstanceID);
    // Event pipeline (APMEventPipeline), worker queue.
    void setUserAttributeOnWorkerQueue(const APMUserAttribute& attribute);
    bool setUserPropertyInDatabaseOnWorkerQueue(const APMUserAttribute& attribute);
    void handleInternalEventOnWorkerQueue(APMEvent event);
    void writeEventOnWorkerQueue(const APMEvent& event);
    // On-device conversion measurement (APMOnDeviceConversion).
    void setUserData(const QVariantMap& userData);
    void checkPSMDependencyOnWorkerQueue();
    void maybeDeleteExpiredPSMValueOnWorkerQueue();
    void resetPSMCounts();
    bool resumePostponedPSMRequest();
    // Upload (APMUploadScheduler).
    void updateSchedule();
    void uploadData();
    bool isNetworkReadyForRequest();
    void sendNetworkRequest(const platform::HttpRequest& request, const QString& blockID,
        std::function<void(const platform::HttpResponse&)> completion);
    void uploadDataOrRegisterAlarm();
    void reachabilityDidChange();
    void handleEventsForBackgroundURLSessionID(const QString& identifier, std::function<void()> completion);
    double suspendedUploadTimestamp() const;
    void suspendUploads();
    void resumeUploads();
    // Configuration fetch (APMConfigFetcher).
    void fetchRemoteConfig();
    // Bundling (APMBundler).
    bool bundleRawEvents();
    // Lifecycle reports and the personalized-ads property (APMLifecycleReporter).
    void reportFirstOpenOnWorkerQueue();
    void setPersonalizedAdsUserPropertyOnWorkerQueue();
    void updateAdPersonalizationConsentFromNPAValue(qint64 value);
    QString previousFirstOpenCount();
    void setPreviousFirstOpenCount(const QString& count);
    void logLifecycleEventOnWorkerQueue(
        const QString& name, const QVariantMap& parameters, double timestamp, const QVariantMap& screen = {});
    // Deep links and campaign URLs (APMDeepLinkHandler).
    static std::optional<QUrl> deepLinkFromUserActivity(const std::optional<APMUserActivity>& activity);
    void handleNonFirstOpenEventURL(const QUrl& url, double eventTimestampInSeconds);
    void handleOpenURLOnWorkerQueue(const QUrl& url, std::optional<qint64> clickTimestampInMs,
        double eventTimestampInSeconds, const QVariantMap& extraParameters);
    bool shouldAllowRequestDeferredDeepLink();
    void requestDeferredDeepLink();
    bool shouldRequestDeferredDeepLinkAfterConfigFetch() const;
    void setShouldRequestDeferredDeepLinkAfterConfigFetch(bool value);
    // Sessions and the application's state (APMSessionTracker).
    APMScreenViewReporter& screenViewReporter() const;
    std::shared_ptr<APMSessionReporter> sessionReporter() const;
    void setSessionTimeoutInterval(double seconds);
    void reportSessionStartOnWorkerQueueWithTimestamp(double timestamp, bool appInBackground);
    void processSessionFromEvent(const APMEvent& event);

    // ---- The jobs -----------------------------------------------------------------

    APMEngineLifecycle& lifecycle() const { return *lifecycle_; }
    APMEventPipeline& pipeline() const { return *pipeline_; }
    APMUploadScheduler& uploads() const { return *uploads_; }
    APMConfigFetcher& configFetcher() const { return *configFetcher_; }
    APMLifecycleReporter& lifecycleReporter() const { return *lifecycleReporter_; }
    APMDeepLinkHandler& deepLinks() const { return *deepLinks_; }
    APMSessionTracker& sessions() const { return *sessions_; }
    APMOnDeviceConversion& conversion() const { return *conversion_; }

    // ---- State ----------------------------------------------------------------------

    const QString& appID() const { return shared_.appID; }
    bool isEnabled() const { return shared_.enabled; }
    APMDatabase* database() const { return shared_.database.get(); }
    APMRemoteConfig* remoteConfigInstance() const { return shared_.remoteConfig.get(); }
    APMPersistedConfig& persistedConfig() const { return *shared_.persistedConfig; }
    APMIdentity* identity() const { return shared_.identity; }
    APMScheduler& scheduler() const { return *shared_.scheduler; }
    APMAlarm& alarm() const { return *shared_.alarm; }
    platform::Clock& clock() const { return *shared_.environment.clock; }
    const QStringList& safelistedEvents() const { return shared_.safelistedEvents; }

private:
    APMMeasurement(const QString& appID, bool isAnalyticsCollectionEnabled, bool isAnalyticsCollectionDeactivated,
        const QStringList& safelistedEvents, Environment environment);

    // What the jobs share; first, so that it goes last.
    APMEngineContext shared_;
    // The jobs; the life cycle's stop ends the worker queue before any goes.
    std::unique_ptr<APMEngineLifecycle> lifecycle_;
    std::unique_ptr<APMEventPipeline> pipeline_;
    std::unique_ptr<APMOnDeviceConversion> conversion_;
    std::unique_ptr<APMUploadScheduler> uploads_;
    std::unique_ptr<APMConfigFetcher> configFetcher_;
    std::unique_ptr<APMBundler> bundler_;
    std::unique_ptr<APMLifecycleReporter> lifecycleReporter_;
    std::unique_ptr<APMDeepLinkHandler> deepLinks_;
    std::unique_ptr<APMSessionTracker> sessions_;
};
