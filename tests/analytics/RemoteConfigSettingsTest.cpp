// Every remote setting against its key, default and range, written down
// here a second time from the settings table: one table, six cases per
// setting (missing, minimum, maximum, one below, one above, wrong kind).

#include "RemoteConfigTestSupport.h"
#include "ValidatorLogRecorder.h"
#include "analytics/config/APMRemoteConfig.h"

#include <QLocale>

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

using namespace rcfg;

namespace {

enum class Kind {
    Seconds, // stated in milliseconds, read in seconds
    Int32,
    Int64,
    Bool,
    Count, // a count read through the seconds conversion
};

struct Setting {
    const char* key;
    const char* getter;
    std::function<double(const APMRemoteConfig&)> read;
    Kind kind;
    double defaultValue;
    double minimum;
    double maximum;
};

#define GET(name) #name, [](const APMRemoteConfig& c) { return static_cast<double>(c.name()); }

constexpr Kind S = Kind::Seconds, I = Kind::Int32, L = Kind::Int64, B = Kind::Bool, C = Kind::Count;

const std::vector<Setting>& settings()
{
    static const std::vector<Setting> table = {
        { "measurement.upload.backoff_period", GET(uploadingBackoffInterval), S, 43200, 3600, 604800 },
        { "measurement.audience.max_count", GET(maxAudienceCount), I, 100, 0, 500 },
        { "measurement.audience.filter_max_count_per_audience", GET(maxFiltersPerAudience), I, 10, 0, 100 },
        { "measurement.audience.filter_result_max_count", GET(maxFilterResultCount), I, 200, 0, 2000 },
        { "measurement.audience.parameter_max_count_filter", GET(maxParametersPerFilter), I, 25, 0, 250 },
        { "measurement.upload.stale_data_deletion_interval", GET(databaseDeleteStaleBundlesInterval), S,
            86400, 3600, 604800 },
        { "measurement.upload.max_queue_time", GET(maxQueueTime), S, 2419200, 604800, 7862400 },
        { "measurement.ad_id_cache_time", GET(adIDCacheTime), S, 1, 0, 86400 },
        { "measurement.attmas_gate", GET(gateIDFAOnATTMASEnabled), B, 0, 0, 1 },
        { "measurement.monitoring.sample_period_millis", GET(monitoringSamplePeriod), S, 86400, 0, 604800 },
        { "measurement.network.background_session_enabled", GET(isNetworkBackgroundSessionEnabled), B, 0, 0,
            1 },
        { "measurement.network.network_timeout", GET(networkTimeout), S, 60, 30, 3600 },
        { "measurement.session.default_minimum_interval", GET(sessionDefaultMinimumInterval), S, 10, 0,
            86400 },
        { "measurement.session.default_timeout_interval", GET(sessionDefaultTimeoutInterval), S, 1800, 0,
            86400 },
        { "measurement.session.event_user_engagement_interval", GET(sessionEventUserEngagementInterval), S,
            3600, 0, 86400 },
        { "measurement.collection.efficient_engagement_reporting_enabled",
            GET(efficientEngagementReportingEnabled), B, 0, 0, 1 },
        { "measurement.collection.redundant_engagement_removal_enabled",
            GET(redundantEngagementRemovalEnabled), B, 0, 0, 1 },
        { "measurement.upload.max_conversions_per_day", GET(maxConversionsPerDay), I, 10000, 0, 1000000 },
        { "measurement.upload.max_events_per_day", GET(maxEventsPerDay), I, 100000, 0, 1000000 },
        { "measurement.upload.max_public_events_per_day", GET(maxPublicEventsPerDay), I, 50000, 0, 1000000 },
        { "measurement.upload.max_error_events_per_day", GET(maxErrorEventsPerDay), I, 1000, 0, 1000000 },
        { "measurement.lifetimevalue.max_currency_tracked", GET(maxTrackedCurrencies), I, 4, 1, 100 },
        { "measurement.upload.max_public_user_properties", GET(maxPublicUserProperties), I, 25, 25, 100 },
        { "measurement.upload.max_event_name_cardinality", GET(maxEventNameCardinality), I, 500, 500, 2000 },
        { "measurement.upload.max_public_event_params", GET(maxPublicEventParams), I, 25, 25, 100 },
        { "measurement.store.max_stored_events_per_app", GET(maxEventsStored), I, 100000, 0, 1000000 },
        { "measurement.upload.interval", GET(uploadingInterval), S, 3600, 15, 86400 },
        { "measurement.upload.initial_upload_delay_time", GET(uploadingInitialDelayInterval), S, 15, 1,
            86400 },
        { "measurement.upload.max_bundles", GET(uploadMaxBundlesLimit), L, 100, 1, 10000 },
        { "measurement.upload.max_events_per_bundle", GET(uploadMaxEventsPerBundle), L, 1000, 1, 1000000 },
        { "measurement.upload.max_batch_size", GET(uploadMaxSizeLimitBytes), L, 65536, 0, 10485760 },
        { "measurement.upload.retry_count", GET(uploadingRetryCount), I, 6, 1, 24 },
        { "measurement.upload.retry_time", GET(uploadingRetryInterval), S, 1800, 60, 86400 },
        { "measurement.upload.max_bundles_created_per_iteration", GET(maxBundlesCreatedPerIteration), C, 100,
            1, 10000 },
        { "measurement.upload.max_realtime_events_per_day", GET(maxRealtimeEventCountPerDay), I, 10, 0, 10 },
        { "measurement.upload.debug_upload_interval", GET(uploadingDebugModeInterval), S, 1, 1, 15 },
        { "measurement.upload.realtime_upload_interval", GET(uploadingRealTimeInterval), S, 10, 10, 15 },
        { "measurement.upload.blacklist_internal", GET(blocklistInternal), B, 0, 0, 1 },
        { "measurement.upload.blacklist_public", GET(blocklistPublic), B, 0, 0, 1 },
        { "measurement.event_sampling_enabled", GET(isEventSamplingEnabled), B, 0, 0, 1 },
        { "measurement.account.time_zone_offset_minutes", GET(analyticsAccountTimeZoneOffsetMinutes), I, 0,
            -900, 900 },
        { "measurement.quality.checksum", GET(checksumEnabled), B, 0, 0, 1 },
        { "measurement.lifecycle.app_backgrounded_tracking", GET(appBackgroundedEventEnabled), B, 0, 0, 1 },
        { "measurement.lifecycle.app_in_background_parameter", GET(appInBackgroundParameterEnabled), B, 1, 0,
            1 },
        { "measurement.item_scoped_custom_parameter_enabled", GET(itemScopedCustomParameterEnabled), B, 1, 0,
            1 },
        { "measurement.upload.max_item_scoped_custom_parameters", GET(maxItemScopedCustomParameters), I, 27,
            10, 35 },
        { "measurement.upload.max_event_parameter_value_length", GET(maxPublicEventParameterValueLength), I,
            100, 100, 500 },
        { "measurement.tcf_enabled", GET(tcfFeatureEnabled), B, 1, 0, 1 },
        { "measurement.dma.dcu_event_enabled", GET(dcuEventFeatureEnabled), B, 1, 0, 1 },
        { "measurement.dma.dcu_event_max_realtime_daily_count", GET(maxRealtimeDCUEventCountPerDay), I, 1, 0,
            10 },
        { "measurement.psm_enabled", GET(PSMFeatureEnabled), B, 1, 0, 1 },
        { "measurement.psm_start_count", GET(maxPSMStartCount), I, 3, 0, 10 },
        { "measurement.psm_retry_count", GET(maxPSMRetryCount), I, 5, 0, 10 },
        { "measurement.psm_retry_interval", GET(PSMRetryInterval), S, 300, 30, 1800 },
        { "measurement.psm_prefix_email", GET(hashPrefixBitLengthEmail), I, 14, 6, 20 },
        { "measurement.psm_prefix_phone", GET(hashPrefixBitLengthPhone), I, 11, 6, 18 },
        { "measurement.psm_signin_delay", GET(maxSignInDelayInDays), I, 60, 7, 90 },
        { "measurement.ddl.enabled", GET(isDeferredDeepLinkEnabled), B, 1, 0, 1 },
        { "measurement.ddl.retry_count", GET(maxDeferredDeepLinkRetryCount), I, 5, 0, 10 },
        { "measurement.attribution.cache.ttl", GET(attributionCacheTTLInterval), S, 604800, 86400, 2592000 },
        { "measurement.config.cache_time", GET(remoteConfigCacheTimeInterval), S, 3600, 60, 86400 },
        { "measurement.api.session_id", GET(isSessionIDEnabled), B, 1, 0, 1 },
        { "measurement.session_stitching_token_enabled", GET(sessionStitchingTokenFeatureEnabled), B, 0, 0,
            1 },
        { "measurement.skan.update_conversion_value_enabled", GET(SKANUpdateConversionValueEnabled), B, 0, 0,
            1 },
        { "measurement.skan.initial_cv_fetch_delay_sec", GET(SKANInitialCVFetchDelay), S, 120, 30, 3600 },
        { "measurement.skan.cv_fetch_retry_interval_sec", GET(SKANCVFetchRetryInterval), S, 120, 30, 3600 },
        { "measurement.skan.cv_fetch_retry_limit", GET(SKANCVFetchRetryLimit), I, 4, 1, 10 },
        { "measurement.skan.first_window.initial_cv_fetch_delay_sec", GET(SKANFirstWindowCVFetchDelay), S, 20,
            1, 3600 },
        { "measurement.skan.first_window.cv_fetch_retry_interval_sec",
            GET(SKANFirstWindowCVFetchRetryInterval), S, 120, 30, 3600 },
        { "measurement.skan.first_window.cv_fetch_retry_limit", GET(SKANFirstWindowCVFetchRetryLimit), I, 4,
            1, 10 },
        { "measurement.skan.first_window.upload_interval_sec", GET(SKANFirstWindowUploadInterval), S, 1800,
            15, 86400 },
        { "measurement.upload.dma_consent_enabled", GET(DMAConsentEnabled), B, 1, 0, 1 },
        { "measurement.regional_defaults_enabled", GET(regionalDefaultsEnabled), B, 1, 0, 1 },
    };
    return table;
}

#undef GET

enum class Case { Missing, Minimum, Maximum, OneBelow, OneAbove, WrongKind };

const char* caseName(Case c)
{
    switch (c) {
    case Case::Missing:
        return "missing";
    case Case::Minimum:
        return "minimum";
    case Case::Maximum:
        return "maximum";
    case Case::OneBelow:
        return "one below";
    case Case::OneAbove:
        return "one above";
    case Case::WrongKind:
        return "wrong kind";
    }
    return "?";
}

// The text configured for a setting in a case; nothing for "missing".
// Time settings (and the count read like them) are stated in milliseconds,
// so "one below" is one millisecond below.
std::optional<QString> configuredText(const Setting& s, Case c)
{
    const bool millis = s.kind == Kind::Seconds || s.kind == Kind::Count;
    const qint64 scale = millis ? 1000 : 1;
    const qint64 low = static_cast<qint64>(s.minimum) * scale;
    const qint64 high = static_cast<qint64>(s.maximum) * scale;
    switch (c) {
    case Case::Missing:
        return std::nullopt;
    case Case::Minimum:
        return QString::number(low);
    case Case::Maximum:
        return QString::number(high);
    case Case::OneBelow:
        return QString::number(low - 1);
    case Case::OneAbove:
        return QString::number(high + 1);
    case Case::WrongKind:
        return QStringLiteral("true");
    }
    return std::nullopt;
}

double expected(const Setting& s, Case c)
{
    switch (c) {
    case Case::Minimum:
        return s.minimum;
    case Case::Maximum:
        return s.maximum;
    default:
        return s.defaultValue;
    }
}

class SettingsTable : public ::testing::TestWithParam<Case> { };

TEST_P(SettingsTable, EveryGetterReadsItsKeyWithinItsRange)
{
    const Case c = GetParam();
    Harness h;
    ConfigBuilder builder;
    builder.version(7);
    for (const Setting& s : settings()) {
        if (const auto text = configuredText(s, c))
            builder.setting(QString::fromLatin1(s.key), *text);
    }
    if (c == Case::Missing)
        builder.setting(
            QStringLiteral("measurement.unrelated"), QStringLiteral("1")); // a config needs settings
    h.store(builder);
    const auto config = h.make();
    ASSERT_TRUE(config);
    ASSERT_EQ(config->version(), 7);

    for (const Setting& s : settings()) {
        const double want = expected(s, c);
        EXPECT_EQ(s.read(*config), want) << s.key << " (" << s.getter << "), " << caseName(c) << ": "
                                         << configuredText(s, c).value_or(QStringLiteral("-")).toStdString();
        // The second read answers from the cache, with the same result.
        EXPECT_EQ(s.read(*config), want) << s.key << " read again";
    }
}

INSTANTIATE_TEST_SUITE_P(AllSettings, SettingsTable,
    ::testing::Values(
        Case::Missing, Case::Minimum, Case::Maximum, Case::OneBelow, Case::OneAbove, Case::WrongKind),
    [](const ::testing::TestParamInfo<Case>& info) {
        std::string name = caseName(info.param);
        for (char& ch : name)
            ch = ch == ' ' ? '_' : ch;
        return name;
    });

TEST(RemoteConfigSettings, DefaultInstanceAnswersEveryDefault)
{
    ValidatorLogRecorder::useTestHome();
    const auto config = APMRemoteConfig::defaultInstance();
    ASSERT_TRUE(config);
    EXPECT_EQ(config, APMRemoteConfig::defaultInstance());
    EXPECT_TRUE(config->isDefaultInstance());
    EXPECT_EQ(config->version(), -1);
    for (const Setting& s : settings())
        EXPECT_EQ(s.read(*config), s.defaultValue) << s.key;
}

TEST(RemoteConfigSettings, WorkingInstanceWithoutStoredConfigurationAnswersDefaults)
{
    Harness h;
    const auto config = h.make();
    ASSERT_TRUE(config);
    EXPECT_TRUE(h.logged(7, 29017));
    for (const Setting& s : settings())
        EXPECT_EQ(s.read(*config), s.defaultValue) << s.key;
}

// How configured texts become values: fractions, signs, separators, digits of
// other scripts, values too large for any integer.
TEST(RemoteConfigSettings, ConfiguredTextsAreReadAsPlainDecimals)
{
    struct Row {
        const char* key;
        QString text;
        std::function<double(const APMRemoteConfig&)> read;
        double want;
    };
    const auto minInterval = [](const APMRemoteConfig& c) { return c.sessionDefaultMinimumInterval(); };
    const auto timeout = [](const APMRemoteConfig& c) { return c.networkTimeout(); };
    const auto bundles = [](const APMRemoteConfig& c) { return double(c.maxBundlesCreatedPerIteration()); };
    const auto itemParams
        = [](const APMRemoteConfig& c) { return double(c.maxItemScopedCustomParameters()); };
    const auto sampling = [](const APMRemoteConfig& c) { return double(c.isEventSamplingEnabled()); };
    const auto checksum = [](const APMRemoteConfig& c) { return double(c.checksumEnabled()); };
    const auto events = [](const APMRemoteConfig& c) { return double(c.maxEventsPerDay()); };
    const auto batch = [](const APMRemoteConfig& c) { return double(c.uploadMaxSizeLimitBytes()); };
    const auto sessionTimeout = [](const APMRemoteConfig& c) { return c.sessionDefaultTimeoutInterval(); };
    const auto zone
        = [](const APMRemoteConfig& c) { return double(c.analyticsAccountTimeZoneOffsetMinutes()); };

    const std::vector<Row> rows = {
        // Milliseconds lose their fraction before the division.
        { "measurement.session.default_minimum_interval", QStringLiteral("1500.9"), minInterval, 1.5 },
        { "measurement.network.network_timeout", QStringLiteral("+45000"), timeout, 45 },
        { "measurement.network.network_timeout", QStringLiteral(" 45000"), timeout, 60 },
        { "measurement.network.network_timeout", QStringLiteral("45,000"), timeout, 60 },
        { "measurement.network.network_timeout", QStringLiteral("4.5e4"), timeout, 60 },
        { "measurement.network.network_timeout", QString::fromUtf8("\u0664\u0665\u0660\u0660\u0660"), timeout,
            60 },
        { "measurement.network.network_timeout", QStringLiteral(""), timeout, 60 },
        // The count read like a time: 100 is 0.1 after division, below 1.
        { "measurement.upload.max_bundles_created_per_iteration", QStringLiteral("100"), bundles, 100 },
        { "measurement.upload.max_bundles_created_per_iteration", QStringLiteral("5000"), bundles, 5 },
        // An integer setting truncates a fraction that lies in range.
        { "measurement.upload.max_item_scoped_custom_parameters", QStringLiteral("27.9"), itemParams, 27 },
        { "measurement.upload.max_item_scoped_custom_parameters", QStringLiteral("35.5"), itemParams, 27 },
        { "measurement.event_sampling_enabled", QStringLiteral("1.0"), sampling, 1 },
        { "measurement.quality.checksum", QStringLiteral("0.5"), checksum, 0 },
        { "measurement.upload.max_events_per_day", QStringLiteral("99999999999999999999"), events, 100000 },
        { "measurement.upload.max_batch_size", QStringLiteral("-0"), batch, 0 },
        { "measurement.session.default_timeout_interval", QStringLiteral("99999999999999999999999"),
            sessionTimeout, 1800 },
        { "measurement.account.time_zone_offset_minutes", QStringLiteral("-901"), zone, 0 },
    };
    for (const Row& row : rows) {
        Harness h;
        ConfigBuilder builder;
        builder.setting(QString::fromLatin1(row.key), row.text);
        h.store(builder);
        const auto config = h.make();
        ASSERT_TRUE(config);
        EXPECT_EQ(row.read(*config), row.want) << row.key << " = \"" << row.text.toStdString() << "\"";
    }
}

// The user's locale plays no part: a German default locale neither breaks
// "1500.9" nor makes "1500,9" a number.
TEST(RemoteConfigSettings, ParsingIgnoresTheUsersLocale)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Harness h;
    ConfigBuilder builder;
    builder.setting(QStringLiteral("measurement.session.default_minimum_interval"), QStringLiteral("1500.9"));
    builder.setting(QStringLiteral("measurement.network.network_timeout"), QStringLiteral("45000,5"));
    h.store(builder);
    const auto config = h.make();
    ASSERT_TRUE(config);
    EXPECT_EQ(config->sessionDefaultMinimumInterval(), 1.5);
    EXPECT_EQ(config->networkTimeout(), 60);
    EXPECT_EQ(config->numberFromString(QStringLiteral("1.25")).toDouble(), 1.25);
    QLocale::setDefault(previous);
}

TEST(RemoteConfigSettings, NumberFromStringRefusesWhatIsNotText)
{
    Harness h;
    const auto config = h.make();
    ASSERT_TRUE(config);
    EXPECT_EQ(config->numberFromString(QStringLiteral("42")), QVariant(qint64(42)));
    EXPECT_EQ(config->numberFromString(QStringLiteral("-2.5")), QVariant(-2.5));
    EXPECT_FALSE(config->numberFromString(QStringLiteral("forty")).isValid());
    EXPECT_FALSE(config->numberFromString(QVariant(42)).isValid());
    EXPECT_TRUE(h.logged(2, 29018));
}

TEST(RemoteConfigSettings, LookupRulesForEmptyKeysAndEmptyValues)
{
    Harness h;
    const auto config = h.make();
    ASSERT_TRUE(config);
    EXPECT_FALSE(
        config->numberFromCacheWithKey(QString(), QVariant(qint64(1)), QVariant(), QVariant()).isValid());
    EXPECT_TRUE(h.logged(7, 29020));
    EXPECT_FALSE(config->cacheValue(QVariant(), QStringLiteral("measurement.upload.interval")).isValid());
    EXPECT_FALSE(config->cacheValue(QStringLiteral("1"), QString()).isValid());
    EXPECT_EQ(h.count(29019), 2);
    // The unbounded 64-bit lookup takes any whole number.
    config->cacheValue(QStringLiteral("-9000000000000"), QStringLiteral("custom.key"));
    EXPECT_EQ(config->int64ValueFromCacheWithKey(QStringLiteral("custom.key"), 5), -9000000000000);
}

// The first read replaces the text by its number: a number in the cache is
// answered as it is, without a range check, until the next configuration.
TEST(RemoteConfigSettings, ReadsAreCachedUntilTheNextConfiguration)
{
    Harness h;
    ConfigBuilder first;
    first.setting(QStringLiteral("measurement.upload.interval"), QStringLiteral("20000"));
    h.store(first);
    const auto config = h.make();
    ASSERT_TRUE(config);
    EXPECT_EQ(config->uploadingInterval(), 20);

    config->cacheValue(QVariant(5.0), QStringLiteral("measurement.upload.interval"));
    EXPECT_EQ(config->uploadingInterval(), 5); // a number is taken as validated
    config->cacheValue(QStringLiteral("14999"), QStringLiteral("measurement.upload.interval"));
    EXPECT_EQ(config->uploadingInterval(), 3600); // a text is validated again

    ConfigBuilder second;
    second.setting(QStringLiteral("measurement.upload.interval"), QStringLiteral("30000"));
    EXPECT_TRUE(config->updateMeasurementConfig(second.build()));
    EXPECT_EQ(config->uploadingInterval(), 30);
}

TEST(RemoteConfigSettings, InternalValueLengthFollowsAPublicLimitAbove256)
{
    struct Row {
        QString configured;
        qint32 publicLength;
        qint32 internalLength;
    };
    for (const Row& row : { Row { QStringLiteral("300"), 300, 300 }, Row { QStringLiteral("200"), 200, 256 },
             Row { QString(), 100, 256 } }) {
        Harness h;
        ConfigBuilder builder;
        builder.setting(
            QStringLiteral("measurement.upload.max_event_parameter_value_length"), row.configured);
        builder.setting(QStringLiteral("measurement.upload.max_public_event_params"), QStringLiteral("40"));
        builder.setting(
            QStringLiteral("measurement.item_scoped_custom_parameter_enabled"), QStringLiteral("0"));
        builder.setting(
            QStringLiteral("measurement.upload.max_item_scoped_custom_parameters"), QStringLiteral("12"));
        h.store(builder);
        const auto config = h.make();
        ASSERT_TRUE(config);
        EXPECT_TRUE(config->maxPublicEventParamValueLimitFeatureEnabled());
        EXPECT_EQ(config->maxPublicEventParameterValueLength(), row.publicLength);
        EXPECT_EQ(config->maxInternalEventParameterValueLength(), row.internalLength);

        const EventParameterLimits limits = config->eventParameterLimits();
        EXPECT_EQ(limits.maxPublicEventParameterValueLength, row.publicLength);
        EXPECT_EQ(limits.maxInternalEventParameterValueLength(), row.internalLength);
        EXPECT_EQ(limits.maxPublicEventParams, 40);
        EXPECT_FALSE(limits.itemScopedCustomParameterEnabled);
        EXPECT_EQ(limits.maxItemScopedCustomParameters, 12);
    }
}

// The PSM message's values replace the settings' texts and are used as
// delivered, even outside the getters' ranges; absent fields leave the texts.
TEST(RemoteConfigSettings, PSMMessageValuesAreTakenAsDelivered)
{
    Harness h;
    ConfigBuilder builder;
    builder.setting(QStringLiteral("measurement.psm_prefix_email"), QStringLiteral("8"));
    builder.setting(QStringLiteral("measurement.psm_prefix_phone"), QStringLiteral("9"));
    builder.setting(QStringLiteral("measurement.psm_signin_delay"), QStringLiteral("30"));
    builder.psm(30, std::nullopt, 5);
    h.store(builder);
    const auto config = h.make();
    ASSERT_TRUE(config);
    EXPECT_EQ(config->hashPrefixBitLengthEmail(), 30);
    EXPECT_EQ(config->hashPrefixBitLengthPhone(), 9);
    EXPECT_EQ(config->maxSignInDelayInDays(), 5);
}

TEST(RemoteConfigSettings, PSMStartCountIsTenInDebugMode)
{
    Harness h;
    ConfigBuilder builder;
    builder.setting(QStringLiteral("measurement.psm_start_count"), QStringLiteral("2"));
    h.store(builder);
    const auto config = h.make();
    ASSERT_TRUE(config);
    EXPECT_EQ(config->maxPSMStartCount(), 2);
    h.debugMode = true;
    EXPECT_EQ(config->maxPSMStartCount(), 10);
}

} // namespace
