#pragma once

#include "analytics/frontend/APMAnalytics.h"
#include "analytics/interface/BASApp.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <optional>

namespace platform {
class Executor;
} // namespace platform

// The class through which the application and the other libraries of the
// platform reach analytics. Nearly every operation forwards to the front
// end; logging an event and setting a user property first check that the
// default app of the platform registry is configured.
class BASAnalytics {
public:
    // The name the engine's identity looks for to tell that this interface is present.
    static const QString& kClassName; // "BASAnalytics"
    static const QString& kAppOrigin; // "app"
    static const QString kLogTag; // "BasaltAnalytics"
    static const QString kTopLevelVersion; // "10.27.0"

    static void logEventWithName(const QString& name, const QVariantMap& parameters);
    static void logEventWithOrigin(const QString& origin, const QString& name, const QVariantMap& parameters);
    static void logInternalEventWithOrigin(const QString& origin, const QString& name, const QVariantMap& parameters);
    static void logEventWithOrigin(const QString& origin, bool isPublicEvent, const QString& name,
        const QVariantMap& parameters, double timestamp, bool ignoreEnabled, bool ignoreInterceptor);
    // An invalid QVariant stands for nil.
    static void setUserPropertyString(const QVariant& value, const QString& name);
    static void setUserID(const QVariant& userID);
    // The choice is kept across launches.
    static void setAnalyticsCollectionEnabled(bool enabled);
    static void sessionIDWithCompletion(APMAnalytics::SessionIDCompletion completion);
    static QString appInstanceID();
    static void resetAnalyticsData();
    static void setSessionTimeoutInterval(double seconds);
    // On-device conversion measurement; a null or empty value is sent empty.
    static void initiateOnDeviceConversionMeasurementWithEmailAddress(const QString& emailAddress);
    static void initiateOnDeviceConversionMeasurementWithPhoneNumber(const QString& phoneNumber);
    static void initiateOnDeviceConversionMeasurementWithHashedEmailAddress(const QByteArray& hashedEmailAddress);
    static void initiateOnDeviceConversionMeasurementWithHashedPhoneNumber(const QByteArray& hashedPhoneNumber);
    static void logTransactionWithProductID(const QString& productID, qint64 paymentQuantity,
        const QString& transactionIdentifier, const QString& originalTransactionIdentifier,
        std::optional<double> transactionDate, const QByteArray& deviceVerification,
        const QString& deviceVerificationUUID, const QString& deviceVerificationNonce);
    static void handleOpenURL(const QUrl& url);
    static void handleEventsForBackgroundURLSession(const QString& identifier, std::function<void()> completion);
    static void handleUserActivity(const std::optional<APMUserActivity>& activity);
    static void setOpenURLListener(APMAnalytics::OpenURLListener listener);
    // Consent from the application through this interface ranks as
    // third-party settings ("consent_settings_3p").
    static void setConsent(const QVariantMap& consent);
    static void setDefaultEventParameters(const std::optional<QVariantMap>& parameters);
    static void setLogEventInterceptor(APMAnalytics::Interceptor interceptor);
    static APMAnalytics::ListenerToken addLogEventListener(APMAnalytics::Listener listener);
    static void removeLogEventListener(APMAnalytics::ListenerToken token);
    static void notifyEventListeners(const APMEvent& event);
    static void userPropertiesIncludingInternal(
        bool includeInternal, platform::Executor* queue, APMAnalytics::UserPropertiesCallback callback);
    static void dispatchAsyncOnSerialQueue(APMAnalytics::Block block);
    static void queueOperationWithBlock(APMAnalytics::Block block);
    static void unsuspendOperationQueue();
    static double loadTimestamp();
    static QString topLevelVersion();

    // Makes the interface known as linked; the program calls it once as it
    // starts, before anything else of the library runs.
    static void load();
    // What the platform registry calls once the default app is configured.
    static void startWithConfiguration(const QVariant& configuration, const BASApp::Options& options);
    // Asks the installations service and hands its answer (none included)
    // to the identity.
    static void updateBasaltInstallationID();
    // Registered once however often it is called.
    static void observeBasaltInstallationIDChanges();

    static BASAnalytics& sharedInstance();
    // The doors of the connector for other libraries of the platform.
    void logLibraryInternalEventWithOrigin(const QString& origin, const QString& name, const QVariantMap& parameters) const;
    void setInternalUserProperty(const QVariant& value, const QString& name, const QString& origin) const;
    void maxUserPropertiesForOrigin(
        const QString& origin, platform::Executor* queue, std::function<void(qint64)> callback) const;

    // Tests only: stops observing installation-ID changes, forgets the start
    // and the load.
    static void resetForTesting();

private:
    BASAnalytics() = default;
};
