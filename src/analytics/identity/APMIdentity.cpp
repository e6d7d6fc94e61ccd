#include "analytics/identity/APMIdentity.h"

#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/config/APMInfoPlistFileUtil.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/base/APMAEU.h"
#include "analytics/base/APMClassRegistry.h"
#include "analytics/base/APMConfigStore.h"
#include "analytics/base/APMDefaultIdentitySupport.h"
#include "analytics/base/APMHelpers.h"
#include "analytics/base/APMLibrary.h"
#include "platform/Clock.h"
#include "platform/SerialQueue.h"
#include "platform/TrackingAuthorization.h"

#include <QUuid>

#include <atomic>
#include <limits>

const QString APMIdentity::kQueueName = QStringLiteral("APMIdentityWorkerQueue");
const QString APMIdentity::kIDFVCollectionEnabledKey
    = QStringLiteral("VIREO_ANALYTICS_IDFV_COLLECTION_ENABLED");
const QString APMIdentity::kBASAnalyticsClassName = QStringLiteral("BASAnalytics");

namespace {

using Consent = APMConsentSettingsUtil;
using LogFunction = std::function<void(qint64, qint64, const QString&, const QVariantList&)>;

const QString kMissingPersistedConfigMessage
    = QStringLiteral("Unable to create measurement identity, missing a valid persisted config instance");
const QString kEmptyVireoAppIDMessage = QStringLiteral("Cannot set empty Vireo App ID");
const QString kEmptyAdNestAppIDMessage = QStringLiteral("Cannot set empty AdNest App ID");
const QString kMissingServiceAppIDMessage = QStringLiteral(
    "Vireo App ID from VireoService-Info.plist is empty. Please define VIREO_APP_ID in "
    "VireoService-Info.plist. See https://measurement.vireo.example/docs/service-info for details.");
const QString kNonNumericVersionMessage = QStringLiteral("app version numeric has non-numeric characters");

constexpr int kDiversionKeyLength = 5;

// Each setter of an app ID stores only the first non-empty ID of the process.
std::atomic<bool> vmpAppIDSet { false };
std::atomic<bool> adNestAppIDSet { false };

void monitorLog(qint64 level, qint64 code, const QString& message, const QVariantList& contexts)
{
    APMLibrary::monitor().logWithLevelContexts(level, code, message, contexts);
}

QList<qint32> numericFields(const QString& text, const LogFunction& log)
{
    QList<qint32> fields;
    for (const QString& part : text.split(QLatin1Char('.'), Qt::SkipEmptyParts)) {
        qint64 number = 0;
        bool nonNumeric = false;
        for (const QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
                nonNumeric = true;
                continue;
            }
            number = std::min<qint64>(number * 10 + (c.unicode() - '0'), std::numeric_limits<qint32>::max());
        }
        if (nonNumeric)
            log(APMMonitor::kLevelWarningSilent, 20002, kNonNumericVersionMessage, { part });
        fields.append(static_cast<qint32>(number));
    }
    return fields;
}

quint64 statusFromPlatform(quint64 platformStatus)
{
    switch (platformStatus) {
    case platform::TrackingAuthorization::NotDetermined:
        return APMIdentity::StatusNotDetermined;
    case platform::TrackingAuthorization::Restricted:
        return APMIdentity::StatusRestricted;
    case platform::TrackingAuthorization::Denied:
        return APMIdentity::StatusDenied;
    case platform::TrackingAuthorization::Authorized:
        return APMIdentity::StatusAuthorized;
    default:
        return APMIdentity::StatusUnknown;
    }
}

} // namespace

APMIdentity::Environment APMIdentity::defaultEnvironment()
{
    Environment environment;
    environment.log = monitorLog;
    environment.clock = &platform::Clock::system();
    environment.identitySupport = &APMDefaultIdentitySupport::sharedInstance();
    environment.adIDCacheTime = [] { return APMRemoteConfig::engineInstance()->adIDCacheTime(); };
    environment.gateIDFAOnATTMASEnabled
        = [] { return APMRemoteConfig::engineInstance()->gateIDFAOnATTMASEnabled(); };
    environment.serviceInfoDictionary
        = [] { return APMInfoPlistFileUtil::dictionaryFromVireoServiceInfoPlist(); };
    environment.infoDictionary = APMInfoPlistFileUtil::mainBundleInfoDictionary();
    environment.classExists = APMClassRegistry::classExists;
    return environment;
}

std::optional<QString> APMIdentity::identifierForVendor() const
{
    if (APMConfigStore::isNumber(isIDFVCollectionEnabledNumber_) && !isIDFVCollectionEnabledNumber_.toBool())
        return std::nullopt;
    return APMDefaultIdentitySupport::identifierForVendor(persistedConfig_);
}

APMIdentity& APMIdentity::sharedInstance()
{
    static APMIdentity* shared
        = initWithPersistedConfig(&APMPersistedConfig::sharedInstance()).release(); // lives with the process
    return *shared;
}

qint64 APMIdentity::appMetricsLibraryVersion()
{
    return APMLibrary::kAppMetricsLibraryVersion;
}

QList<qint32> APMIdentity::numericFieldsFromAppVersionNumeric(const QString& text)
{
    return numericFields(text, monitorLog);
}

QString APMIdentity::randomAppInstanceID()
{
    return QUuid::createUuid().toString(QUuid::Id128).toUpper();
}

std::unique_ptr<APMIdentity> APMIdentity::initWithPersistedConfig(
    APMPersistedConfig* persistedConfig, Environment environment)
{
    if (!persistedConfig) {
        if (environment.log)
            environment.log(APMMonitor::kLevelErrorSilent, 20004, kMissingPersistedConfigMessage, {});
        return nullptr;
    }
    return std::unique_ptr<APMIdentity>(new APMIdentity(*persistedConfig, std::move(environment)));
}

APMIdentity::APMIdentity(APMPersistedConfig& persistedConfig, Environment environment)
    : persistedConfig_(persistedConfig)
    , environment_(std::move(environment))
{
    const std::optional<QVariantMap> serviceInfo
        = environment_.serviceInfoDictionary ? environment_.serviceInfoDictionary() : std::nullopt;
    if (serviceInfo && !serviceInfo->isEmpty()) {
        appIDFromVMP_ = serviceInfo->value(APMInfoPlistFileUtil::kVireoAppIDKey).toString();
        appIDFromAdNest_ = serviceInfo->value(APMInfoPlistFileUtil::kAdNestAppIDKey).toString();
    }
    if (environment_.classExists && environment_.classExists(kBASAnalyticsClassName)
        && appIDFromVMP_.isEmpty())
        log(APMMonitor::kLevelError, 20006, kMissingServiceAppIDMessage);

    const QVariantMap& info = environment_.infoDictionary;
    const QVariant idfvSwitch = info.value(kIDFVCollectionEnabledKey);
    if (APMConfigStore::isNumber(idfvSwitch)) {
        isIDFVCollectionEnabledNumber_ = idfvSwitch;
        log(APMMonitor::kLevelDebug, 20009,
            QStringLiteral("%1 = %2").arg(kIDFVCollectionEnabledKey,
                idfvSwitch.toBool() ? QStringLiteral("YES") : QStringLiteral("NO")));
    }
    appID_ = info.value(APMInfoPlistFileUtil::kBundleIdentifierKey).toString();
    appVersion_ = info.value(APMInfoPlistFileUtil::kShortVersionKey).toString();
    const QList<qint32> fields = numericFields(info.value(APMInfoPlistFileUtil::kBundleVersionKey).toString(),
        [this](qint64 level, qint64 code, const QString& message, const QVariantList& contexts) {
            log(level, code, message, contexts);
        });
    if (fields.size() > 0)
        appVersionMajor_ = fields[0];
    if (fields.size() > 1)
        appVersionMinor_ = fields[1];
    if (fields.size() > 2)
        appVersionRelease_ = fields[2];

    if (persistedConfig_.appInstanceID().isEmpty() && !Consent::isAnalyticsStorageDenied())
        persistedConfig_.setAppInstanceID(randomAppInstanceID());

    queue_ = std::make_unique<platform::SerialQueue>(kQueueName);
}

APMIdentity::~APMIdentity()
{
    // Runs what is already queued while the rest of the identity is alive.
    queue_.reset();
}

void APMIdentity::log(qint64 level, qint64 code, const QString& message, const QVariantList& contexts) const
{
    if (environment_.log)
        environment_.log(level, code, message, contexts);
}

template <typename Read> auto APMIdentity::readOnQueue(Read read) -> decltype(read())
{
    {
        // Nothing queued: the read sees every write already, and waking the
        // queue's thread for it would cost two context switches.
        QMutexLocker lock(&stateMutex_);
        if (queuedWrites_ == 0)
            return read();
    }
    decltype(read()) result {};
    queue_->sync([&] {
        QMutexLocker lock(&stateMutex_);
        result = read();
    });
    return result;
}

void APMIdentity::post(std::function<void()> write)
{
    {
        QMutexLocker lock(&stateMutex_);
        ++queuedWrites_;
    }
    queue_->async([this, write = std::move(write)] {
        QMutexLocker lock(&stateMutex_);
        write();
        --queuedWrites_;
    });
}

// What updateIdentifiers() followed by readOnQueue() gives, in one trip to
// the queue instead of two: these reads come once per logged event, several
// of them, and each trip wakes the queue's thread.
template <typename Read> auto APMIdentity::refreshedReadOnQueue(Read read) -> decltype(read())
{
    return readOnQueue([&] {
        refreshOnWorkerQueue();
        return read();
    });
}

// ---- Advertising-derived identifiers ---------------------------------------

void APMIdentity::updateIdentifiers()
{
    post([this] { refreshOnWorkerQueue(); });
}

void APMIdentity::updateIdentifiersAndWait()
{
    updateIdentifiers();
    queue_->sync([] {});
}

void APMIdentity::refreshOnWorkerQueue()
{
    const double now = environment_.clock->now();
    const QString storedAppInstanceID = persistedConfig_.appInstanceID();
    if (!rotationPending_ && !storedAppInstanceID.isEmpty() && lastAppInstanceIDUpdateTimestamp_
        && *lastAppInstanceIDUpdateTimestamp_ <= now
        && now - *lastAppInstanceIDUpdateTimestamp_ < environment_.adIDCacheTime())
        return;

    APMIdentitySupport& support = *environment_.identitySupport;
    const QString storedHash = persistedConfig_.hashedResettableDeviceID();
    std::optional<QString> previousDeviceID = resettableDeviceID_;
    const bool limited = support.limitedAdTracking();

    quint64 status = StatusUnavailable;
    std::optional<quint64> platformStatus;
    if (support.hasLimitedAdTracking()) {
        status = StatusUnknown;
        if (support.hasAppDataConsentStatus()) {
            platformStatus = support.appDataConsentStatus();
            status = statusFromPlatform(*platformStatus);
        }
    }
    const bool mayTakeDeviceID = !environment_.gateIDFAOnATTMASEnabled()
        || platformStatus == quint64(platform::TrackingAuthorization::Authorized);

    const bool adStorageDenied = Consent::isAdStorageDenied();
    std::optional<QString> deviceID;
    if (adStorageDenied)
        previousDeviceID.reset();
    else if (mayTakeDeviceID)
        deviceID = support.resettableDeviceID();

    bool needsWrite = storedAppInstanceID.isEmpty();
    QString appInstanceID = storedAppInstanceID;
    QString hash = storedHash;
    bool rotate = false;
    std::optional<QString> currentDeviceID = previousDeviceID;
    if (deviceID && *deviceID == platform::TrackingAuthorization::kZeroIdentifier) {
        currentDeviceID.reset();
    } else if (deviceID && !deviceID->isEmpty()) {
        const QString digest = apm_MD5String(*deviceID);
        // An identifier without a text form has no hash either; it is not used.
        if (!digest.isNull()) {
            currentDeviceID = deviceID;
            if (digest != storedHash) {
                if (!storedHash.isEmpty()) {
                    rotate = true;
                    appInstanceID = randomAppInstanceID();
                }
                hash = digest;
                needsWrite = true;
            }
        }
    }

    rotationPending_ = false;
    if (needsWrite) {
        const bool analyticsStorageDenied = Consent::isAnalyticsStorageDenied();
        if (rotate && analyticsStorageDenied) {
            // The new ID cannot be stored; storing the new hash alone would
            // hide the change for good and keep the old ID with the new
            // advertising identifier. Nothing is stored until it can all be.
            rotationPending_ = true;
        } else {
            if (!analyticsStorageDenied)
                persistedConfig_.setAppInstanceID(
                    appInstanceID.isEmpty() ? randomAppInstanceID() : appInstanceID);
            if (!adStorageDenied)
                persistedConfig_.setHashedResettableDeviceID(hash);
            if (rotate)
                persistedConfig_.setShouldSetLastAdvertisingIDResetUserProperty(true);
        }
    }

    lastAppInstanceIDUpdateTimestamp_ = now;
    limitedAdTracking_ = limited;
    resettableDeviceID_ = currentDeviceID;
    appleConsentStatus_ = status;
}

QString APMIdentity::appInstanceID()
{
    if (Consent::isAnalyticsStorageDenied())
        return QString();
    return refreshedReadOnQueue([this] { return persistedConfig_.appInstanceID(); });
}

void APMIdentity::setAppInstanceID(const QString& appInstanceID)
{
    post([this, appInstanceID] { persistedConfig_.setAppInstanceID(appInstanceID); });
}

QString APMIdentity::hashedResettableDeviceID()
{
    if (Consent::isAdStorageDenied())
        return QString();
    return refreshedReadOnQueue([this] { return persistedConfig_.hashedResettableDeviceID(); });
}

QString APMIdentity::resettableDeviceID()
{
    return refreshedReadOnQueue([this] { return resettableDeviceID_.value_or(QString()); });
}

bool APMIdentity::limitedAdTracking()
{
    return refreshedReadOnQueue([this] { return limitedAdTracking_; });
}

quint64 APMIdentity::appleConsentStatus()
{
    return refreshedReadOnQueue([this] { return appleConsentStatus_; });
}

bool APMIdentity::hasLimitedAdTracking()
{
    return refreshedReadOnQueue([this] { return environment_.identitySupport->hasLimitedAdTracking(); });
}

APMIdentity::AdvertisingIdentifiers APMIdentity::advertisingIdentifiers()
{
    const bool analyticsStorageDenied = Consent::isAnalyticsStorageDenied();
    return refreshedReadOnQueue(
        [this, analyticsStorageDenied] { return advertisingIdentifiersOnWorkerQueue(analyticsStorageDenied); });
}

APMIdentity::AdvertisingIdentifiers APMIdentity::advertisingIdentifiersOnWorkerQueue(bool analyticsStorageDenied)
{
    AdvertisingIdentifiers identifiers;
    identifiers.appleConsentStatus = appleConsentStatus_;
    identifiers.hasLimitedAdTracking = environment_.identitySupport->hasLimitedAdTracking();
    identifiers.limitedAdTracking = limitedAdTracking_;
    identifiers.resettableDeviceID = resettableDeviceID_.value_or(QString());
    if (!analyticsStorageDenied)
        identifiers.appInstanceID = persistedConfig_.appInstanceID();
    return identifiers;
}

// ---- App IDs and the reset flag --------------------------------------------

QString APMIdentity::appIDFromVMP()
{
    QMutexLocker lock(&appIDsMutex_);
    return appIDFromVMP_;
}

QString APMIdentity::appIDFromAdNest()
{
    QMutexLocker lock(&appIDsMutex_);
    return appIDFromAdNest_;
}

void APMIdentity::setAppIDFromVMP(const QString& appID)
{
    if (appID.isEmpty()) {
        log(APMMonitor::kLevelErrorSilent, 20005, kEmptyVireoAppIDMessage);
        return;
    }
    if (vmpAppIDSet.exchange(true))
        return;
    QMutexLocker lock(&appIDsMutex_);
    appIDFromVMP_ = appID;
}

void APMIdentity::setAppIDFromAdNest(const QString& appID)
{
    if (appID.isEmpty()) {
        log(APMMonitor::kLevelErrorSilent, 20007, kEmptyAdNestAppIDMessage);
        return;
    }
    if (adNestAppIDSet.exchange(true))
        return;
    QMutexLocker lock(&appIDsMutex_);
    appIDFromAdNest_ = appID;
}

bool APMIdentity::shouldSetLastAdvertisingIDResetUserProperty()
{
    return readOnQueue([this] { return persistedConfig_.shouldSetLastAdvertisingIDResetUserProperty(); });
}

bool APMIdentity::updateIdentifiersAndReadShouldSetLastAdvertisingIDResetUserProperty()
{
    return refreshedReadOnQueue([this] { return persistedConfig_.shouldSetLastAdvertisingIDResetUserProperty(); });
}

void APMIdentity::setShouldSetLastAdvertisingIDResetUserProperty(bool value)
{
    post([this, value] { persistedConfig_.setShouldSetLastAdvertisingIDResetUserProperty(value); });
}

// ---- Session stitching token, diversion key, ephemeral ID ------------------

QString APMIdentity::sessionStitchingTokenWithSessionNumber(
    qint64 sessionNumber, bool sessionExpired, bool userIDAvailable)
{
    return readOnQueue(
        [&] { return sessionStitchingTokenOnWorkerQueue(sessionNumber, sessionExpired, userIDAvailable); });
}

APMIdentity::EventIdentifiers APMIdentity::eventIdentifiersWithSessionNumber(
    qint64 sessionNumber, bool sessionExpired, bool userIDAvailable)
{
    const bool analyticsStorageDenied = Consent::isAnalyticsStorageDenied();
    return readOnQueue([&] {
        EventIdentifiers identifiers;
        identifiers.sessionStitchingToken
            = sessionStitchingTokenOnWorkerQueue(sessionNumber, sessionExpired, userIDAvailable);
        refreshOnWorkerQueue();
        identifiers.advertising = advertisingIdentifiersOnWorkerQueue(analyticsStorageDenied);
        return identifiers;
    });
}

QString APMIdentity::sessionStitchingTokenOnWorkerQueue(
    qint64 sessionNumber, bool sessionExpired, bool userIDAvailable)
{
    if (Consent::isAnalyticsStorageDenied())
        return QString();
    const bool sameSession = sessionNumber == lastSessionNumber_ && sessionExpired == lastIsSessionExpired_;
    const bool nextAfterExpiry = lastSessionNumber_ < std::numeric_limits<qint64>::max()
        && sessionNumber == lastSessionNumber_ + 1 && lastIsSessionExpired_ && !sessionExpired;
    if (!sameSession && !nextAfterExpiry)
        resetSessionStitchingTokenOnWorkerQueue();
    lastSessionNumber_ = sessionNumber;
    lastIsSessionExpired_ = sessionExpired;

    const double now = environment_.clock->now();
    if (!userIDAvailable && sessionStitchingTokenExpirationTime_ && *sessionStitchingTokenExpirationTime_ <= now)
        resetSessionStitchingTokenOnWorkerQueue();
    if (sessionStitchingToken_.isEmpty()) {
        sessionStitchingToken_ = randomAppInstanceID();
        if (!userIDAvailable)
            sessionStitchingTokenExpirationTime_ = now + kSessionStitchingTokenLifetime;
    }
    return sessionStitchingToken_;
}

void APMIdentity::resetSessionStitchingToken()
{
    post([this] { resetSessionStitchingTokenOnWorkerQueue(); });
}

void APMIdentity::resetSessionStitchingTokenOnWorkerQueue()
{
    sessionStitchingToken_.clear();
    sessionStitchingTokenExpirationTime_.reset();
}

QString APMIdentity::diversionKey()
{
    return readOnQueue([this] {
        const QString stored = persistedConfig_.diversionKey();
        if (stored.size() == kDiversionKeyLength)
            return stored;
        const QString key = randomAppInstanceID().left(kDiversionKeyLength);
        persistedConfig_.setDiversionKey(key);
        return key;
    });
}

QString APMIdentity::ephemeralAppInstanceID()
{
    return readOnQueue([this] {
        if (ephemeralAppInstanceID_.isEmpty())
            ephemeralAppInstanceID_ = randomAppInstanceID();
        return ephemeralAppInstanceID_;
    });
}

void APMIdentity::resetEphemeralAppInstanceID()
{
    post([this] { resetEphemeralAppInstanceIDOnWorkerQueue(); });
}

void APMIdentity::resetEphemeralAppInstanceIDOnWorkerQueue()
{
    ephemeralAppInstanceID_.clear();
}

// ---- Plain properties --------------------------------------------------------

bool APMIdentity::isFromAppStore() const
{
    return APMAEU::isFAS();
}

QString APMIdentity::basaltInstallationID() const
{
    QMutexLocker lock(&installationIDMutex_);
    return basaltInstallationID_;
}

void APMIdentity::setBasaltInstallationID(const QString& installationID)
{
    QMutexLocker lock(&installationIDMutex_);
    basaltInstallationID_ = installationID;
}
