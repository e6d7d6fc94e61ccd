#include "analytics/interface/BASAnalytics.h"
#include "analytics/interface/BASInstallations.h"

#include "analytics/base/APMClassRegistry.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMUserActivity.h"
#include "analytics/engine/APMOnDeviceConversion.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/model/APMLogNames.h"
#include "analytics/model/APMEventNames.h"
#include "platform/NotificationCenter.h"

#include <mutex>

const QString& BASAnalytics::kClassName = APMIdentity::kBASAnalyticsClassName;
const QString& BASAnalytics::kAppOrigin = APMEventNames::kAppOrigin;
const QString BASAnalytics::kLogTag = QStringLiteral("BasaltAnalytics");
const QString BASAnalytics::kTopLevelVersion = QStringLiteral("10.27.0");

namespace bas_analytics {

struct InstallationObserver {
    std::mutex mutex;
    platform::ObserverToken token;
};

InstallationObserver& installationObserver()
{
    static InstallationObserver* shared = new InstallationObserver; // lives with the process
    return *shared;
}

void warn(qint64 code, const QString& message, const QVariant& context = QVariant())
{
    if (context.isValid())
        APMMeasurement::monitor().logWithLevel(APMMonitor::kLevelWarning, code, message, context);
    else
        APMMeasurement::monitor().logWithLevel(APMMonitor::kLevelWarning, code, message);
}

// On-device conversion needs the default app; the value goes on under its key.
void initiateOnDeviceConversion(qint64 code, const QString& refusal, const QString& key, const QVariant& value)
{
    if (!BASApp::isDefaultAppConfigured()) {
        warn(code, refusal);
        return;
    }
    APMAnalytics::setUserData({ { key, value } });
}

} // namespace bas_analytics

void BASAnalytics::logEventWithName(const QString& name, const QVariantMap& parameters)
{
    logEventWithOrigin(kAppOrigin, name, parameters);
}

void BASAnalytics::logEventWithOrigin(const QString& origin, const QString& name, const QVariantMap& parameters)
{
    if (!BASApp::isDefaultAppConfigured()) {
        bas_analytics::warn(25018, QStringLiteral("Event not logged. Call +[BASApp configure]"), APMEventNameForLog(name));
        return;
    }
    APMAnalytics::logEventWithOrigin(origin, name, parameters);
}

void BASAnalytics::logInternalEventWithOrigin(const QString& origin, const QString& name, const QVariantMap& parameters)
{
    APMAnalytics::logInternalEventWithOrigin(origin, name, parameters);
}

void BASAnalytics::logEventWithOrigin(const QString& origin, bool isPublicEvent, const QString& name,
    const QVariantMap& parameters, double timestamp, bool ignoreEnabled, bool ignoreInterceptor)
{
    APMAnalytics::logEventWithOrigin(origin, isPublicEvent, name, parameters, timestamp, ignoreEnabled, ignoreInterceptor);
}

void BASAnalytics::setUserPropertyString(const QVariant& value, const QString& name)
{
    if (!BASApp::isDefaultAppConfigured()) {
        bas_analytics::warn(
            25019, QStringLiteral("User property not set. Call +[BASApp configure]"), APMUserPropertyNameForLog(name));
        return;
    }
    APMAnalytics::setUserPropertyString(value, name);
}

void BASAnalytics::setUserID(const QVariant& userID)
{
    APMAnalytics::setUserID(userID);
}

void BASAnalytics::setAnalyticsCollectionEnabled(bool enabled)
{
    APMAnalytics::setAnalyticsEnabled(enabled, true);
}

void BASAnalytics::sessionIDWithCompletion(APMAnalytics::SessionIDCompletion completion)
{
    APMAnalytics::sessionIDWithCompletion(std::move(completion));
}

QString BASAnalytics::appInstanceID()
{
    return APMAnalytics::appInstanceID();
}

void BASAnalytics::resetAnalyticsData()
{
    APMAnalytics::resetAnalyticsData();
}

void BASAnalytics::setSessionTimeoutInterval(double seconds)
{
    APMAnalytics::setSessionTimeoutInterval(seconds);
}

void BASAnalytics::initiateOnDeviceConversionMeasurementWithEmailAddress(const QString& emailAddress)
{
    bas_analytics::initiateOnDeviceConversion(25051, QStringLiteral("Email address not set. Call +[BASApp configure]"),
        APMOnDeviceConversion::kUserDataEmailAddressKey, emailAddress.isEmpty() ? QStringLiteral("") : emailAddress);
}

void BASAnalytics::initiateOnDeviceConversionMeasurementWithPhoneNumber(const QString& phoneNumber)
{
    bas_analytics::initiateOnDeviceConversion(25052, QStringLiteral("Phone number not set. Call +[BASApp configure]"),
        APMOnDeviceConversion::kUserDataPhoneNumberKey, phoneNumber.isEmpty() ? QStringLiteral("") : phoneNumber);
}

void BASAnalytics::initiateOnDeviceConversionMeasurementWithHashedEmailAddress(const QByteArray& hashedEmailAddress)
{
    bas_analytics::initiateOnDeviceConversion(25053,
        QStringLiteral("Hashed email address not set. Call +[BASApp configure]"),
        APMOnDeviceConversion::kUserDataHashedEmailAddressKey, hashedEmailAddress.isEmpty() ? QByteArray("") : hashedEmailAddress);
}

void BASAnalytics::initiateOnDeviceConversionMeasurementWithHashedPhoneNumber(const QByteArray& hashedPhoneNumber)
{
    bas_analytics::initiateOnDeviceConversion(25054,
        QStringLiteral("Hashed phone number not set. Call +[BASApp configure]"),
        APMOnDeviceConversion::kUserDataHashedPhoneNumberKey, hashedPhoneNumber.isEmpty() ? QByteArray("") : hashedPhoneNumber);
}

void BASAnalytics::logTransactionWithProductID(const QString& productID, qint64 paymentQuantity,
    const QString& transactionIdentifier, const QString& originalTransactionIdentifier,
    std::optional<double> transactionDate, const QByteArray& deviceVerification, const QString& deviceVerificationUUID,
    const QString& deviceVerificationNonce)
{
    APMAnalytics::logTransactionWithProductID(productID, paymentQuantity, transactionIdentifier,
        originalTransactionIdentifier, transactionDate, deviceVerification, deviceVerificationUUID,
        deviceVerificationNonce);
}

void BASAnalytics::handleEventsForBackgroundURLSession(const QString& identifier, std::function<void()> completion)
{
    APMAnalytics::handleEventsForBackgroundURLSession(identifier, std::move(completion));
}

void BASAnalytics::handleOpenURL(const QUrl& url)
{
    APMAnalytics::handleOpenURL(url);
}

void BASAnalytics::handleUserActivity(const std::optional<APMUserActivity>& activity)
{
    APMAnalytics::handleUserActivity(activity);
}

void BASAnalytics::setOpenURLListener(APMAnalytics::OpenURLListener listener)
{
    APMAnalytics::setOpenURLListener(std::move(listener));
}

void BASAnalytics::setConsent(const QVariantMap& consent)
{
    APMAnalytics::setConsent(consent, APMAnalytics::kConsentSettings3PKey);
}

void BASAnalytics::setDefaultEventParameters(const std::optional<QVariantMap>& parameters)
{
    APMAnalytics::setDefaultEventParameters(parameters);
}

void BASAnalytics::setLogEventInterceptor(APMAnalytics::Interceptor interceptor)
{
    APMAnalytics::setLogEventInterceptor(std::move(interceptor));
}

APMAnalytics::ListenerToken BASAnalytics::addLogEventListener(APMAnalytics::Listener listener)
{
    return APMAnalytics::addLogEventListener(std::move(listener));
}

void BASAnalytics::removeLogEventListener(APMAnalytics::ListenerToken token)
{
    APMAnalytics::removeLogEventListener(token);
}

void BASAnalytics::notifyEventListeners(const APMEvent& event)
{
    APMAnalytics::notifyEventListeners(event);
}

void BASAnalytics::userPropertiesIncludingInternal(
    bool includeInternal, platform::Executor* queue, APMAnalytics::UserPropertiesCallback callback)
{
    APMAnalytics::userPropertiesIncludingInternal(includeInternal, queue, std::move(callback));
}

void BASAnalytics::dispatchAsyncOnSerialQueue(APMAnalytics::Block block)
{
    APMAnalytics::dispatchAsyncOnSerialQueue(std::move(block));
}

void BASAnalytics::queueOperationWithBlock(APMAnalytics::Block block)
{
    APMAnalytics::queueOperationWithBlock(std::move(block));
}

void BASAnalytics::unsuspendOperationQueue()
{
    APMAnalytics::unsuspendOperationQueue();
}

double BASAnalytics::loadTimestamp()
{
    return APMAnalytics::loadTimestamp();
}

QString BASAnalytics::topLevelVersion()
{
    return kTopLevelVersion;
}

void BASAnalytics::load()
{
    // Linked means present from the start: the front end refuses starts from
    // other origins, and the engine reports this interface's version.
    APMClassRegistry::registerClassName(kClassName, kTopLevelVersion);
}

void BASAnalytics::startWithConfiguration(const QVariant& configuration, const BASApp::Options& options)
{
    QVariantMap startOptions;
    if (configuration.isValid())
        startOptions.insert(APMAnalytics::kConfigurationOption, configuration);
    startOptions.insert(APMAnalytics::kCollectionDeactivatedOption, options.isAnalyticsCollectionDeactivated);
    startOptions.insert(APMAnalytics::kCollectionEnabledOption, options.isAnalyticsCollectionEnabled);
    startOptions.insert(APMAnalytics::kLogTagOption, kLogTag);
    APMAnalytics::startWithAppID(options.vireoAppID, APMAnalytics::kPlatformOrigin, startOptions);
    updateBasaltInstallationID();
    observeBasaltInstallationIDChanges();
}

void BASAnalytics::updateBasaltInstallationID()
{
    BASInstallations::shared().installationIDWithCompletion(
        [](const QString& installationID, const std::optional<APMError>& error) {
            if (installationID.isNull() && error) {
                APMMeasurement::monitor().logWithLevel(APMMonitor::kLevelWarningMonitored, 25038,
                    QStringLiteral("Failed to get Installation ID."), error->description());
            }
            APMAnalytics::identity().setBasaltInstallationID(installationID);
        });
}

void BASAnalytics::observeBasaltInstallationIDChanges()
{
    bas_analytics::InstallationObserver& observer = bas_analytics::installationObserver();
    std::lock_guard locker(observer.mutex);
    observer.token.reset();
    observer.token = platform::NotificationCenter::defaultCenter().addObserver(
        BASInstallations::kIDDidChangeNotification, [](const platform::Notification&) { updateBasaltInstallationID(); });
}

void BASAnalytics::resetForTesting()
{
    bas_analytics::InstallationObserver& observer = bas_analytics::installationObserver();
    std::lock_guard locker(observer.mutex);
    observer.token.reset();
    APMClassRegistry::unregisterClassName(kClassName);
}

BASAnalytics& BASAnalytics::sharedInstance()
{
    static BASAnalytics* shared = new BASAnalytics; // lives with the process
    return *shared;
}

void BASAnalytics::logLibraryInternalEventWithOrigin(
    const QString& origin, const QString& name, const QVariantMap& parameters) const
{
    APMAnalytics::sharedInstance().logLibraryInternalEventWithOrigin(origin, name, parameters);
}

void BASAnalytics::setInternalUserProperty(const QVariant& value, const QString& name, const QString& origin) const
{
    APMAnalytics::sharedInstance().setInternalUserProperty(value, name, origin);
}

void BASAnalytics::maxUserPropertiesForOrigin(
    const QString& origin, platform::Executor* queue, std::function<void(qint64)> callback) const
{
    APMAnalytics::sharedInstance().maxUserPropertiesForOrigin(origin, queue, std::move(callback));
}
