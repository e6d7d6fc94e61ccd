#pragma once

#include "analytics/engine/APMMeasurement.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <QByteArray>
#include <QList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace platform {
class AppStore;
class Clock;
class Executor;
class NotificationCenter;
class SerialQueue;
struct Notification;
struct StorePaymentTransaction;
} // namespace platform

struct APMUserActivity;
class APMInAppPurchaseTransactionReporter;
class APMScreenViewReporter;

class APMConfigStore;
class APMEvent;
class APMIdentifiers;
class APMIdentity;
class APMMonitor;
class APMPersistedConfig;

// The front end between the public interface and the measurement engine. It
// starts the engine once, keeps its own preferences (reset bookkeeping and
// consent), validates what callers hand in and posts every operation to its
// serial queue in the order the callers made them.
//
// Three queues: "APMAnalyticsOperationQueue" holds queued work until start
// and then hands it, in order, to the serial queue "APMAnalyticsQueue", on
// which the front end's state changes and from which the engine is called;
// "APMAnalyticsTimestampQueue" only pairs an event's timestamp with its place
// in that order, so timestamps never decrease in queue order.
//
// Class-level state only, apart from the shared instance's three methods
// that other libraries of the platform reach through the connector.
class APMAnalytics {
public:
    static const QString kOperationQueueName; // "APMAnalyticsOperationQueue"
    static const QString kSerialQueueName; // "APMAnalyticsQueue"
    static const QString kTimestampQueueName; // "APMAnalyticsTimestampQueue"
    static const QString kSuiteName; // "APMAnalyticsSuiteName"

    // Keys of the front end's preference suite.
    static const QString kResetRetryCountKey; // "reset_retry_count"
    static const QString kNeedFirstOpenAfterResetKey; // "need_first_open_after_reset"
    static const QString kAppInstanceIDAfterResetKey; // "app_instance_id_after_reset"
    static const QString kDeferredAnalyticsCollectionKey; // "deferred_analytics_collection"
    static const QString kConsentSettings1PKey; // "consent_settings"
    static const QString kConsentSettings3PKey; // "consent_settings_3p"
    static const QString kConsentSettingsTCFKey; // "consent_settings_tcf"
    static const QString kConsentSourceKey; // "consent_source"
    static const QString kConsentSettingsOnStartKey; // "consent_settings_on_start"
    static const QString kDeferredConsentResetKey; // "deferred_consent_reset"

    // Start options.
    static const QString kConfigurationOption; // "BASALT_ANALYTICS_CONFIGURATION"
    static const QString kCollectionDeactivatedOption; // "BASALT_ANALYTICS_COLLECTION_DEACTIVATED"
    static const QString kCollectionEnabledOption; // "BASALT_ANALYTICS_COLLECTION_ENABLED"
    static const QString kLogTagOption; // "app_metrics_log_tag"
    static const QString kSafelistedEventsOption; // "safelisted_events"

    static const QString kWillStartNotification; // "kBASAnalyticsWillStartNotification"
    static const QString kConfigurationSetEnabledNotification; // "BASAnalyticsConfigurationSetEnabledNotification"
    static const QString kAllowPersonalizedAdsProperty; // "allow_personalized_ads"
    static const QString kPlatformOrigin; // "fa"
    static const QString& kAdOrigin; // "am"

    using Block = std::function<void()>;
    using Listener = std::function<void(const APMEvent&)>;
    // 0 stands for no listener.
    using ListenerToken = quint64;
    using Interceptor = APMMeasurement::Interceptor;
    using UserPropertiesCallback = std::function<void(const QVariantMap&)>;
    using SessionIDCompletion = APMMeasurement::SessionIDCompletion;

    // What the front end works with; every member has a working default
    // (defaultEnvironment()), tests replace them.
    struct Environment {
        platform::Clock* clock = nullptr;
        // Measures the hold of queueOperationWithBlockThenWait(); null: the
        // serial queue itself.
        platform::Executor* timer = nullptr;
        // The suite "APMAnalyticsSuiteName".
        APMConfigStore* preferences = nullptr;
        APMPersistedConfig* persistedConfig = nullptr;
        APMIdentity* identity = nullptr;
        APMIdentifiers* identifiers = nullptr;
        // Receives the log tag of the start options.
        APMMonitor* monitor = nullptr;
        platform::NotificationCenter* notifications = nullptr;
        std::function<void(qint64 level, qint64 code, const QString& message, const QVariantList& contexts)> log;
        std::function<bool(const QString&)> classExists;
        // The service configuration file's path ("" when there is none) and
        // its dictionary.
        std::function<QString()> serviceInfoPlistPath;
        std::function<std::optional<QVariantMap>()> serviceInfoDictionary;
        // The environment the engine is made with; the front end adds its
        // event listeners to it.
        std::function<APMMeasurement::Environment()> engineEnvironment;
        // Tracks "screen_view" events and places every other event on the
        // current screen; null: the shared one.
        std::shared_ptr<APMScreenViewReporter> screenViewReporter;
        // Reports store purchases; null: the shared one.
        APMInAppPurchaseTransactionReporter* purchaseReporter = nullptr;
        // Whose payment queue the front end observes from start; null: the
        // application's store.
        platform::AppStore* store = nullptr;
        // Whether the application's delegate proxy is put in place at start;
        // unset: it is.
        std::function<bool()> appDelegateProxyEnabled;
    };
    static Environment defaultEnvironment();

    // Tests only: finishes the serial queue's work, destroys the engine, the
    // queues and every piece of state, and begins again with this environment
    // (the operation queue suspended, nothing started).
    static void resetForTesting(Environment environment);

    // Records the load time (system clock); the program calls it once as it
    // starts. Nothing else of the library is made by it.
    static void load();
    static double loadTimestamp();
    static void setLoadTimestamp(double timestamp);

    // ---- Start and queues -------------------------------------------------------

    static void startWithAppID(const QString& appID, const QString& origin, const QVariantMap& options);
    static platform::SerialQueue& queue();
    static bool isCurrentQueueSerialQueue();
    static void dispatchAsyncOnSerialQueue(Block block);
    static void queueOperationWithBlock(Block block);
    static void queueOperationWithBlockThenWait(Block block);
    static void unsuspendOperationQueue();
    static bool isOperationQueueSuspended();
    // Whether a start got past its checks (the engine is made, or on its way).
    static bool hasStarted();

    // ---- Events -----------------------------------------------------------------

    static void logEventWithName(const QString& name, const QVariantMap& parameters);
    static void logEventWithOrigin(const QString& origin, const QString& name, const QVariantMap& parameters);
    static void logEventWithOrigin(
        const QString& origin, bool isPublicEvent, const QString& name, const QVariantMap& parameters);
    static void logEventWithOrigin(const QString& origin, bool isPublicEvent, const QString& name,
        const QVariantMap& parameters, double timestamp, bool ignoreEnabled, bool ignoreInterceptor);
    static void logInternalEventWithOrigin(const QString& origin, const QString& name, const QVariantMap& parameters);
    static void logInternalEventWithOrigin(
        const QString& origin, const QString& name, double timestamp, const QVariantMap& parameters);

    // ---- User properties --------------------------------------------------------

    // An invalid QVariant stands for nil (removal).
    static void setUserPropertyString(const QVariant& value, const QString& name);
    static void setUserID(const QVariant& userID);
    static void setUserAttributeNumber(const QVariant& number, const QString& name);
    static void removeUserAttributeForName(const QString& name);

    // ---- Settings and identity ----------------------------------------------------

    // Nothing clears the defaults.
    static void setDefaultEventParameters(const std::optional<QVariantMap>& parameters);
    static void setAnalyticsEnabled(bool enabled);
    static void setAnalyticsEnabled(bool enabled, bool persistSetting);
    static bool isEnabled();
    static void handleSetEnabled(const platform::Notification& notification);
    static void sessionIDWithCompletion(SessionIDCompletion completion);
    // A null QString stands for none.
    static QString appInstanceID();
    static void resetAnalyticsData();
    static void setSessionTimeoutInterval(double seconds);
    // On-device conversion measurement: the keys of APMOnDeviceConversion's user data.
    static void setUserData(const QVariantMap& userData);
    static void setUserDataOnSerialQueue(const QVariantMap& userData);
    // The identity the front end works with.
    static APMIdentity& identity();

    // ---- Consent (APMAnalyticsConsent.cpp) --------------------------------------

    static void setConsent(const QVariantMap& consent);
    static void setConsent(const QVariantMap& consent, const QString& key);
    static void loadPersistedConsentSettings();
    static void persistConsentSettings(const QVariantMap& settings, qint64 source);
    // 100 (none) when nothing was stored.
    static qint64 persistedConsentSource();
    static void clearConsent();
    static std::optional<QVariantMap> consentSettings1P();
    static std::optional<QVariantMap> consentSettings3P();
    static std::optional<QVariantMap> consentSettingsTCF();
    static std::optional<QVariantMap> consentSettings1PStart();
    static void removeStartUpConsentSettings();
    static QVariant deferredResetOnDeniedConsent();
    static void removeDeferredResetOnDeniedConsent();

    // ---- Reset bookkeeping (APMAnalyticsConsent.cpp) ------------------------------

    static qint64 resetRetryCount();
    // A count below 1 removes the key.
    static void setResetRetryCount(qint64 count);
    static bool needFirstOpenAfterReset();
    static void setNeedFirstOpenAfterReset(bool need);
    static void removeNeedFirstOpenAfterReset();
    static QString appInstanceIDAfterReset();
    static void setAppInstanceIDAfterReset(const QString& appInstanceID);
    static QVariant deferredAnalyticsCollection();
    static void setDeferredAnalyticsCollection(const QVariant& value);

    // ---- Queries, interceptor and listeners -------------------------------------

    // The answer comes on the given queue; a null queue gets an empty answer
    // on the main queue.
    static void userPropertiesIncludingInternal(
        bool includeInternal, platform::Executor* queue, UserPropertiesCallback callback);
    static void setLogEventInterceptor(Interceptor interceptor);
    static ListenerToken addLogEventListener(Listener listener);
    static void removeLogEventListener(ListenerToken token);
    static void notifyEventListeners(const APMEvent& event);
    static void notifyEventListenersOnSerialQueue(const APMEvent& event);

    // ---- Links and purchases (APMAnalyticsLinks.cpp) -------------------------------

    using OpenURLListener = std::function<void(const QUrl&)>;
    static void handleOpenURL(const QUrl& url);
    // The completion runs on the main queue once the library's request in
    // flight, if any, has been handled.
    static void handleEventsForBackgroundURLSession(const QString& identifier, std::function<void()> completion);
    static void handleUserActivity(const std::optional<APMUserActivity>& activity);
    static void setOpenURLListener(OpenURLListener listener);
    // A transaction of the newer store interface, handed on at once.
    static void logTransactionWithProductID(const QString& productID, qint64 paymentQuantity,
        const QString& transactionIdentifier, const QString& originalTransactionIdentifier,
        std::optional<double> transactionDate, const QByteArray& deviceVerification,
        const QString& deviceVerificationUUID, const QString& deviceVerificationNonce);
    // The store's payment queue observer: while enabled, transactions not
    // seen before go to the purchase reporter.
    static void paymentQueueUpdatedTransactions(const QList<platform::StorePaymentTransaction>& transactions);

    // ---- The shared instance --------------------------------------------------------

    static APMAnalytics& sharedInstance();
    // An internal event from another library of the platform; for origin
    // "am" a decimal "_aeid" text becomes an integer.
    void logLibraryInternalEventWithOrigin(const QString& origin, const QString& name, const QVariantMap& parameters) const;
    void setInternalUserProperty(const QVariant& value, const QString& name, const QString& origin) const;
    void removeInternalUserAttributeForName(const QString& name) const;
    void maxUserPropertiesForOrigin(
        const QString& origin, platform::Executor* queue, std::function<void(qint64)> callback) const;

private:
    APMAnalytics() = default;

    static void log(qint64 level, qint64 code, const QString& message, const QVariantList& contexts = {});
    static void logEventOnSerialQueue(const QString& origin, bool isPublicEvent, const QString& name,
        QVariantMap parameters, double timestamp, bool ignoreEnabled, bool ignoreInterceptor,
        QVariantMap addedScreenParameters);
    static void setAllowPersonalizedAds(const QVariant& value);
    static void startUp(
        const QString& appID, const QString& origin, const QVariantMap& options, bool hasPublicInterface);
    static std::optional<QStringList> checkedSafelist(const QVariant& value);
    static void observeNotificationsForAnalyticsConfiguration(const QVariant& configuration);
    static APMScreenViewReporter& screenViewReporter();
    static APMInAppPurchaseTransactionReporter& purchaseReporter();
    // Start-up hooks: the application's delegate proxy (once per process)
    // and the tag manager's shared instance, when that library is linked.
    static void createAppDelegateProxy();
    static void maybeEnableTagManager();
    static platform::AppStore& store();
    static void logErrorEvent(qint64 code, const QString& name, qint64 maxLength, const QVariant& value);
    static double now();
};
