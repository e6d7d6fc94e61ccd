#include "analytics/config/APMRemoteConfig.h"

#include "analytics/config/APMExperimentSource.h"

#include "analytics/base/APMError.h"
#include "analytics/model/APMEventNames.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/config/APMRemoteConfigDatabase.h"
#include "analytics/config/APMRemoteConfigPrivate.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/wire/APMPBEventConfig.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementConfig.h"
#include "analytics/wire/APMPBSetting.h"
#include "platform/Clock.h"

#include <QCoreApplication>
#include <QHash>

#include <cmath>
#include <limits>
#include <utility>

const QString APMRemoteConfig::kSDKName = QStringLiteral("app_metrics");
const QString APMRemoteConfig::kDCUEventFeatureFlag = QStringLiteral("dcu_event_feature_enabled");
const QString APMRemoteConfig::kRegionalDefaultsFlag = QStringLiteral("regional_defaults_enabled");
const QString APMRemoteConfig::kSessionStitchingTokenFeatureFlag
    = QStringLiteral("session_stitching_token_feature_enabled");
const QString APMRemoteConfig::kSKANUpdateConversionValueFeatureFlag
    = QStringLiteral("skan_update_conversion_value_feature_enabled");
const QString APMRemoteConfig::kModuleRemoteConfig = QStringLiteral("internal.remoteConfig");
const QString APMRemoteConfig::kModuleAppMetadata = QStringLiteral("internal.appMetadata");
const QString APMRemoteConfig::kModuleLogger = QStringLiteral("internal.logger");

using namespace APMRemoteConfigPrivate;

namespace {

constexpr qint64 kTrackingAuthorized = 3;
constexpr qint32 kMinSamplingRate = 2;
constexpr qint32 kMaxSamplingRate = 65535;

const QString kRuntimeVersionKey = QStringLiteral("runtime_version");
const QString kConfigPathFormat = QStringLiteral("/config/app/%1?");
const QString kUploadPath = QStringLiteral("/a");

// The parser adopts only a configuration that carries settings; nothing of
// one without them (its upload subdomain included) may become current.
bool carriesSettings(const APMPBMeasurementConfig& config)
{
    return !APMPBGetArrayField<APMPBSetting>(&config, kConfigSettings).empty();
}

// A configured upload subdomain is used only when it is a plain host-name
// prefix: one or more labels of letters, digits and inner hyphens. Anything
// else ("evil.example/", "x@y") would move uploads to another host.
bool isValidSubdomain(const QString& subdomain)
{
    if (subdomain.size() > 200)
        return false;
    for (const QString& label : subdomain.split(QLatin1Char('.'))) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(QLatin1Char('-'))
            || label.endsWith(QLatin1Char('-')))
            return false;
        for (const QChar c : label) {
            const bool ok = (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
                || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
                || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-');
            if (!ok)
                return false;
        }
    }
    return true;
}

// Everything but the unreserved characters (letters, digits, "-._~") is
// percent-encoded, so no value can add, split or end a pair or a path.
QByteArray percentEncoded(const QString& text)
{
    return QUrl::toPercentEncoding(text);
}

} // namespace

// ---- Creation and life cycle ----------------------------------------------

APMRemoteConfig::Environment APMRemoteConfig::defaultEnvironment()
{
    Environment environment;
    environment.log = [](qint64 level, qint64 code, const QString& message, const QVariantList& contexts) {
        APMLibrary::monitor().logWithLevelContexts(level, code, message, contexts);
    };
    environment.isDebugModeEnabled = [] { return APMLibrary::monitor().isDebugModeEnabled(); };
    environment.checkOnBackgroundThread
        = [](const QString& methodName) { APMScheduler::checkOnBackgroundThreadWithMethodName(methodName); };
    environment.clock = &platform::Clock::system();
    // Until the engine runs there is no origin, no tracking authorisation on
    // this platform, no enabled engine and no known app version.
    environment.identifiersOrigin = [] { return QString(); };
    environment.appDataConsentStatus = [] { return std::numeric_limits<qint64>::max(); };
    environment.isMeasurementEnabled = [] { return false; };
    environment.appVersion = [] { return QString(); };
    environment.bundleIdentifier = [] { return QCoreApplication::applicationName(); };
    environment.configEndpoint = QStringLiteral("https://config.measurement.vireo.example");
    environment.collectionHost = QStringLiteral("collect.measurement.vireo.example");
    environment.authorizedCollectionHost = QStringLiteral("collect-authorized.measurement.vireo.example");
    return environment;
}

std::shared_ptr<APMRemoteConfig> APMRemoteConfig::defaultInstance()
{
    static const std::shared_ptr<APMRemoteConfig> instance
        = initWithAppID(QString(), nullptr, nullptr, nullptr, defaultEnvironment());
    return instance;
}

namespace {

QMutex& engineInstanceMutex()
{
    static QMutex mutex;
    return mutex;
}

std::shared_ptr<APMRemoteConfig>& engineInstanceSlot()
{
    static std::shared_ptr<APMRemoteConfig> instance;
    return instance;
}

} // namespace

std::shared_ptr<APMRemoteConfig> APMRemoteConfig::engineInstance()
{
    {
        QMutexLocker locker(&engineInstanceMutex());
        if (engineInstanceSlot())
            return engineInstanceSlot();
    }
    return defaultInstance();
}

void APMRemoteConfig::setEngineInstance(std::shared_ptr<APMRemoteConfig> remoteConfig)
{
    QMutexLocker locker(&engineInstanceMutex());
    engineInstanceSlot() = std::move(remoteConfig);
}

std::shared_ptr<APMRemoteConfig> APMRemoteConfig::initWithAppID(const QString& appID,
    const std::shared_ptr<APMRemoteConfigDatabase>& database,
    const std::shared_ptr<APMExperimentSource>& experimentManager, Environment environment)
{
    if (appID.isEmpty() || !database) {
        if (environment.log) {
            if (appID.isEmpty()) {
                environment.log(APMMonitor::kLevelErrorMonitored, 29000,
                    QStringLiteral("Cannot init remote configuration without valid Vireo App ID"), {});
            } else {
                environment.log(APMMonitor::kLevelErrorMonitored, 29001,
                    QStringLiteral("Cannot init remote configuration without valid database"), {});
            }
        }
        return nullptr;
    }
    return initWithAppID(appID, database, nullptr, experimentManager, std::move(environment));
}

std::shared_ptr<APMRemoteConfig> APMRemoteConfig::initWithAppID(const QString& appID,
    const std::shared_ptr<APMRemoteConfigDatabase>& database,
    std::shared_ptr<const APMPBMeasurementConfig> measurementConfig,
    const std::shared_ptr<APMExperimentSource>& experimentManager, Environment environment)
{
    auto config = std::make_shared<APMRemoteConfig>(
        Token {}, appID, database, experimentManager, std::move(environment));
    config->start(std::move(measurementConfig));
    return config;
}

APMRemoteConfig::APMRemoteConfig(Token, QString appID,
    const std::shared_ptr<APMRemoteConfigDatabase>& database, std::shared_ptr<APMExperimentSource> experimentManager,
    Environment environment)
    : isDefaultInstance_(!database && appID.isEmpty())
    , appID_(std::move(appID))
    , database_(database)
    , experimentManager_(std::move(experimentManager))
    , environment_(std::move(environment))
    , caches_(std::make_shared<Caches>())
{
}

APMRemoteConfig::~APMRemoteConfig() = default;

void APMRemoteConfig::start(std::shared_ptr<const APMPBMeasurementConfig> measurementConfig)
{
    if (experimentManager_) {
        experimentClient_ = experimentManager_->registerSDK(
            kSDKName, APMLibrary::kAppMetricsLibraryVersion, weak_from_this(), {});
        if (experimentClient_)
            experimentClient_->setDelegate(weak_from_this());
    }
    if (experimentClient_) {
        APMError error;
        if (!experimentClient_->activateLatestSnapshot(&error) && error.isSet()) {
            log(APMMonitor::kLevelErrorSilent, 29023, QStringLiteral("Cannot activate stale snapshot. Error"),
                { errorContext(error) });
        }
        updateCachedExperimentFlags();
    }
    if (isDefaultInstance_)
        return;
    if (measurementConfig) {
        updateMeasurementConfig(std::move(measurementConfig));
        return;
    }
    if (auto stored = measurementConfigFromDatabase(); stored && carriesSettings(*stored)) {
        {
            QMutexLocker lock(&mutex_);
            remoteConfigProto_ = stored;
        }
        parseRemoteConfigFromMeasurementConfig(*stored);
    }
}

void APMRemoteConfig::log(
    qint64 level, qint64 code, const QString& message, const QVariantList& contexts) const
{
    if (environment_.log)
        environment_.log(level, code, message, contexts);
}

std::shared_ptr<APMRemoteConfig::Caches> APMRemoteConfig::currentCaches() const
{
    QMutexLocker lock(&mutex_);
    return caches_;
}

std::shared_ptr<const APMPBMeasurementConfig> APMRemoteConfig::remoteConfigProto() const
{
    QMutexLocker lock(&mutex_);
    return remoteConfigProto_;
}

bool APMRemoteConfig::updateMeasurementConfig(std::shared_ptr<const APMPBMeasurementConfig> measurementConfig)
{
    if (environment_.checkOnBackgroundThread)
        environment_.checkOnBackgroundThread(QStringLiteral("updateMeasurementConfig:"));
    if (isDefaultInstance_) {
        log(APMMonitor::kLevelErrorSilent, 29002,
            QStringLiteral("Cannot update the default measurement configuration"));
        return false;
    }
    if (!measurementConfig) {
        log(APMMonitor::kLevelWarningSilent, 29003,
            QStringLiteral("Cannot set empty measurement config to database"));
        return false;
    }
    const QString origin = environment_.identifiersOrigin ? environment_.identifiersOrigin() : QString();
    if (origin == APMEventNames::kAdOrigin
        && APMPBGetStringField(measurementConfig.get(), kConfigAdNestAppID) != appID_) {
        log(APMMonitor::kLevelErrorSilent, 29022,
            QStringLiteral("Cannot set measurement config when AdNest App ID does not match"));
        return false;
    }
    if (APMPBGetStringField(measurementConfig.get(), kConfigAppID) != appID_) {
        log(APMMonitor::kLevelErrorSilent, 29004,
            QStringLiteral("Cannot set measurement config when Vireo App ID does not match"));
        return false;
    }
    // A configuration the parser would refuse must not become current either:
    // its upload subdomain would then apply beside the old one's settings.
    if (!carriesSettings(*measurementConfig)) {
        log(APMMonitor::kLevelErrorSilent, 29012,
            QStringLiteral("Cannot parse empty measurement config. Using default values"));
        return false;
    }
    // A write that fails is a failure whether or not the store explains why.
    const std::shared_ptr<APMRemoteConfigDatabase> database = database_.lock();
    APMError error;
    if (!database || !database->updateRemoteConfig(*measurementConfig, &error)) {
        log(APMMonitor::kLevelErrorMonitored, 29005, QStringLiteral("Cannot store config into the database"),
            { errorContext(error) });
        return false;
    }
    {
        QMutexLocker lock(&mutex_);
        remoteConfigProto_ = measurementConfig;
    }
    parseRemoteConfigFromMeasurementConfig(*measurementConfig);
    return true;
}

std::shared_ptr<const APMPBMeasurementConfig> APMRemoteConfig::measurementConfigFromDatabase()
{
    if (environment_.checkOnBackgroundThread)
        environment_.checkOnBackgroundThread(QStringLiteral("measurementConfigFromDatabase"));
    if (isDefaultInstance_) {
        log(APMMonitor::kLevelErrorSilent, 29015,
            QStringLiteral(
                "Cannot retrieve a measurement configuration from the database for the default instance"));
        return nullptr;
    }
    APMError error;
    std::shared_ptr<const APMPBMeasurementConfig> stored;
    if (const std::shared_ptr<APMRemoteConfigDatabase> database = database_.lock())
        stored = database->queryMeasurementConfigWithError(&error);
    if (stored)
        return stored;
    if (error.isSet()) {
        log(APMMonitor::kLevelErrorSilent, 29016,
            QStringLiteral("Cannot retrieve configuration data from database. Error"),
            { errorContext(error) });
    } else {
        log(APMMonitor::kLevelDebug, 29017,
            QStringLiteral(
                "Configuration was not found in database. The configuration will be fetched from the "
                "network when necessary"));
    }
    return nullptr;
}

std::shared_ptr<APMRemoteConfig::Table> APMRemoteConfig::currentSettings() const
{
    // Shares the ownership of its configuration's caches, as the table is
    // part of them.
    std::shared_ptr<Caches> caches = currentCaches();
    Table* table = &caches->settings;
    return std::shared_ptr<Table>(std::move(caches), table);
}

void APMRemoteConfig::reset()
{
    {
        QMutexLocker lock(&mutex_);
        auto empty = std::make_shared<Caches>();
        // The program stays; with the settings gone its lookups find nothing.
        empty->eventEditing = caches_->eventEditing;
        caches_ = std::move(empty);
        cachedExperimentFlags_.clear();
        if (!isDefaultInstance_)
            remoteConfigProto_.reset();
    }
    if (experimentManager_)
        experimentManager_->reset();
}

// ---- Event rules ------------------------------------------------------------

std::shared_ptr<const APMPBEventConfig> APMRemoteConfig::eventConfigWithName(const QString& name) const
{
    if (name.isEmpty()) {
        log(APMMonitor::kLevelWarningSilent, 29006,
            QStringLiteral("Cannot find event config with empty event name"));
        return nullptr;
    }
    return currentCaches()->eventConfigs.value(name);
}

bool APMRemoteConfig::isEventBlocklisted(const QString& name) const
{
    const auto config = eventConfigWithName(name);
    if (config && APMPBHasField(config.get(), kEventConfigBlocklisted)
        && APMPBGetBoolField(config.get(), kEventConfigBlocklisted))
        return true;
    return APMIsPublicName(name) ? blocklistPublic() : blocklistInternal();
}

bool APMRemoteConfig::isEventCustomConversion(const QString& name) const
{
    const auto config = eventConfigWithName(name);
    return config && APMPBHasField(config.get(), kEventConfigCustomConversion)
        && APMPBGetBoolField(config.get(), kEventConfigCustomConversion);
}

bool APMRemoteConfig::eventHasSamplingRate(const QString& name) const
{
    const auto config = eventConfigWithName(name);
    return config && APMPBHasField(config.get(), kEventConfigSamplingRate);
}

qint32 APMRemoteConfig::samplingRateForEvent(const QString& name) const
{
    const auto config = eventConfigWithName(name);
    if (!config || !APMPBHasField(config.get(), kEventConfigSamplingRate))
        return 1;
    const qint32 rate = APMPBGetInt32Field(config.get(), kEventConfigSamplingRate);
    return rate >= kMinSamplingRate && rate <= kMaxSamplingRate ? rate : 1;
}

// ---- Configuration facts ----------------------------------------------------

qint64 APMRemoteConfig::version() const
{
    const auto config = remoteConfigProto();
    if (!config || !APMPBHasField(config.get(), kConfigVersion))
        return -1;
    return APMPBGetInt64Field(config.get(), kConfigVersion);
}

QString APMRemoteConfig::uploadSubdomain() const
{
    const auto config = remoteConfigProto();
    return config ? APMPBGetStringField(config.get(), kConfigUploadSubdomain) : QString();
}

QUrl APMRemoteConfig::uploadURL() const
{
    const bool authorized
        = environment_.appDataConsentStatus && environment_.appDataConsentStatus() == kTrackingAuthorized;
    QString host = authorized ? environment_.authorizedCollectionHost : environment_.collectionHost;
    const QString subdomain = uploadSubdomain();
    if (!subdomain.isEmpty() && isValidSubdomain(subdomain))
        host = subdomain + QLatin1Char('.') + host;
    return QUrl(QStringLiteral("https://") + host + kUploadPath);
}

std::optional<QUrl> APMRemoteConfig::remoteConfigURLWithPlatform(
    const QString& platform, qint64 sdkVersion, qint64 runtimeVersion) const
{
    if (platform.isNull()) {
        log(APMMonitor::kLevelErrorSilent, 29010,
            QStringLiteral("Cannot create a URL to fetch a configuration with empty platform"));
        return std::nullopt;
    }
    // Keys in a fixed (alphabetical) order.
    const QList<std::pair<QString, QString>> query = {
        { kPlatformKey, platform },
        { kRuntimeVersionKey, QString::number(runtimeVersion) },
        { kVMPVersionKey, QString::number(sdkVersion) },
    };
    QByteArray address = environment_.configEndpoint.toUtf8();
    address += kConfigPathFormat.arg(QString::fromLatin1(percentEncoded(appID_))).toLatin1();
    for (qsizetype i = 0; i < query.size(); ++i) {
        if (i > 0)
            address += '&';
        address += percentEncoded(query[i].first) + '=' + percentEncoded(query[i].second);
    }
    return QUrl::fromEncoded(address, QUrl::StrictMode);
}

double APMRemoteConfig::lastRemoteConfigUpdateTimestamp() const
{
    if (isDefaultInstance_) {
        log(APMMonitor::kLevelErrorSilent, 29008,
            QStringLiteral("Cannot fetch the last configuration update timestamp from the default instance"));
        return 0;
    }
    const std::shared_ptr<APMRemoteConfigDatabase> database = database_.lock();
    if (!database)
        return 0;
    APMError error;
    const std::optional<double> timestamp = database->lastRemoteConfigUpdateTimestamp(&error);
    if (!timestamp) {
        if (error.isSet()) {
            log(APMMonitor::kLevelWarningMonitored, 29009,
                QStringLiteral("Failed to query last configuration update timestamp. Error"),
                { errorContext(error) });
        }
        return 0;
    }
    return *timestamp;
}

bool APMRemoteConfig::isExpired() const
{
    if (isDefaultInstance_) {
        log(APMMonitor::kLevelErrorSilent, 29007,
            QStringLiteral("Cannot fetch the last update timestamp from the default configuration"));
        return false;
    }
    const double now = environment_.clock ? environment_.clock->now() : platform::Clock::system().now();
    return std::abs(now - lastRemoteConfigUpdateTimestamp()) >= remoteConfigCacheTimeInterval();
}

QStringList APMRemoteConfig::dataControls() const
{
    return currentCaches()->dataControls;
}

QList<qint64> APMRemoteConfig::experimentIDs() const
{
    return experimentManager_ ? experimentManager_->experimentIDs() : QList<qint64>();
}

std::shared_ptr<APMPEventEditing> APMRemoteConfig::eventEditing() const
{
    return currentCaches()->eventEditing;
}

QVariantMap APMRemoteConfig::consentDefaults() const
{
    return currentCaches()->consentDefaults;
}

QVariantMap APMRemoteConfig::consentDelegations() const
{
    return currentCaches()->consentDelegations;
}

QVariantMap APMRemoteConfig::regionalDefaults() const
{
    return currentCaches()->regionalDefaults;
}

QSet<QString> APMRemoteConfig::corePlatformServices() const
{
    return currentCaches()->corePlatformServices;
}

bool APMRemoteConfig::isDMARegion() const
{
    return currentCaches()->isDMARegion;
}
