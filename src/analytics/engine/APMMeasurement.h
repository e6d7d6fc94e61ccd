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

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace platform {
class Clock;
class NotificationCenter;
struct HttpRequest;
struct StorePaymentTransaction;
struct HttpResponse;
struct Notification;
class SystemFacts;
} // namespace platform

class APMAlarm;
class APMBundler;
class APMConditionalUserPropertyController;
class APMConfigFetcher;
class APMConfigStore;
class APMDeepLinkHandler;
class APMEManager;
class APMEngineLifecycle;
class APMDatabase;
class APMEvent;
class APMIdentity;
class APMLifecycleReporter;
class APMMonitor;
class APMOnDeviceConversion;
class APMUploadScheduler;
class APMPersistedConfig;
class APMPrivateSetMembershipClient;
class APMPrivateSetMembershipClientClass;
class APMSearchAdReporter;
class APMRemoteConfig;
class APMRemoteConfigDatabase;
class APMScheduler;
class APMScreenViewReporter;
class APMSessionReporter;
class APMSessionTracker;
class APMTCFClient;
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
// This class is the engine's face: the doors callers use. The work is split
// by job. The jobs with state of their own are classes, each owning its
// state and documenting its doors: APMBundler (bundling), APMUploadScheduler
// (upload schedule, batches and the one network request at a time),
// APMConfigFetcher (configuration fetch), APMLifecycleReporter (first open,
// updates, stored campaign, personalized ads), APMSessionTracker (sessions
// and the application's state), APMDeepLinkHandler (campaign URLs and deep
// links) and APMOnDeviceConversion. What they share is APMEngineContext,
// which the engine owns and gives each job by reference; the engine's doors
// of those jobs hand the call over (APMMeasurementJobs.cpp). The engine
// itself keeps the start and life cycle with consent restore and the wipe
// (APMMeasurement.cpp), the logging entry and user properties
// (APMMeasurementLogging.cpp), the event pipeline (APMMeasurementEvent.cpp)
// and its services (APMMeasurementServices.cpp).
class APMMeasurement {
public:
    static constexpr qint64 kAppMetricsLibraryVersion = APMLibrary::kAppMetricsLibraryVersion;
    static const QString kDatabaseName; // "vireo-app-metrics.sql"
    static const QString kWorkerQueueLabel; // "com.vireo.basa.worker"
    static const QString kAlarmName; // "Measurement timer"
    static const QString kCollectionURLVariable; // "PRAVIK_ANALYTICS_COLLECTION_URL"
    static const QString kAdServicesURLVariable; // "PRAVIK_ANALYTICS_ADSERVICES_URL"

    using Environment = APMMeasurementEnvironment;
    // The process's own: system clock, shared HTTP client, collection address
    // from PRAVIK_ANALYTICS_COLLECTION_URL, shared persisted state and identity.
    static Environment defaultEnvironment();

    static APMMonitor& monitor();

    // ---- Shared instance ----------------------------------------------------

    // At most once per process: makes the shared engine when the app ID is not
    // empty. A later call (or one after an empty ID) changes nothing.
    static void initializeSharedInstanceWithAppID(const QString& appID, bool isAnalyticsCollectionEnabled,
        bool isAnalyticsCollectionDeactivated, const QStringList& safelistedEvents);
    // The same with the engine's environment given (the front end passes
    // the one it was set up with).
    static void initializeSharedInstanceWithAppID(const QString& appID, bool isAnalyticsCollectionEnabled,
        bool isAnalyticsCollectionDeactivated, const QStringList& safelistedEvents, Environment environment);
    // Tests only: destroys the shared engine (finishing its work) so that
    // the next initialisation makes a new one.
    static void resetSharedInstance();
    static bool hasSharedInstance();
    static APMMeasurement* sharedInstance();
    // The engine's remote configuration, or the default instance without one.
    static std::shared_ptr<APMRemoteConfig> remoteConfig();

    // ---- Life cycle -----------------------------------------------------------

    // Nothing for an empty app ID (level 1, code 23170). The engine posts its
    // own enabling (shouldEnableMeasurement()) to the worker queue.
    static std::unique_ptr<APMMeasurement> initWithAppID(const QString& appID, bool isAnalyticsCollectionEnabled,
        bool isAnalyticsCollectionDeactivated, const QStringList& safelistedEvents,
        Environment environment = defaultEnvironment());
    // Finishes the work already posted, then stops.
    ~APMMeasurement();

    APMMeasurement(const APMMeasurement&) = delete;
    APMMeasurement& operator=(const APMMeasurement&) = delete;

    // Enabling, consent and the TCF client (APMEngineLifecycle).
    void setEnabled(bool enabled);
    void updateConsentSettingsUtilWithRemoteConfig();
    void tcfClientSetConsentFromData();
    APMTCFClient* tcfClient() const;
    APMEngineLifecycle& lifecycle() const { return *lifecycle_; }

    // Runs the work on the worker queue and waits for it (tests, shutdown).
    void dispatchSyncOnWorkerQueue(const std::function<void()>& work);

    // ---- Logging entry, default parameters and user properties ----------------

    using Interceptor = APMEventPipeline::Interceptor;

    void logEventWithOrigin(const QString& origin, bool isPublicEvent, const QString& name,
        const QVariantMap& parameters, double timestamp, bool enabled, bool ignoreEnabled, bool ignoreInterceptor,
        Interceptor interceptor, const QVariantMap& addedScreenParameters);
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

    // ---- Doors of the front end --------------------------------------------------

    using SessionIDCompletion = std::function<void(qint64 sessionID, const std::optional<APMError>& error)>;

    // An event made elsewhere goes through the pipeline; nothing is refused
    // with level 4, code 23048.
    void logEvent(const std::optional<APMEvent>& event);
    // The callback receives 25 for every non-empty origin, on a global queue.
    void maxUserPropertiesForOrigin(const QString& origin, std::function<void(qint64)> callback);
    // The application's "VIREO_ANALYTICS_REGISTRATION_WITH_AD_NETWORK_ENABLED"
    // when it is a number; true otherwise.
    bool shouldAllowAdNetworkRegistration() const;
    static bool shouldAllowAdNetworkRegistrationWithInfoDictionary(const QVariantMap& infoDictionary);
    bool shouldUpdateNPAUserProperty() const;
    void setShouldUpdateNPAUserProperty(bool value);
    // The "_sid" user property, or an error of code 13; answered on the
    // worker queue (on the caller's thread once the engine is gone).
    void sessionIDWithCompletion(SessionIDCompletion completion);
    // Whether enabling was asked for when the engine was made.
    bool wasEnabledDuringInitialization() const;

    // ---- Configuration and services ----------------------------------------------

    // Applies a fetched configuration body in one transaction: it must parse
    // and name this app; its audience definitions go to the audience
    // evaluator, the rest to the remote configuration. False: nothing
    // applied (the failure is logged). Worker queue.
    bool applyMeasurementConfigData(const QByteArray& data);
    // Sets, clears and triggers conditional user properties; null until the
    // components are initialized.
    APMConditionalUserPropertyController* conditionalUserPropertyController() const;

    // ---- On-device conversion measurement (APMOnDeviceConversion) ----------------

    // Keys of the user data: "email_address" and "phone_number" (text),
    // "hashed_email_address" and "hashed_phone_number" (SHA-256 digests of
    // the normalised forms, as bytes). Plain values are normalised and hashed
    // before they go anywhere, and never logged.
    static const QString kUserDataEmailAddressKey;
    static const QString kUserDataPhoneNumberKey;
    static const QString kUserDataHashedEmailAddressKey;
    static const QString kUserDataHashedPhoneNumberKey;
    static const QString kPSMAlarmName; // "On-device conversion measurement timer"
    static const QString kDebugPSMArgument; // "-DebugOnDeviceConversionMeasurement"

    void setUserData(const QVariantMap& userData);
    void setUserDataOnWorkerQueue(const QVariantMap& userData);
    APMPrivateSetMembershipClientClass* PSMClientClass() const;
    void checkPSMDependencyOnWorkerQueue();
    void retrievePSMResponse();
    void maybeDeleteExpiredPSMValueOnWorkerQueue();
    void resetPSMCounts();
    bool resumePostponedPSMRequest();
    bool isPSMRequestInProgress() const;
    bool isPSMRequestPostponed() const;
    bool hasPSMClient() const;
    APMAlarm* PSMRetryAlarm() const;

    // ---- Event pipeline (APMEventPipeline, worker queue) ---------------------------

    void setUserAttributeOnWorkerQueue(const APMUserAttribute& attribute);
    bool setUserPropertyInDatabaseOnWorkerQueue(const APMUserAttribute& attribute);
    void handleInternalEventOnWorkerQueue(APMEvent event);
    void writeEventOnWorkerQueue(const APMEvent& event);
    APMEventPipeline& pipeline() const { return *pipeline_; }

    // ---- Bundling (APMBundler) ----------------------------------------------------

    bool bundleRawEvents();

    // ---- Upload (APMUploadScheduler) ----------------------------------------------

    void updateSchedule();
    bool hasDataToUpload();
    void uploadData();
    bool isNetworkReadyForRequest();
    void sendNetworkRequest(const platform::HttpRequest& request, const QString& blockID,
        std::function<void(const platform::HttpResponse&)> completion);
    void uploadDataOrRegisterAlarm();
    void reachabilityDidChange();
    bool isNetworkRequestPending() const;
    void setIsNetworkRequestPending(bool pending);
    void handleEventsForBackgroundURLSessionID(const QString& identifier, std::function<void()> completion);
    double suspendedUploadTimestamp() const;
    void suspendUploads();
    void resumeUploads();
    const QList<qint64>& uploadingBundleIDs() const;

    // ---- Configuration fetch (APMConfigFetcher) ------------------------------------

    void fetchRemoteConfig();
    void networkRemoteConfigFetchCompletionHandler(const platform::HttpResponse& response);

    // ---- Small services ------------------------------------------------------------

    // Posts the duplicate filter: the purchased transactions whose
    // fingerprint was not seen before (or cannot be checked), in order. The
    // callback runs on a global queue; never when the engine is gone. Any
    // thread.
    void filterPurchaseTransactions(const QList<platform::StorePaymentTransaction>& transactions,
        std::function<void(QList<platform::StorePaymentTransaction>)> callback);
    // When the first open was recorded (seconds since 1970); 0 when unknown.
    // Worker queue.
    double firstOpenTimestamp();
    // Wipes the measurement data and starts over under the given app
    // instance ID; false (nothing wiped) for an empty ID unless analytics
    // storage is denied, or when the wipe fails. Waits for the worker queue.
    bool resetAnalyticsDataWithAppInstanceID(const QString& appInstanceID);
    // The network library's log lines, as monitor lines.
    void VULNetwork_logWithLevel(qint64 level, qint64 code, const QString& message);
    void VULNetwork_logWithLevelMessageCodeMessageContext(
        qint64 level, qint64 code, const QString& message, const QVariant& context);
    void VULNetwork_logWithLevelMessageCodeMessageContexts(
        qint64 level, qint64 code, const QString& message, const QVariantList& contexts);

    // ---- Lifecycle reports and the personalized-ads property (APMLifecycleReporter) --

    void reportFirstOpenOnWorkerQueue();
    void backfillSessionNumber();
    void reportAppUpdateOnWorkerQueue();
    void reportOSUpdateOnWorkerQueue();
    void reportStoredCampaignEventOnWorkerQueue(std::optional<qint64> clickTimestampInMillis);
    void setPersonalizedAdsUserPropertyOnWorkerQueue();
    void updateAdPersonalizationConsentFromNPAValue(qint64 value);
    std::optional<qint64> shouldDisableAdPersonalization();
    static qint64 timestampMillisRoundedUpToNextHour(qint64 milliseconds);
    bool isVersionSameAsOriginalVersion();
    QString previousFirstOpenCount();
    void setPreviousFirstOpenCount(const QString& count);

    // ---- Deep links and campaign URLs (APMDeepLinkHandler) ---------------------------

    static std::optional<QUrl> deepLinkFromUserActivity(const std::optional<APMUserActivity>& activity);
    // Null stores and clocks: the application's defaults and the system clock.
    static void handleStoredURLAfterAppLaunchWithNotification(const QVariantMap& userInfo,
        APMConfigStore* deepLinkStore = nullptr, platform::Clock* clock = nullptr);
    static const QString kLaunchOptionsUserActivityDictionaryKey; // "UIApplicationLaunchOptionsUserActivityDictionaryKey"
    static const QString kLaunchOptionsUserActivityKey; // "UIApplicationLaunchOptionsUserActivityKey"
    static const QString kLaunchOptionsURLKey; // "UIApplicationLaunchOptionsURLKey"
    void handleNonFirstOpenEventURL(const QUrl& url, double eventTimestampInSeconds);
    void handleOpenURL(const QUrl& url, std::optional<qint64> clickTimestampInMs, double eventTimestampInSeconds);
    void handleOpenURLOnWorkerQueue(const QUrl& url, std::optional<qint64> clickTimestampInMs,
        double eventTimestampInSeconds, const QVariantMap& extraParameters);
    bool shouldAllowRequestDeferredDeepLink();
    void requestDeferredDeepLink();
    static bool sendDeepLinkURLToAppDelegateOnMainThread(const QUrl& url, const QVariantMap& extraInfo);
    bool shouldRequestDeferredDeepLinkAfterConfigFetch() const;
    void setShouldRequestDeferredDeepLinkAfterConfigFetch(bool value);

    // ---- Sessions and the application's state (APMSessionTracker) -------------------

    APMScreenViewReporter& screenViewReporter() const;
    std::shared_ptr<APMSessionReporter> sessionReporter() const;
    void setSessionTimeoutInterval(double seconds);
    void reportSessionStartOnWorkerQueueWithTimestamp(double timestamp, bool appInBackground);
    void processSessionFromEvent(const APMEvent& event);
    void handleAppWillResignActiveEvent();
    void handleAppDidBecomeActiveEvent();

    // ---- The application's launch and the engine's internal events -------------------

    // Installed once when the program starts: on the application's launch
    // the screen-view reporter comes to life and the address the
    // application was launched with is kept.
    static void subscribeForAppDidFinishLaunchingNotifications(platform::NotificationCenter& center);
    static void handleAppDidFinishLaunching(const platform::Notification& notification);
    // An internal event of the engine's reporters: where the environment's
    // `logInternalEventWithOrigin` sends it, else the engine's own entry.
    void logInternalEventWithOrigin(
        const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp);
    // The engine's own entry for a reporter's internal event, placed on the
    // current screen unless it names its own.
    void logOwnInternalEvent(
        const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp);
    // The engine's own entry on the shared engine; nothing without one.
    static void logInternalEventOnSharedInstance(
        const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp);
    // Where the reporters and lifecycle reports log by default: the front
    // end's internal-event entry once a front end has started (its queue
    // keeps their order with the application's events), else the shared
    // engine's own entry.
    static void logReportedInternalEvent(
        const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp);
    // An internal event of the engine's jobs, now: where the environment's
    // `logInternalEventWithOrigin` sends it, else the engine's own entry.
    void logInternalEventWithOrigin(const QString& origin, const QString& name, const QVariantMap& parameters);
    // An automatic lifecycle event of the engine's own, through the whole
    // pipeline (APMLifecycleReporter).
    void logLifecycleEventOnWorkerQueue(
        const QString& name, const QVariantMap& parameters, double timestamp, const QVariantMap& screen = {});

    // ---- State ----------------------------------------------------------------

    const QString& appID() const { return shared_.appID; }
    bool isEnabled() const { return shared_.enabled; }
    bool didInitializeComponents() const;
    APMDatabase* database() const { return shared_.database.get(); }
    APMRemoteConfig* remoteConfigInstance() const { return shared_.remoteConfig.get(); }
    APMPersistedConfig& persistedConfig() const { return *shared_.persistedConfig; }
    APMIdentity* identity() const { return shared_.identity; }
    APMScheduler& scheduler() const { return *shared_.scheduler; }
    APMAlarm& alarm() const { return *shared_.alarm; }
    platform::Clock& clock() const { return *shared_.environment.clock; }
    const QStringList& safelistedEvents() const { return shared_.safelistedEvents; }

    // ---- The jobs ---------------------------------------------------------------

    APMConfigFetcher& configFetcher() const { return *configFetcher_; }
    APMLifecycleReporter& lifecycleReporter() const { return *lifecycleReporter_; }
    APMSessionTracker& sessions() const { return *sessions_; }
    APMOnDeviceConversion& conversion() const { return *conversion_; }

private:
    APMMeasurement(const QString& appID, bool isAnalyticsCollectionEnabled, bool isAnalyticsCollectionDeactivated,
        const QStringList& safelistedEvents, Environment environment);

    // What the jobs share; first, so that it goes last.
    APMEngineContext shared_;

    // The jobs.
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

