#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

namespace platform {
class AttributionTokenSource;
class Clock;
class Executor;
class HttpClient;
class NotificationCenter;
class Reachability;
class SystemFacts;
struct StorePaymentTransaction;
} // namespace platform

class APMAudienceEvaluator;
class APMConditionalPropertyProcessor;
class APMConfigStore;
class APMEnvironmentInfo;
class APMEvent;
class APMEventEditor;
class APMEventSampler;
class APMFrontEndLink;
class APMIdentity;
class APMLifetimeValueRecorder;
class APMMonitor;
class APMPersistedConfig;
class APMPrivateSetMembershipClientClass;
class APMScreenViewReporter;
class APMSessionState;

// Everything the measurement engine takes from outside; each member has a
// working default (APMMeasurement::defaultEnvironment()), tests replace them.
struct APMMeasurementEnvironment {
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
        // The front end's stored state and operation queue; never null.
        std::shared_ptr<APMFrontEndLink> link;
    };
    std::optional<FrontEnd> frontEnd;
    // The TCF client's stores: where a consent-management platform
    // writes (null: the application's defaults) and the client's own
    // record of what it saw (null: its private suite).
    APMConfigStore* tcfUserDefaults = nullptr;
    std::function<std::unique_ptr<APMConfigStore>()> tcfPrivateStore;
};
