#pragma once

#include "analytics/base/APMError.h"
#include "analytics/base/APMLibrary.h"

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
class Executor;
class HttpClient;
struct HttpResponse;
} // namespace platform

class APMAlarm;
class APMAudienceEvaluator;
class APMConditionalPropertyProcessor;
class APMConditionalUserPropertyController;
class APMConfigStore;
class APMEManager;
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
class APMRawEventData;
class APMRemoteConfig;
class APMRemoteConfigDatabase;
class APMScheduler;
class APMSessionState;
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
// (bundling) and APMMeasurementUpload.cpp (upload schedule and batches).
class APMMeasurement {
public:
    static constexpr qint64 kAppMetricsLibraryVersion = APMLibrary::kAppMetricsLibraryVersion;
    static const QString kDatabaseName; // "vireo-app-metrics.sql"
    static const QString kWorkerQueueLabel; // "com.vireo.basa.worker"
    static const QString kAlarmName; // "Measurement timer"
    static const QString kCollectionURLVariable; // "PRAVIK_ANALYTICS_COLLECTION_URL"

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
        // Hears a copy of every event the engine handled and was asked to
        // announce (the front end's event listeners); null: nobody listens.
        std::function<void(const APMEvent&)> eventListeners;
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
    // The callback receives 25 for every non-empty origin, on a global queue.
    void maxUserPropertiesForOrigin(const QString& origin, std::function<void(qint64)> callback);
    // The application's "VIREO_ANALYTICS_REGISTRATION_WITH_AD_NETWORK_ENABLED"
    // when it is a number; true otherwise.
    bool shouldAllowAdNetworkRegistration() const;
    static bool shouldAllowAdNetworkRegistrationWithInfoDictionary(const QVariantMap& infoDictionary);
    bool hasUserPropertyUserIDOnWorkerQueue();
    // The "_sid" user property, or an error of code 13; answered on the
    // worker queue (on the caller's thread once the engine is gone).
    void sessionIDWithCompletion(SessionIDCompletion completion);
    // The number of first-open events stored so far as decimal text; a null
    // QString when unset. The setter stores the text's integer value; a null
    // or non-numeric text clears it.
    QString previousFirstOpenCount();
    void setPreviousFirstOpenCount(const QString& count);
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

    // ---- Event pipeline (worker queue) ----------------------------------------

    void handleEventOnWorkerQueue(const APMEvent& event);
    void writeEventOnWorkerQueue(const APMEvent& event);
    void writeFilteredEventOnWorkerQueue(const APMEvent& event);
    bool shouldProcessEvent(const APMEvent& event, APMDailyCounts& counts, bool isPublicEvent);
    bool isRealtimeEvent(APMEvent& event, APMDailyCounts& counts);
    bool writeEvent(const APMEvent& event, bool isPublicEvent, bool isRealtime);
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

    // Bundling pieces (APMMeasurementBundle.cpp).
    struct RawEventRun;
    RawEventRun rawEventsWithMetadataFingerprint(qint64 fingerprint);
    std::optional<QList<APMEvent>> processRawEvents(const QList<APMRawEventData>& rawEvents, qint64 fingerprint);
    bool checkConversion(APMEvent& event, APMDailyCounts& counts);
    bool checkRealtime(APMEvent& event, APMDailyCounts& counts);
    bool evaluationTimeFromRawEvents(const QList<APMRawEventData>& rawEvents, APMPBMeasurementBundle& bundle);
    bool updateUserEngagement(qint64 engagementMs, APMPBMeasurementBundle& bundle, bool sessionScoped);
    void handleAnalyticsStorageConsentTransitions(const APMPBMeasurementBundle& bundle);
    std::optional<QList<APMEvent>> eventsAfterUpdatingEventAggregates(
        const QList<APMEvent>& events, bool allowEventFilterEvaluation);
    bool updateAppMetadataForBundle(APMPBMeasurementBundle& bundle, double start, double end);
    void addBundleMetadataIntoBundle(APMPBMeasurementBundle& bundle, double start, double end);
    bool deleteConsumedRawEvents(qint64 maxRowID, qint64 fingerprint);
    bool dropUnreadableRawEvents(qint64 maxRowID, qint64 fingerprint, const QString& reason);

    // Upload pieces (APMMeasurementUpload.cpp).
    void stopSchedule();
    void incrementRetryCounter();
    void setUploadInProgressWithBundleIDs(const QList<qint64>& rowIDs);
    bool removeBundlesFromDatabaseWithIDs(const QList<qint64>& rowIDs);
    QUrl uploadURL() const;

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
    bool loggedMissingCollectionURL_ = false;
    bool shouldUpdateNPAUserProperty_ = false;
    bool wroteRealtimeEvent_ = false; // among the events of the current logging
    double suspendedUploadTimestamp_ = 0; // boot clock; 0 = not suspended
    double initTimestamp_ = 0;
    QString previousVMPAppID_;
    QList<qint64> uploadingBundleIDs_;
    qint64 timeZoneHour_ = -1;
    qint32 timeZoneOffsetMinutes_ = 0;

    // Last: the queue stops (finishing its work) before the state above goes,
    // and the alarm goes before the queue.
    std::unique_ptr<APMScheduler> scheduler_;
    std::unique_ptr<APMAlarm> alarm_;
    // Keeps network completions that arrive after destruction harmless.
    std::shared_ptr<APMMeasurement*> self_;
};
