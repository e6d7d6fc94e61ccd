#include "analytics/base/APMDecimalNumber.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/config/APMRemoteConfigPrivate.h"

#include <QLocale>

#include <cmath>
#include <limits>

// The lookup of single settings, and one getter per setting with its key,
// default and range (bounds inclusive; time settings in seconds).

namespace {

constexpr qint32 kDebugPSMStartCount = 10;
constexpr qint32 kMinInternalEventParameterValueLength = 256;

bool isInteger(const QVariant& value)
{
    return value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Int;
}

bool isNumber(const QVariant& value)
{
    return isInteger(value) || value.typeId() == QMetaType::Double;
}

qint64 toInt64(const QVariant& number)
{
    if (isInteger(number))
        return number.toLongLong();
    const double value = number.toDouble();
    if (std::isnan(value))
        return 0;
    // 2^63 is exactly representable; anything at or beyond it saturates.
    if (value >= 9223372036854775808.0)
        return std::numeric_limits<qint64>::max();
    if (value < -9223372036854775808.0)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(value);
}

qint32 toInt32(const QVariant& number)
{
    if (!number.isValid())
        return 0;
    const qint64 value = toInt64(number);
    if (value > std::numeric_limits<qint32>::max())
        return std::numeric_limits<qint32>::max();
    if (value < std::numeric_limits<qint32>::min())
        return std::numeric_limits<qint32>::min();
    return static_cast<qint32>(value);
}

// -1, 0 or 1. Long double holds every 64-bit integer exactly on the
// platforms we build for, and is still the closer comparison elsewhere.
int compareNumbers(const QVariant& a, const QVariant& b)
{
    if (isInteger(a) && isInteger(b)) {
        const qint64 x = a.toLongLong(), y = b.toLongLong();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    const auto asLong = [](const QVariant& v) {
        return isInteger(v) ? static_cast<long double>(v.toLongLong())
                            : static_cast<long double>(v.toDouble());
    };
    const long double x = asLong(a), y = asLong(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

// Plain decimal text, whatever the user's locale: an integer when the value
// is whole and fits 64 bits, else a double.
QVariant parseDecimal(const QString& text)
{
    const std::optional<APMDecimalNumber> decimal = APMDecimalNumber::fromString(text);
    if (!decimal)
        return QVariant();
    const QString canonical = decimal->stringValue();
    if (!canonical.contains(QLatin1Char('.'))) {
        bool ok = false;
        const qint64 value = canonical.toLongLong(&ok);
        if (ok)
            return QVariant(value);
    }
    return QVariant(decimal->doubleValue());
}

// How a program sees a setting that has already been read as a number.
QString numberText(const QVariant& number)
{
    if (isInteger(number))
        return QString::number(number.toLongLong());
    return QString::number(number.toDouble(), 'g', QLocale::FloatingPointShortest);
}

// How an experiment flag answers a switch: a number is on when it is not
// zero; a text is on when, after blanks, an optional sign and leading zeros,
// it starts with "Y", "y", "T", "t" or a digit 1 to 9.
bool flagBoolValue(const QVariant& flag)
{
    if (flag.typeId() != QMetaType::QString)
        return flag.toDouble() != 0.0;
    const QString text = flag.toString();
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        ++i;
    while (i < text.size() && text[i] == QLatin1Char('0'))
        ++i;
    if (i >= text.size())
        return false;
    const QChar c = text[i];
    return c == QLatin1Char('Y') || c == QLatin1Char('y') || c == QLatin1Char('T') || c == QLatin1Char('t')
        || (c >= QLatin1Char('1') && c <= QLatin1Char('9'));
}

} // namespace

// ---- Lookup family ----------------------------------------------------------

QVariant APMRemoteConfig::numberFromString(const QVariant& object) const
{
    if (object.typeId() != QMetaType::QString) {
        log(APMMonitor::kLevelErrorSilent, 29018, QStringLiteral("Cannot parse number from non-string"),
            { object });
        return QVariant();
    }
    return parseDecimal(object.toString());
}

QVariant APMRemoteConfig::cacheValue(const QVariant& value, const QString& key) const
{
    return cacheValueIn(*currentCaches(), value, key) ? value : QVariant();
}

QVariant APMRemoteConfig::numberFromCacheWithKey(const QString& key, const QVariant& defaultValue,
    const QVariant& maxValue, const QVariant& minValue,
    const std::function<QVariant(const QVariant&)>& block) const
{
    if (key.isEmpty()) {
        log(APMMonitor::kLevelDebug, 29020, QStringLiteral("Cannot get setting with empty key from cache"));
        return QVariant();
    }
    const std::shared_ptr<Caches> caches = currentCaches();
    QVariant entry;
    {
        QMutexLocker lock(&caches->mutex);
        const auto it = caches->settings.constFind(key);
        if (it == caches->settings.constEnd()) {
            caches->settings.insert(key, defaultValue);
            return defaultValue;
        }
        if (isNumber(*it))
            return *it;
        entry = *it;
    }
    QVariant number = numberFromString(entry);
    if (number.isValid() && block)
        number = block(number);
    if (!isNumber(number) || (minValue.isValid() && compareNumbers(number, minValue) < 0)
        || (maxValue.isValid() && compareNumbers(number, maxValue) > 0))
        number = defaultValue;
    QMutexLocker lock(&caches->mutex);
    caches->settings.insert(key, number);
    return number;
}

double APMRemoteConfig::timeIntervalInSecondsFromCacheWithKey(
    const QString& key, double defaultValue, double maxValue, double minValue) const
{
    // Stated in whole milliseconds (a fraction is dropped), read in seconds.
    const auto toSeconds = [](const QVariant& milliseconds) {
        return QVariant(static_cast<double>(toInt64(milliseconds)) / 1000.0);
    };
    const QVariant seconds = numberFromCacheWithKey(
        key, QVariant(defaultValue), QVariant(maxValue), QVariant(minValue), toSeconds);
    return seconds.isValid() ? seconds.toDouble() : 0.0;
}

qint32 APMRemoteConfig::intValueFromCacheWithKey(
    const QString& key, qint32 defaultValue, qint32 maxValue, qint32 minValue) const
{
    return toInt32(numberFromCacheWithKey(key, QVariant(static_cast<qint64>(defaultValue)),
        QVariant(static_cast<qint64>(maxValue)), QVariant(static_cast<qint64>(minValue))));
}

qint64 APMRemoteConfig::int64ValueFromCacheWithKey(
    const QString& key, qint64 defaultValue, qint64 maxValue, qint64 minValue) const
{
    const QVariant number
        = numberFromCacheWithKey(key, QVariant(defaultValue), QVariant(maxValue), QVariant(minValue));
    return number.isValid() ? toInt64(number) : 0;
}

qint64 APMRemoteConfig::int64ValueFromCacheWithKey(const QString& key, qint64 defaultValue) const
{
    const QVariant number = numberFromCacheWithKey(key, QVariant(defaultValue), QVariant(), QVariant());
    return number.isValid() ? toInt64(number) : 0;
}

bool APMRemoteConfig::boolValueFromCacheWithKey(const QString& key, bool defaultValue) const
{
    return intValueFromCacheWithKey(key, defaultValue ? 1 : 0, 1, 0) == 1;
}

std::optional<QString> APMRemoteConfig::settingText(const QVariant& entry)
{
    if (entry.typeId() == QMetaType::QString)
        return entry.toString();
    if (isNumber(entry))
        return numberText(entry);
    return std::nullopt;
}

// ---- Settings ---------------------------------------------------------------

double APMRemoteConfig::uploadingBackoffInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.upload.backoff_period"), 43200, 604800, 3600);
}

qint32 APMRemoteConfig::maxAudienceCount() const
{
    return intValueFromCacheWithKey(QStringLiteral("measurement.audience.max_count"), 100, 500, 0);
}

qint32 APMRemoteConfig::maxFiltersPerAudience() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.audience.filter_max_count_per_audience"), 10, 100, 0);
}

qint32 APMRemoteConfig::maxFilterResultCount() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.audience.filter_result_max_count"), 200, 2000, 0);
}

qint32 APMRemoteConfig::maxParametersPerFilter() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.audience.parameter_max_count_filter"), 25, 250, 0);
}

double APMRemoteConfig::databaseDeleteStaleBundlesInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.upload.stale_data_deletion_interval"),
        kDefaultDatabaseDeleteStaleBundlesInterval, 604800, 3600);
}

double APMRemoteConfig::maxQueueTime() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.upload.max_queue_time"), kDefaultMaxQueueTime, 7862400, 604800);
}

double APMRemoteConfig::adIDCacheTime() const
{
    return timeIntervalInSecondsFromCacheWithKey(QStringLiteral("measurement.ad_id_cache_time"), 1, 86400, 0);
}

bool APMRemoteConfig::gateIDFAOnATTMASEnabled() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.attmas_gate"), false);
}

double APMRemoteConfig::monitoringSamplePeriod() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.monitoring.sample_period_millis"), 86400, 604800, 0);
}

bool APMRemoteConfig::isNetworkBackgroundSessionEnabled() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.network.background_session_enabled"), false);
}

double APMRemoteConfig::networkTimeout() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.network.network_timeout"), 60, 3600, 30);
}

double APMRemoteConfig::sessionDefaultMinimumInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.session.default_minimum_interval"), 10, 86400, 0);
}

double APMRemoteConfig::sessionDefaultTimeoutInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.session.default_timeout_interval"), 1800, 86400, 0);
}

double APMRemoteConfig::sessionEventUserEngagementInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.session.event_user_engagement_interval"), 3600, 86400, 0);
}

bool APMRemoteConfig::efficientEngagementReportingEnabled() const
{
    return boolValueFromCacheWithKey(
        QStringLiteral("measurement.collection.efficient_engagement_reporting_enabled"), false);
}

bool APMRemoteConfig::redundantEngagementRemovalEnabled() const
{
    return boolValueFromCacheWithKey(
        QStringLiteral("measurement.collection.redundant_engagement_removal_enabled"), false);
}

qint32 APMRemoteConfig::maxConversionsPerDay() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_conversions_per_day"), 10000, 1000000, 0);
}

qint32 APMRemoteConfig::maxEventsPerDay() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_events_per_day"), 100000, 1000000, 0);
}

qint32 APMRemoteConfig::maxPublicEventsPerDay() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_public_events_per_day"), 50000, 1000000, 0);
}

qint32 APMRemoteConfig::maxErrorEventsPerDay() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_error_events_per_day"), 1000, 1000000, 0);
}

qint32 APMRemoteConfig::maxTrackedCurrencies() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.lifetimevalue.max_currency_tracked"), 4, 100, 1);
}

qint32 APMRemoteConfig::maxPublicUserProperties() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_public_user_properties"), 25, 100, 25);
}

qint32 APMRemoteConfig::maxEventNameCardinality() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_event_name_cardinality"), 500, 2000, 500);
}

qint32 APMRemoteConfig::maxPublicEventParams() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_public_event_params"), 25, 100, 25);
}

qint32 APMRemoteConfig::maxEventsStored() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.store.max_stored_events_per_app"), kDefaultMaxEventsStored, 1000000, 0);
}

double APMRemoteConfig::uploadingInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.upload.interval"), 3600, 86400, 15);
}

double APMRemoteConfig::uploadingInitialDelayInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.upload.initial_upload_delay_time"), 15, 86400, 1);
}

qint64 APMRemoteConfig::uploadMaxBundlesLimit() const
{
    return int64ValueFromCacheWithKey(QStringLiteral("measurement.upload.max_bundles"), 100, 10000, 1);
}

qint64 APMRemoteConfig::uploadMaxEventsPerBundle() const
{
    return int64ValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_events_per_bundle"), 1000, 1000000, 1);
}

qint64 APMRemoteConfig::uploadMaxSizeLimitBytes() const
{
    return int64ValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_batch_size"), 65536, 10485760, 0);
}

qint32 APMRemoteConfig::uploadingRetryCount() const
{
    return intValueFromCacheWithKey(QStringLiteral("measurement.upload.retry_count"), 6, 24, 1);
}

double APMRemoteConfig::uploadingRetryInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.upload.retry_time"), 1800, 86400, 60);
}

qint32 APMRemoteConfig::maxBundlesCreatedPerIteration() const
{
    // A count, read through the seconds conversion like the time settings.
    return toInt32(QVariant(timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.upload.max_bundles_created_per_iteration"), 100, 10000, 1)));
}

qint32 APMRemoteConfig::maxRealtimeEventCountPerDay() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_realtime_events_per_day"), 10, 10, 0);
}

double APMRemoteConfig::uploadingDebugModeInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.upload.debug_upload_interval"), 1, 15, 1);
}

double APMRemoteConfig::uploadingRealTimeInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.upload.realtime_upload_interval"), 10, 15, 10);
}

bool APMRemoteConfig::blocklistInternal() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.upload.blacklist_internal"), false);
}

bool APMRemoteConfig::blocklistPublic() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.upload.blacklist_public"), false);
}

bool APMRemoteConfig::isEventSamplingEnabled() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.event_sampling_enabled"), false);
}

qint32 APMRemoteConfig::analyticsAccountTimeZoneOffsetMinutes() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.account.time_zone_offset_minutes"), 0, 900, -900);
}

bool APMRemoteConfig::checksumEnabled() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.quality.checksum"), false);
}

bool APMRemoteConfig::appBackgroundedEventEnabled() const
{
    return boolValueFromCacheWithKey(
        QStringLiteral("measurement.lifecycle.app_backgrounded_tracking"), false);
}

bool APMRemoteConfig::appInBackgroundParameterEnabled() const
{
    return boolValueFromCacheWithKey(
        QStringLiteral("measurement.lifecycle.app_in_background_parameter"), true);
}

bool APMRemoteConfig::itemScopedCustomParameterEnabled() const
{
    return boolValueFromCacheWithKey(
        QStringLiteral("measurement.item_scoped_custom_parameter_enabled"), true);
}

qint32 APMRemoteConfig::maxItemScopedCustomParameters() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_item_scoped_custom_parameters"), 27, 35, 10);
}

qint32 APMRemoteConfig::maxPublicEventParameterValueLength() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_event_parameter_value_length"), 100, 500, 100);
}

bool APMRemoteConfig::tcfFeatureEnabled() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.tcf_enabled"), true);
}

bool APMRemoteConfig::dcuEventFeatureEnabled() const
{
    const QVariant flag = experimentFlag(kDCUEventFeatureFlag);
    if (flag.isValid())
        return flagBoolValue(flag);
    return boolValueFromCacheWithKey(QStringLiteral("measurement.dma.dcu_event_enabled"), true);
}

qint32 APMRemoteConfig::maxRealtimeDCUEventCountPerDay() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.dma.dcu_event_max_realtime_daily_count"), 1, 10, 0);
}

bool APMRemoteConfig::PSMFeatureEnabled() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.psm_enabled"), true);
}

qint32 APMRemoteConfig::maxPSMStartCount() const
{
    if (environment_.isDebugModeEnabled && environment_.isDebugModeEnabled())
        return kDebugPSMStartCount;
    return intValueFromCacheWithKey(QStringLiteral("measurement.psm_start_count"), 3, 10, 0);
}

qint32 APMRemoteConfig::maxPSMRetryCount() const
{
    return intValueFromCacheWithKey(QStringLiteral("measurement.psm_retry_count"), 5, 10, 0);
}

double APMRemoteConfig::PSMRetryInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.psm_retry_interval"), 300, 1800, 30);
}

qint32 APMRemoteConfig::hashPrefixBitLengthEmail() const
{
    return intValueFromCacheWithKey(kPSMPrefixEmailKey, 14, 20, 6);
}

qint32 APMRemoteConfig::hashPrefixBitLengthPhone() const
{
    return intValueFromCacheWithKey(kPSMPrefixPhoneKey, 11, 18, 6);
}

qint32 APMRemoteConfig::maxSignInDelayInDays() const
{
    return intValueFromCacheWithKey(kPSMSignInDelayKey, 60, 90, 7);
}

bool APMRemoteConfig::isDeferredDeepLinkEnabled() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.ddl.enabled"), true);
}

qint32 APMRemoteConfig::maxDeferredDeepLinkRetryCount() const
{
    return intValueFromCacheWithKey(QStringLiteral("measurement.ddl.retry_count"), 5, 10, 0);
}

double APMRemoteConfig::attributionCacheTTLInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.attribution.cache.ttl"), 604800, 2592000, 86400);
}

double APMRemoteConfig::remoteConfigCacheTimeInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.config.cache_time"), 3600, 86400, 60);
}

bool APMRemoteConfig::isSessionIDEnabled() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.api.session_id"), true);
}

bool APMRemoteConfig::sessionStitchingTokenFeatureEnabled() const
{
    const QVariant flag = clientFlag(kSessionStitchingTokenFeatureFlag);
    if (flag.isValid())
        return flagBoolValue(flag);
    return boolValueFromCacheWithKey(QStringLiteral("measurement.session_stitching_token_enabled"), false);
}

bool APMRemoteConfig::SKANUpdateConversionValueEnabled() const
{
    const QVariant flag = clientFlag(kSKANUpdateConversionValueFeatureFlag);
    if (flag.isValid())
        return flagBoolValue(flag);
    return boolValueFromCacheWithKey(
        QStringLiteral("measurement.skan.update_conversion_value_enabled"), false);
}

double APMRemoteConfig::SKANInitialCVFetchDelay() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.skan.initial_cv_fetch_delay_sec"), 120, 3600, 30);
}

double APMRemoteConfig::SKANCVFetchRetryInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.skan.cv_fetch_retry_interval_sec"), 120, 3600, 30);
}

qint32 APMRemoteConfig::SKANCVFetchRetryLimit() const
{
    return intValueFromCacheWithKey(QStringLiteral("measurement.skan.cv_fetch_retry_limit"), 4, 10, 1);
}

double APMRemoteConfig::SKANFirstWindowCVFetchDelay() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.skan.first_window.initial_cv_fetch_delay_sec"), 20, 3600, 1);
}

double APMRemoteConfig::SKANFirstWindowCVFetchRetryInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.skan.first_window.cv_fetch_retry_interval_sec"), 120, 3600, 30);
}

qint32 APMRemoteConfig::SKANFirstWindowCVFetchRetryLimit() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.skan.first_window.cv_fetch_retry_limit"), 4, 10, 1);
}

double APMRemoteConfig::SKANFirstWindowUploadInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.skan.first_window.upload_interval_sec"), 1800, 86400, 15);
}

bool APMRemoteConfig::DMAConsentEnabled() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.upload.dma_consent_enabled"), true);
}

bool APMRemoteConfig::regionalDefaultsEnabled() const
{
    const QVariant flag = experimentFlag(kRegionalDefaultsFlag);
    if (flag.isValid())
        return flagBoolValue(flag);
    return boolValueFromCacheWithKey(QStringLiteral("measurement.regional_defaults_enabled"), true);
}

qint32 APMRemoteConfig::maxInternalEventParameterValueLength() const
{
    return std::max(kMinInternalEventParameterValueLength, maxPublicEventParameterValueLength());
}

EventParameterLimits APMRemoteConfig::eventParameterLimits() const
{
    EventParameterLimits limits;
    limits.maxPublicEventParameterValueLength = maxPublicEventParameterValueLength();
    limits.maxPublicEventParams = maxPublicEventParams();
    limits.itemScopedCustomParameterEnabled = itemScopedCustomParameterEnabled();
    limits.maxItemScopedCustomParameters = maxItemScopedCustomParameters();
    return limits;
}
