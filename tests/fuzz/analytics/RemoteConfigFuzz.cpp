// The measurement configuration from its wire bytes, as the collection
// servers deliver it, through adoption and every question the library asks
// of it.
//
// Input: the configuration message.

#include "FuzzTarget.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/config/APMRemoteConfigDatabase.h"
#include "analytics/rules/APMPEventEditingProvider.h"
#include "analytics/wire/APMPBEventConfig.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementConfig.h"
#include "analytics/wire/APMPBSetting.h"
#include "platform/Clock.h"

namespace {

// Field numbers of the configuration messages, as the schema gives them.
constexpr int32_t kAppIDSlot = 1, kSettingsSlot = 3, kEventConfigSlot = 4;
constexpr int32_t kSettingNameSlot = 0, kEventNameSlot = 0;

class FixedClock final : public platform::Clock {
public:
    double now() const override { return 1'700'000'000.0; }
    double monotonic() const override { return 1000.0; }
};

// Keeps the adopted configuration as bytes, as the measurement database does.
class MemoryDatabase final : public APMRemoteConfigDatabase {
public:
    bool updateRemoteConfig(const APMPBMeasurementConfig& config, APMError*) override
    {
        const std::optional<QByteArray> encoded = config.protoBuffer();
        if (!encoded)
            return false;
        bytes_ = *encoded;
        return true;
    }
    std::unique_ptr<APMPBMeasurementConfig> queryMeasurementConfigWithError(APMError*) override
    {
        return bytes_.isEmpty() ? nullptr : APMPBMeasurementConfig::initWithBuffer(bytes_);
    }
    std::optional<double> lastRemoteConfigUpdateTimestamp(APMError*) override { return 1'700'000'000.0; }
    bool holdsConfiguration() const { return !bytes_.isEmpty(); }

private:
    QByteArray bytes_;
};

void askEverything(const APMRemoteConfig& config)
{
    (void)config.version();
    (void)config.uploadSubdomain();
    (void)config.uploadURL();
    (void)config.remoteConfigURLWithPlatform(QStringLiteral("linux"), 110000, 1);
    (void)config.lastRemoteConfigUpdateTimestamp();
    (void)config.isExpired();
    (void)config.dataControls();
    (void)config.experimentIDs();
    (void)config.eventEditing();
    (void)config.consentDefaults();
    (void)config.consentDelegations();
    (void)config.regionalDefaults();
    (void)config.corePlatformServices();
    (void)config.isDMARegion();
    (void)config.uploadingBackoffInterval();
    (void)config.maxAudienceCount();
    (void)config.maxFiltersPerAudience();
    (void)config.maxFilterResultCount();
    (void)config.maxParametersPerFilter();
    (void)config.databaseDeleteStaleBundlesInterval();
    (void)config.maxQueueTime();
    (void)config.adIDCacheTime();
    (void)config.gateIDFAOnATTMASEnabled();
    (void)config.monitoringSamplePeriod();
    (void)config.isNetworkBackgroundSessionEnabled();
    (void)config.networkTimeout();
    (void)config.sessionDefaultMinimumInterval();
    (void)config.sessionDefaultTimeoutInterval();
    (void)config.sessionEventUserEngagementInterval();
    (void)config.efficientEngagementReportingEnabled();
    (void)config.redundantEngagementRemovalEnabled();
    (void)config.maxConversionsPerDay();
    (void)config.maxEventsPerDay();
    (void)config.maxPublicEventsPerDay();
    (void)config.maxErrorEventsPerDay();
    (void)config.maxTrackedCurrencies();
    (void)config.maxPublicUserProperties();
    (void)config.maxEventNameCardinality();
    (void)config.maxPublicEventParams();
    (void)config.maxEventsStored();
    (void)config.uploadingInterval();
    (void)config.uploadingInitialDelayInterval();
    (void)config.uploadMaxBundlesLimit();
    (void)config.uploadMaxEventsPerBundle();
    (void)config.uploadMaxSizeLimitBytes();
    (void)config.uploadingRetryCount();
    (void)config.uploadingRetryInterval();
    (void)config.maxBundlesCreatedPerIteration();
    (void)config.maxRealtimeEventCountPerDay();
    (void)config.uploadingDebugModeInterval();
    (void)config.uploadingRealTimeInterval();
    (void)config.blocklistInternal();
    (void)config.blocklistPublic();
    (void)config.isEventSamplingEnabled();
    (void)config.analyticsAccountTimeZoneOffsetMinutes();
    (void)config.checksumEnabled();
    (void)config.appBackgroundedEventEnabled();
    (void)config.appInBackgroundParameterEnabled();
    (void)config.itemScopedCustomParameterEnabled();
    (void)config.maxItemScopedCustomParameters();
    (void)config.maxPublicEventParameterValueLength();
    (void)config.tcfFeatureEnabled();
    (void)config.dcuEventFeatureEnabled();
    (void)config.maxRealtimeDCUEventCountPerDay();
    (void)config.PSMFeatureEnabled();
    (void)config.maxPSMStartCount();
    (void)config.maxPSMRetryCount();
    (void)config.PSMRetryInterval();
    (void)config.hashPrefixBitLengthEmail();
    (void)config.hashPrefixBitLengthPhone();
    (void)config.maxSignInDelayInDays();
    (void)config.isDeferredDeepLinkEnabled();
    (void)config.maxDeferredDeepLinkRetryCount();
    (void)config.attributionCacheTTLInterval();
    (void)config.remoteConfigCacheTimeInterval();
    (void)config.isSessionIDEnabled();
    (void)config.sessionStitchingTokenFeatureEnabled();
    (void)config.SKANUpdateConversionValueEnabled();
    (void)config.SKANInitialCVFetchDelay();
    (void)config.SKANCVFetchRetryInterval();
    (void)config.SKANCVFetchRetryLimit();
    (void)config.SKANFirstWindowCVFetchDelay();
    (void)config.SKANFirstWindowCVFetchRetryInterval();
    (void)config.SKANFirstWindowCVFetchRetryLimit();
    (void)config.SKANFirstWindowUploadInterval();
    (void)config.DMAConsentEnabled();
    (void)config.regionalDefaultsEnabled();
    if (config.maxInternalEventParameterValueLength() < 256)
        fuzz::fail("internal parameter values limited below 256");
    (void)config.eventParameterLimits();
}

} // namespace

PRAVIK_FUZZ_TARGET(remote_config)
{
    std::shared_ptr<const APMPBMeasurementConfig> message = APMPBMeasurementConfig::initWithBuffer(input);
    if (!message)
        return;
    // The configuration is for whichever app it names, so that it is adopted.
    const QString appID = APMPBGetStringField(message.get(), kAppIDSlot);
    static FixedClock clock;
    APMRemoteConfig::Environment environment = APMRemoteConfig::defaultEnvironment();
    environment.log = [](qint64, qint64, const QString&, const QVariantList&) {};
    environment.checkOnBackgroundThread = [](const QString&) {};
    environment.clock = &clock;
    environment.eventEditingProvider = std::make_shared<APMPEventEditingProvider>();
    const auto database = std::make_shared<MemoryDatabase>();
    const std::shared_ptr<APMRemoteConfig> config
        = APMRemoteConfig::initWithAppID(appID, database, message, nullptr, std::move(environment));
    if (!config)
        return;
    askEverything(*config);

    // Settings by the names the configuration gives, read as every kind a
    // caller may read them as; the first read decides what the cache keeps.
    for (const auto& setting : APMPBGetArrayField<APMPBSetting>(message.get(), kSettingsSlot)) {
        const QString key = APMPBGetStringField(setting.get(), kSettingNameSlot);
        (void)config->int64ValueFromCacheWithKey(key, 7);
        (void)config->intValueFromCacheWithKey(key, 7, 100, -100);
        (void)config->timeIntervalInSecondsFromCacheWithKey(key, 7, 1e9, 0);
        (void)config->boolValueFromCacheWithKey(key, true);
        (void)config->numberFromCacheWithKey(key, QVariant(qint64(7)), QVariant(1e18), QVariant(-1e18));
    }
    for (const auto& event : APMPBGetArrayField<APMPBEventConfig>(message.get(), kEventConfigSlot)) {
        const QString name = APMPBGetStringField(event.get(), kEventNameSlot);
        (void)config->eventConfigWithName(name);
        (void)config->isEventBlocklisted(name);
        (void)config->isEventCustomConversion(name);
        (void)config->eventHasSamplingRate(name);
        const qint32 rate = config->samplingRateForEvent(name);
        if (rate < 1 || rate > 65535)
            fuzz::fail("sampling rate %d", rate);
    }
    // The stored copy must read back: a restart starts from it.
    if (database->holdsConfiguration() && !config->measurementConfigFromDatabase())
        fuzz::fail("the stored configuration does not read back from the database");
    config->reset();
    askEverything(*config);
}
