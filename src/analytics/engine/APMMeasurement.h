#pragma once

#include "analytics/base/APMError.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMUserActivity.h"

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
class AttributionTokenSource;
class Clock;
class Executor;
class HttpClient;
class NotificationCenter;
struct HttpRequest;
struct StorePaymentTransaction;
struct HttpResponse;
struct Notification;
class Reachability;
class SystemFacts;
} // namespace platform

class APMAlarm;
class APMAudienceEvaluator;
class APMConditionalPropertyProcessor;
class APMConditionalUserPropertyController;
class APMConfigStore;
class APMEManager;
class APMEnvironmentInfo;
class APMDailyCounts;
class APMDatabase;
class APMEvent;
class APMEventEditor;
class APMEventSampler;
class APMIdentity;
class APMLifetimeValueRecorder;
class APMMonitor;
class APMPBMeasurementBundle;
class APMPersistedConfig;
class APMPrivateSetMembershipClient;
class APMPrivateSetMembershipClientClass;
class APMSearchAdReporter;
class APMRawEventData;
class APMRemoteConfig;
class APMRemoteConfigDatabase;
class APMScheduler;
class APMScreenViewReporter;
class APMSessionReporter;
class APMSessionState;
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
// The code is split by duty: APMMeasurement.cpp (life cycle),
// APMMeasurementLogging.cpp (logging entry and user properties),
// APMMeasurementEvent.cpp (event pipeline), APMMeasurementBundle.cpp
// (bundling), APMMeasurementUpload.cpp (upload schedule and batches) and
// APMMeasurementFetch.cpp (configuration fetch and small services).
class APMMeasurement {
public:
    static constexpr qint64 kAppMetricsLibraryVersion = APMLibrary::kAppMetricsLibraryVersion;
    static const QString kDatabaseName; // "vireo-app-metrics.sql"
    static const QString kWorkerQueueLabel; // "com.vireo.basa.worker"
    static const QString kAlarmName; // "Measurement timer"
    static const QString kCollectionURLVariable; // "PRAVIK_ANALYTICS_COLLECTION_URL"
    static const QString kAdServicesURLVariable; // "PRAVIK_ANALYTICS_ADSERVICES_URL"

    // Everything the engine takes from outside; each member has a working
    // default (defaultEnvironment()), tests replace them.
    struct Environment {
        platform::Clock* clock = nullptr; // wall time, and the boot clock as its monotonic time
        // Measures the upload alarm's delay; null: the worker queue itself.
        platform::Executor* timer = nullptr;
        platform::HttpClient* http = nullptr;
        // Scheme, host and port of the collection service; batches go to its
        // path "/a". Empty: not configured, nothing is uploaded (the data
        // waits) and this is logged once.
        QUrl collectionURL;
        // The database file; empty: "vireo-app-metrics.sql" in the library's folder.
        QString databasePath;
        APMPersistedConfig* persistedConfig = nullptr;
        APMIdentity* identity = nullptr;
        // The measurement-enabled switch's debug mode comes from the monitor.
        APMMonitor* monitor = nullptr;
        // The services of later layers, each replaceable on its own. Null:
        // the engine's own (event editing by the configuration's programs;
        // audiences and conditional user properties over its database).
        std::shared_ptr<APMEventEditor> eventEditor;
        std::shared_ptr<APMConditionalPropertyProcessor> conditionalProperties;
        std::shared_ptr<APMAudienceEvaluator> audience;
        std::shared_ptr<APMSessionState> session;
        std::shared_ptr<APMEventSampler> sampler;
        std::shared_ptr<APMLifetimeValueRecorder> lifetimeValue;
        // "https://host" of the experiment service; empty: not configured,
        // nothing is fetched.
        QUrl experimentsURL;
        // The experiment fetch times; null: the suite "APMExperimentSuiteName".
        APMConfigStore* experimentStore = nullptr;
        // The optional on-device conversion component; null: none (every
        // attempt is refused with a message).
        std::shared_ptr<APMPrivateSetMembershipClientClass> PSMClientClass;
        // The system's attribution tokens; null: the system's own.
        platform::AttributionTokenSource* attributionTokenSource = nullptr;
        // "https://host" of the search-ad attribution service; empty: not
        // configured, nothing is asked.
        QUrl searchAdsURL;
        // Scheme, host and port the configuration is fetched from (path
        // "/config/app/<app ID>"); empty: the collection address.
        QUrl configURL;
        // Whether the machine is online; null: always connected.
        platform::Reachability* reachability = nullptr;
        // The duplicate filter's fingerprint of a purchased transaction; null:
        // the purchase reporter's. Empty answers: not checked for duplicates.
        std::function<QString(const platform::StorePaymentTransaction&)> transactionFingerprint;
        // The front end's load time (seconds since 1970), which a data reset
        // makes the new first-open time; null: the engine's own start time.
        std::function<double()> loadTimestamp;

        // Lifecycle reports and deep links (APMMeasurementLifecycle.cpp,
        // APMMeasurementURL.cpp).
        // The operating system's version; null: the system's own facts.
        platform::SystemFacts* systemFacts = nullptr;
        // Where a pending deep link waits; null: the application's defaults.
        APMConfigStore* deepLinkStore = nullptr;
        // Scheme, host and port of the ad-services host the deferred deep
        // link comes from (PRAVIK_ANALYTICS_ADSERVICES_URL); empty: not
        // configured, never asked.
        QUrl adServicesURL;
        // The application's information dictionary; none: the main bundle's.
        std::optional<QVariantMap> infoDictionary;
        // The process's arguments; none: the application's own.
        std::optional<QStringList> processArguments;
        // The version first installed; null: the store receipt's (read
        // once per engine), nothing: unknown.
        std::function<std::optional<QString>()> originalApplicationVersion;
        // Where the automatic reports log their internal events; null: the
        // engine's own logging entry (not public, ignoring the interceptor).
        std::function<void(const QString& origin, const QString& name, const QVariantMap& parameters,
            double timestamp)>
            logInternalEventWithOrigin;
        // False: the start leaves out the automatic lifecycle reports (first
        // open, updates, stored campaign, deferred deep link, personalized
        // ads), for callers that drive them one by one.
        bool reportsLifecycleAtStart = true;
        // The device facts of every bundle; null: the engine's own over
        // `systemFacts`.
        APMEnvironmentInfo* environmentInfo = nullptr;
        // Sessions: where the engagement timer runs (null: the main queue),
        // where the application's state is posted (null: the default
        // centre), and which screen-view reporter knows whether the
        // application is active and on which screen (null: the shared one).
        // Without an injected `session` the engine makes its session reporter.
        platform::Executor* mainQueue = nullptr;
        platform::NotificationCenter* notificationCenter = nullptr;
        std::shared_ptr<APMScreenViewReporter> screenViewReporter;
        // Hears a copy of every event the engine handled and was asked to
        // announce (the front end's event listeners); null: nobody listens.
        std::function<void(const APMEvent&)> eventListeners;
        // What the front end that makes the engine tells it. With one, the
        // start reads the front end's stored state (consent from earlier
        // runs and from the start options, the reset bookkeeping, the
        // deferred-collection mark); without one the engine runs alone and
        // none of it applies.
        struct FrontEnd {
            // "fa" or "am": which persisted app ID takes the engine's.
            QString origin;
            // The public interface is linked: first-party consent of an
            // earlier run is not carried into this one.
            bool hasPublicInterface = false;
        };
        std::optional<FrontEnd> frontEnd;
        // The TCF client's stores: where a consent-management platform
        // writes (null: the application's defaults) and the client's own
        // record of what it saw (null: its private suite).
        APMConfigStore* tcfUserDefaults = nullptr;
        std::function<std::unique_ptr<APMConfigStore>()> tcfPrivateStore;
    };
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

    bool shouldEnableMeasurement();
    void setEnabled(bool enabled);
    void setEnabledOnWorkerQueue(bool enabled);
    bool startMeasurementOnWorkerQueue();
    bool wipeoutAnalyticsDataAndResetComponents();
    bool shouldWipeDataWithAppID(const QString& appID, const QString& appIDFromVMP, const QString& appIDFromAdNest,
        const QString& persistedAppIDFromVMP, const QString& persistedAppIDFromAdNest) const;
    void updatePersistedAppIDFromVMPAndAdNest();
    void updateConsentSettingsUtilWithRemoteConfig();
    // Restores the consent that applies from start: the stored TCF,
    // third-party and start-up settings and the information dictionary's,
    // by source priority.
    void setProspectiveConsentSettings();
    // The TCF client reads the platform's keys and applies what changed;
    // nothing without a client (the feature is off).
    void tcfClientSetConsentFromData();
    APMTCFClient* tcfClient() const { return tcfClient_.get(); }

    // Runs the work on the worker queue and waits for it (tests, shutdown).
    void dispatchSyncOnWorkerQueue(const std::function<void()>& work);

    // ---- Logging entry, default parameters and user properties ----------------

    using Interceptor = std::function<void(
        const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp)>;

    void logEventWithOrigin(const QString& origin, bool isPublicEvent, const QString& name,
        const QVariantMap& parameters, double timestamp, bool enabled, bool ignoreEnabled, bool ignoreInterceptor,
        Interceptor interceptor, const QVariantMap& addedScreenParameters);
    void logEventOnWorkerQueueWithOrigin(const QString& origin, bool isPublicEvent, const QString& name,
        const QVariantMap& parameters, double timestamp, bool enabled, bool ignoreEnabled, bool ignoreInterceptor,
        const Interceptor& interceptor, const QVariantMap& addedScreenParameters);
    // An internal event of the engine itself (origin "auto", now).
    void logInternalEvent(const QString& name, const QVariantMap& parameters);
    void setDefaultEventParameters(const std::optional<QVariantMap>& parameters);
    void handleSetDefaultEventParametersOnWorkerQueue(const std::optional<QVariantMap>& parameters);
    QVariantMap parametersWithAddedDefaultEventParameters(const QVariantMap& parameters);
    void setUserAttribute(const std::optional<APMUserAttribute>& attribute);
    void setUserAttributeOnWorkerQueue(const APMUserAttribute& attribute);
    bool setUserPropertyInDatabaseOnWorkerQueue(const APMUserAttribute& attribute);
    void removeUserAttribute(const QString& name);
    void removeUserAttributeOnWorkerQueue(const QString& name);
    // Any thread: one worker-queue block asks shouldDisableAdPersonalization()
    // and sets "_npa" (origin "auto", at the timestamp) to its answer or
    // removes it, so that no consent change can come between the two.
    void setPersonalizedAdsUserPropertyWithTimestamp(double timestamp);
    // The callbacks run on the worker queue's caller side: a global queue.
    void userAttributeWithName(const QString& name, std::function<void(std::optional<APMUserAttribute>)> callback);
    void userPropertiesIncludingInternal(bool includeInternal, std::function<void(QVariantMap)> callback);

    // ---- Doors of the front end (APMMeasurementLogging.cpp) --------------------

    static constexpr qint64 kMaxUserPropertiesPerOrigin = 25;
    using SessionIDCompletion = std::function<void(qint64 sessionID, const std::optional<APMError>& error)>;

    // An event made elsewhere goes through the pipeline; nothing is refused
    // with level 4, code 23048.
    void logEvent(const std::optional<APMEvent>& event);
    // Handles the event; with notifyEventListeners its copy then goes to the
    // environment's event listeners.
    void logEventOnWorkerQueue(const APMEvent& event, bool notifyEventListeners);
    // An internal event of the engine's own components: the default event
    // parameters are added (not to "_err"), the whole pipeline runs, then
    // the event listeners hear of it.
    void handleInternalEventOnWorkerQueue(APMEvent event);
    // The callback receives 25 for every non-empty origin, on a global queue.
    void maxUserPropertiesForOrigin(const QString& origin, std::function<void(qint64)> callback);
    // The application's "VIREO_ANALYTICS_REGISTRATION_WITH_AD_NETWORK_ENABLED"
    // when it is a number; true otherwise.
    bool shouldAllowAdNetworkRegistration() const;
    static bool shouldAllowAdNetworkRegistrationWithInfoDictionary(const QVariantMap& infoDictionary);
    bool hasUserPropertyUserIDOnWorkerQueue();
    // Set when a new configuration changed the ad-personalization consent;
    // the next bundling step brings "_npa" in line and clears it.
    bool shouldUpdateNPAUserProperty() const { return shouldUpdateNPAUserProperty_; }
    void setShouldUpdateNPAUserProperty(bool value) { shouldUpdateNPAUserProperty_ = value; }
    // The "_sid" user property, or an error of code 13; answered on the
    // worker queue (on the caller's thread once the engine is gone).
    void sessionIDWithCompletion(SessionIDCompletion completion);
    // Whether enabling was asked for when the engine was made.
    bool wasEnabledDuringInitialization() const { return wasEnabledDuringInitialization_; }

    // ---- Configuration and services (APMMeasurementServices.cpp) --------------

    // Applies a fetched configuration body in one transaction: it must parse
    // and name this app; its audience definitions go to the audience
    // evaluator, the rest to the remote configuration. False: nothing
    // applied (the failure is logged). Worker queue.
    bool applyMeasurementConfigData(const QByteArray& data);
    // Sets, clears and triggers conditional user properties; null until the
    // components are initialized.
    APMConditionalUserPropertyController* conditionalUserPropertyController() const
    {
        return conditionalUserPropertyController_.get();
    }

    // The experimentation client the remote configuration reads its flags
    // from; null until the components are initialized.
    APMEManager* experimentManager() const { return experimentManager_.get(); }

    // ---- On-device conversion measurement (APMMeasurementConversion.cpp) ------

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
    // The component, or null when there is none.
    APMPrivateSetMembershipClientClass* PSMClientClass() const;
    void checkPSMDependencyOnWorkerQueue();
    bool shouldRetrievePSMResponse();
    bool shouldRetrievePSMResponseWithEmailAddress(const QString& address);
    bool shouldRetrievePSMResponseWithPhoneNumber(const QString& number);
    bool shouldRetrievePSMResponseWithHashedIdentifier(const QByteArray& identifier);
    std::unique_ptr<APMPrivateSetMembershipClient> PSMClientWithEmailAddress(const QString& address);
    std::unique_ptr<APMPrivateSetMembershipClient> PSMClientWithPhoneNumber(const QString& number);
    std::unique_ptr<APMPrivateSetMembershipClient> PSMClientWithHashedEmailAddress(const QByteArray& digest);
    std::unique_ptr<APMPrivateSetMembershipClient> PSMClientWithHashedPhoneNumber(const QByteArray& digest);
    void retrievePSMResponse();
    void PSMResponseCompletionOnWorkerQueue(const platform::HttpResponse& response);
    void maybeSchedulePSMRetry();
    void handlePSMValueOnWorkerQueue(const QString& value);
    void incrementPSMCountOnWorkerQueueWithName(const QString& name);
    void maybeDeleteExpiredPSMValueOnWorkerQueue();
    void resetPSMCounts();

    bool isPSMRequestInProgress() const { return isPSMRequestInProgress_; }
    bool isPSMRequestPostponed() const { return isPSMRequestPostponed_; }
    qint32 PSMStartCount() const { return PSMStartCount_; }
    qint32 PSMRetryCount() const { return PSMRetryCount_; }
    bool hasPSMClient() const { return privateSetMembershipClient_ != nullptr; }
    // Null until the first retry was scheduled.
    APMAlarm* PSMRetryAlarm() const { return PSMRetryAlarm_.get(); }

    // ---- Search-ad attribution ------------------------------------------------

    // Null before start, or when there is nothing left to ask.
    APMSearchAdReporter* searchAdReporter() const { return searchAdReporter_.get(); }

    // ---- Event pipeline (worker queue) ----------------------------------------

    void handleEventOnWorkerQueue(const APMEvent& event);
    void writeEventOnWorkerQueue(const APMEvent& event);
    void writeFilteredEventOnWorkerQueue(const APMEvent& event);
    bool shouldProcessEvent(const APMEvent& event, APMDailyCounts& counts, bool isPublicEvent);
    bool isRealtimeEvent(APMEvent& event, APMDailyCounts& counts);
    bool writeEvent(const APMEvent& event, bool isPublicEvent, bool isRealtime, bool setLastAdvertisingIDReset);
    std::unique_ptr<APMPBMeasurementBundle> createRawEventMetadataWithUserAttributes(
        const QList<APMUserAttribute>& attributes);

    // ---- Bundling (worker queue) ----------------------------------------------

    // One bundle from the oldest run of raw events, in one transaction; true
    // when a bundle was stored or raw events were consumed (call again).
    bool bundleRawEvents();

    // ---- Upload (worker queue) ------------------------------------------------

    void updateSchedule();
    double nextUploadingTime();
    bool hasDataToUpload();
    void uploadData();
    bool isNetworkConnected() const;
    bool isNetworkReadyForRequest();
    void networkUploadCompletionHandlerWithResponse(const platform::HttpResponse& response);
    // uploadData() when online with data to send, else updateSchedule().
    void uploadDataOrRegisterAlarm();
    // The network came or went while an upload waited for it: posts
    // updateSchedule() (any thread).
    void reachabilityDidChange();

    // ---- Configuration fetch and engine services (APMMeasurementFetch.cpp) ----

    // A conditional GET of this app's configuration; the reply is handled on
    // the worker queue. Worker queue.
    void fetchRemoteConfig();
    void networkRemoteConfigFetchCompletionHandler(const platform::HttpResponse& response);
    // Posts the duplicate filter: the purchased transactions whose
    // fingerprint was not seen before (or cannot be checked), in order. The
    // callback runs on a global queue; never when the engine is gone. Any
    // thread.
    void filterPurchaseTransactions(const QList<platform::StorePaymentTransaction>& transactions,
        std::function<void(QList<platform::StorePaymentTransaction>)> callback);
    // When the first open was recorded (seconds since 1970); 0 when unknown.
    // Worker queue.
    double firstOpenTimestamp();
    static bool isBasaltRemoteConfigSDKPresent();
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

    // ---- Lifecycle reports and the personalized-ads property -------------------
    // (APMMeasurementLifecycle.cpp; worker queue unless noted)

    void reportFirstOpenOnWorkerQueue();
    // A store without a session number takes the count of sessions seen.
    void backfillSessionNumber();
    void reportAppUpdateOnWorkerQueue();
    void reportOSUpdateOnWorkerQueue();
    void reportStoredCampaignEventOnWorkerQueue(std::optional<qint64> clickTimestampInMillis);
    void setPersonalizedAdsUserPropertyOnWorkerQueue();
    void updateAdPersonalizationConsentFromNPAValue(qint64 value);
    // 1 (disable), 0 (allow) or nothing, from the first source that has a value.
    std::optional<qint64> shouldDisableAdPersonalization();
    // Any thread: the next whole hour after the time (an hour start moves on).
    static qint64 timestampMillisRoundedUpToNextHour(qint64 milliseconds);
    // Any thread: whether the running version is the one first installed.
    bool isVersionSameAsOriginalVersion();
    // The number of first-open events stored so far as decimal text; a null
    // QString when unset. The setter stores the text's integer value; a null
    // text clears it.
    QString previousFirstOpenCount();
    void setPreviousFirstOpenCount(const QString& count);

    // ---- Deep links and campaign URLs (APMMeasurementURL.cpp) -----------------

    // The page address of a browsing activity; nothing for any other.
    static std::optional<QUrl> deepLinkFromUserActivity(const std::optional<APMUserActivity>& activity);
    // The application finished launching (any thread): keeps the address it
    // was launched with (from a continued activity, else the launch URL) in
    // the deep-link store, for the engine's next start to report.
    static void handleStoredURLAfterAppLaunchWithNotification(const QVariantMap& userInfo,
        APMConfigStore* deepLinkStore = nullptr, platform::Clock* clock = nullptr);
    static const QString kLaunchOptionsUserActivityDictionaryKey; // "UIApplicationLaunchOptionsUserActivityDictionaryKey"
    static const QString kLaunchOptionsUserActivityKey; // "UIApplicationLaunchOptionsUserActivityKey"
    static const QString kLaunchOptionsURLKey; // "UIApplicationLaunchOptionsURLKey"

    // An address the application was opened with, reported as a campaign.
    // Never from the worker queue.
    void handleNonFirstOpenEventURL(const QUrl& url, double eventTimestampInSeconds);
    void handleOpenURL(const QUrl& url, std::optional<qint64> clickTimestampInMs, double eventTimestampInSeconds);
    void handleDeepLink(const QUrl& url, std::optional<qint64> clickTimestampInMs, double eventTimestampInSeconds);
    void handleOpenURLOnWorkerQueue(const QUrl& url, std::optional<qint64> clickTimestampInMs,
        double eventTimestampInSeconds, const QVariantMap& extraParameters);
    bool shouldAllowClickID();
    bool shouldAllowRequestDeferredDeepLink();
    void requestDeferredDeepLink();
    void handleDeferredDeepLinkInfo(const QVariantMap& info);
    // Handing a deep link to the application has no receiver here: false.
    static bool sendDeepLinkURLToAppDelegateOnMainThread(const QUrl& url, const QVariantMap& extraInfo);
    // Set at start when the deferred deep link must wait for a fresh
    // configuration (an expired one with DMA consent on); the configuration
    // fetch asks for the link once it has adopted the new one.
    bool shouldRequestDeferredDeepLinkAfterConfigFetch() const { return shouldRequestDeferredDeepLinkAfterConfigFetch_; }
    void setShouldRequestDeferredDeepLinkAfterConfigFetch(bool value) { shouldRequestDeferredDeepLinkAfterConfigFetch_ = value; }

    // ---- Sessions and the application's state (APMMeasurementSession.cpp) -----

    // Installed once when the program starts: on the application's launch
    // the screen-view reporter comes to life and the address the
    // application was launched with is kept.
    static void subscribeForAppDidFinishLaunchingNotifications(platform::NotificationCenter& center);
    static void handleAppDidFinishLaunching(const platform::Notification& notification);
    // Null until the components are initialized or when a session state was injected.
    std::shared_ptr<APMSessionReporter> sessionReporter() const;
    void setSessionTimeoutInterval(double seconds);
    // A new session when the current one has expired (worker queue).
    void reportSessionStartOnWorkerQueueWithTimestamp(double timestamp, bool appInBackground);
    // Sessions of events logged while the application is not active.
    void processSessionFromEvent(const APMEvent& event);
    void handleAppWillResignActiveEvent();
    // Any thread: refreshes a week-old configuration when internal events
    // are blocklisted.
    void handleAppDidBecomeActiveEvent();
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

    // ---- State ----------------------------------------------------------------

    const QString& appID() const { return appID_; }
    bool isEnabled() const { return enabled_; }
    bool didInitializeComponents() const { return didInitializeComponents_.load(); }
    APMDatabase* database() const { return database_.get(); }
    APMRemoteConfig* remoteConfigInstance() const { return remoteConfig_.get(); }
    APMPersistedConfig& persistedConfig() const { return *persistedConfig_; }
    APMIdentity* identity() const { return identity_; }
    APMScheduler& scheduler() const { return *scheduler_; }
    APMAlarm& alarm() const { return *alarm_; }
    platform::Clock& clock() const { return *environment_.clock; }
    const QStringList& safelistedEvents() const { return safelistedEvents_; }
    bool isNetworkRequestPending() const { return isNetworkRequestPending_; }
    void setIsNetworkRequestPending(bool pending) { isNetworkRequestPending_ = pending; }
    // Flushes the persisted state; called where the engine stops working for now.
    void terminateBackgroundTask();
    // The application is told when the library's network work is done: the
    // completion runs on the main queue once the request in flight (if any)
    // has been handled, whatever the session identifier.
    void handleEventsForBackgroundURLSessionID(const QString& identifier, std::function<void()> completion);
    double suspendedUploadTimestamp() const { return suspendedUploadTimestamp_; }
    const QList<qint64>& uploadingBundleIDs() const { return uploadingBundleIDs_; }

private:
    APMMeasurement(const QString& appID, bool isAnalyticsCollectionEnabled, bool isAnalyticsCollectionDeactivated,
        const QStringList& safelistedEvents, Environment environment);

    void log(qint64 level, qint64 code, const QString& message) const;
    void log(qint64 level, qint64 code, const QString& message, const QVariant& context) const;
    void log(qint64 level, qint64 code, const QString& message, const QVariant& context1,
        const QVariant& context2) const;
    bool isDebugMode() const;
    double now() const;
    double bootClock() const;
    bool initializeComponents();
    // The search-ad reporter, the TCF client and the application-state
    // observers, made once the start's reports have run.
    void initializeReportersOnWorkerQueue();
    void finishBackgroundSessionEvents();
    std::shared_ptr<APMRemoteConfig> makeRemoteConfig();
    void initializeServices();
    std::shared_ptr<APMEManager> makeExperimentManager();

    // Pipeline pieces (APMMeasurementEvent.cpp).
    std::optional<APMEvent> eventAfterSafelistingEvent(const APMEvent& event);
    bool dedupeSubscriptionEvent(const APMEvent& event);
    bool shouldDropDuplicatedSessionStartWithRolloutEvent(const APMEvent& event);
    void writeSessionStartEventOnWorkerQueue(const APMEvent& event);
    void writeEditedEventsOnWorkerQueue(const APMEvent& event);
    bool isScheduleUnmovedByNewData();
    void setLastAdvertisingIDResetUserPropertyOnWorkerQueue();
    void logFirstOpenConsentedEvent(double timestamp);
    std::function<void(const QString&, const QString&, const QVariantMap&)> internalEventLogger();

    // Lifecycle and deep-link pieces (APMMeasurementLifecycle.cpp, APMMeasurementURL.cpp).
    void logLifecycleEventOnWorkerQueue(
        const QString& name, const QVariantMap& parameters, double timestamp, const QVariantMap& screen = {});
    void logInternalEventWithOrigin(const QString& origin, const QString& name, const QVariantMap& parameters);
    void reportLifecycleOnStartOnWorkerQueue();
    // The deferred-collection mark: set once (1 when collection is off),
    // cleared when first open has reported it or did not need it.
    void markDeferredAnalyticsCollection(bool enabled);
    void clearDeferredAnalyticsCollection();
    APMConfigStore& deepLinkStore() const;
    platform::SystemFacts& systemFacts() const;
    void deferredDeepLinkCompletionOnWorkerQueue(const platform::HttpResponse& response);

    // Bundling pieces (APMMeasurementBundle.cpp).
    struct RawEventRun;
    RawEventRun rawEventsWithMetadataFingerprint(qint64 fingerprint);
    std::optional<QList<APMEvent>> processRawEvents(const QList<APMRawEventData>& rawEvents, qint64 fingerprint);
    bool checkConversion(APMEvent& event, APMDailyCounts& counts);
    bool checkRealtime(APMEvent& event, APMDailyCounts& counts);
    // When the raw events hold a session start, resets the session's state
    // (session-scoped audience results, which the user properties then fill
    // afresh, the session event counts, the session engagement property);
    // then adds the events' engagement time to the engagement totals. A step
    // that fails is logged and ends this call only.
    void resetSessionStateAndAddEngagementTime(
        const QList<APMRawEventData>& rawEvents, APMPBMeasurementBundle& bundle);
    bool updateUserEngagement(qint64 engagementMs, APMPBMeasurementBundle& bundle, bool sessionScoped);
    void handleAnalyticsStorageConsentTransitions(const APMPBMeasurementBundle& bundle);
    std::optional<QList<APMEvent>> eventsAfterUpdatingEventAggregates(
        const QList<APMEvent>& events, bool allowEventFilterEvaluation);
    bool updateAppMetadataForBundle(APMPBMeasurementBundle& bundle, double start, double end);
    void addBundleMetadataIntoBundle(APMPBMeasurementBundle& bundle, double start, double end);
    bool dropUnreadableRawEvents(qint64 maxRowID, qint64 fingerprint, const QString& reason);

    // Session pieces (APMMeasurementSession.cpp).
    APMScreenViewReporter& screenViewReporter() const;
    std::shared_ptr<APMSessionReporter> makeSessionReporter();
    void subscribeForAppForegroundBackgroundNotifications();

    // Upload pieces (APMMeasurementUpload.cpp).
    void stopSchedule();
    void setReachabilityDelegate(bool waiting);
    void incrementRetryCounter();
    void setUploadInProgressWithBundleIDs(const QList<qint64>& rowIDs);
    bool removeBundlesFromDatabaseWithIDs(const QList<qint64>& rowIDs);
    QUrl uploadURL() const;
    // Sends the request with the network marked busy; the reply clears the
    // mark and goes to the completion on the worker queue.
    void sendNetworkRequest(const platform::HttpRequest& request, const QString& blockID,
        void (APMMeasurement::*completion)(const platform::HttpResponse&));
    QUrl configAddress() const;
    // Fetch pieces (APMMeasurementFetch.cpp).
    void recordConfigFetchTime(qint64 failureCode, const QString& failureMessage);

    Environment environment_;
    const QString appID_;
    const QStringList safelistedEvents_;
    const bool isAnalyticsCollectionEnabled_;
    const bool isAnalyticsCollectionDeactivated_;
    APMPersistedConfig* persistedConfig_;
    APMIdentity* identity_ = nullptr;

    std::mutex initializeComponentsLock_;
    std::atomic<bool> didInitializeComponents_ { false };
    std::unique_ptr<APMDatabase> database_;
    std::shared_ptr<APMRemoteConfigDatabase> remoteConfigDatabase_;
    std::shared_ptr<APMRemoteConfig> remoteConfig_;
    std::shared_ptr<APMConditionalUserPropertyController> conditionalUserPropertyController_;
    std::unique_ptr<APMConfigStore> experimentStore_;
    std::shared_ptr<APMEManager> experimentManager_;

    // Worker-queue state.
    std::atomic<bool> enabled_ { false };
    bool wasEnabledDuringInitialization_ = false;
    bool isNetworkRequestPending_ = false;
    // From sending a request until its reply came back (main thread).
    std::atomic<bool> networkRequestInFlight_ { false };
    // Completions waiting for the request in flight (worker queue only).
    QList<std::function<void()>> backgroundSessionCompletions_;
    bool loggedMissingCollectionURL_ = false;
    bool shouldUpdateNPAUserProperty_ = false;
    bool wroteRealtimeEvent_ = false; // among the events of the current logging
    double suspendedUploadTimestamp_ = 0; // boot clock; 0 = not suspended
    double initTimestamp_ = 0;
    QString previousVMPAppID_;
    QList<qint64> uploadingBundleIDs_;
    qint64 timeZoneHour_ = -1;
    bool foundAdPersonalizationPlistFlag_ = false;
    std::once_flag originalVersionOnce_;
    bool isVersionSameAsOriginalVersion_ = false;
    bool shouldRequestDeferredDeepLinkAfterConfigFetch_ = false;
    qint32 timeZoneOffsetMinutes_ = 0;
    std::unique_ptr<APMEnvironmentInfo> ownEnvironmentInfo_;
    QString osVersion_;
    QString userDefaultLanguage_;

    // On-device conversion measurement and search-ad attribution (worker
    // queue); their alarms go in the destructor's last task on the queue.
    std::unique_ptr<APMPrivateSetMembershipClient> privateSetMembershipClient_;
    bool isPSMRequestInProgress_ = false;
    bool isPSMRequestPostponed_ = false;
    qint32 PSMStartCount_ = 0;
    qint32 PSMRetryCount_ = 0;
    std::unique_ptr<APMAlarm> PSMRetryAlarm_;
    std::unique_ptr<APMSearchAdReporter> searchAdReporter_;
    void makeSearchAdReporter();
    std::unique_ptr<APMTCFClient> tcfClient_;
    void makeTCFClient();
    // The persisted first-open time, or the engine's start before one is known.
    double PSMFirstOpenTimestamp();

    // Replaced by a wipe on the worker queue, read from the main thread too.
    mutable std::mutex sessionReporterMutex_;
    std::shared_ptr<APMSessionReporter> sessionReporter_;
    std::shared_ptr<struct APMMeasurementObservers> observers_;

    // Last: the queue stops (finishing its work) before the state above goes,
    // and the alarm goes before the queue.
    std::unique_ptr<APMScheduler> scheduler_;
    std::unique_ptr<APMAlarm> alarm_;
    // Keeps network completions that arrive after destruction harmless.
    std::shared_ptr<APMMeasurement*> self_;
};
