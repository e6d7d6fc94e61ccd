#include "analytics/config/APMRemoteConfigSettings.h"

#include "analytics/base/APMDecimalNumber.h"
#include "analytics/base/APMMonitor.h"

#include <QLocale>

#include <cmath>
#include <limits>

// The lookup of single settings, and one getter per setting with its key,
// default and range (bounds inclusive; time settings in seconds).

const QString APMRemoteConfigSettings::kPSMPrefixEmailKey = QStringLiteral("measurement.psm_prefix_email");
const QString APMRemoteConfigSettings::kPSMPrefixPhoneKey = QStringLiteral("measurement.psm_prefix_phone");
const QString APMRemoteConfigSettings::kPSMSignInDelayKey = QStringLiteral("measurement.psm_signin_delay");

namespace {

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

} // namespace

// ---- Lookup family ----------------------------------------------------------

QVariant APMRemoteConfigSettings::numberFromString(const QVariant& object) const
{
    if (object.typeId() != QMetaType::QString) {
        log(APMMonitor::kLevelErrorSilent, 29018, QStringLiteral("Cannot parse number from non-string"),
            { object });
        return QVariant();
    }
    return parseDecimal(object.toString());
}

QVariant APMRemoteConfigSettings::cacheValue(const QVariant& value, const QString& key) const
{
    return cacheValueIn(*currentSettings(), value, key) ? value : QVariant();
}

bool APMRemoteConfigSettings::cacheValueIn(Table& table, const QVariant& value, const QString& key) const
{
    if (!value.isValid() || key.isEmpty()) {
        log(APMMonitor::kLevelWarningSilent, 29019, QStringLiteral("Cannot cache empty configuration value"));
        return false;
    }
    QMutexLocker lock(&table.mutex);
    table.values.insert(key, value);
    return true;
}

QVariant APMRemoteConfigSettings::numberFromCacheWithKey(const QString& key, const QVariant& defaultValue,
    const QVariant& maxValue, const QVariant& minValue,
    const std::function<QVariant(const QVariant&)>& block) const
{
    if (key.isEmpty()) {
        log(APMMonitor::kLevelDebug, 29020, QStringLiteral("Cannot get setting with empty key from cache"));
        return QVariant();
    }
    const std::shared_ptr<Table> table = currentSettings();
    QVariant entry;
    {
        QMutexLocker lock(&table->mutex);
        const auto it = table->values.constFind(key);
        if (it == table->values.constEnd()) {
            table->values.insert(key, defaultValue);
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
    QMutexLocker lock(&table->mutex);
    table->values.insert(key, number);
    return number;
}

double APMRemoteConfigSettings::timeIntervalInSecondsFromCacheWithKey(
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

qint32 APMRemoteConfigSettings::intValueFromCacheWithKey(
    const QString& key, qint32 defaultValue, qint32 maxValue, qint32 minValue) const
{
    return toInt32(numberFromCacheWithKey(key, QVariant(static_cast<qint64>(defaultValue)),
        QVariant(static_cast<qint64>(maxValue)), QVariant(static_cast<qint64>(minValue))));
}

qint64 APMRemoteConfigSettings::int64ValueFromCacheWithKey(
    const QString& key, qint64 defaultValue, qint64 maxValue, qint64 minValue) const
{
    const QVariant number
        = numberFromCacheWithKey(key, QVariant(defaultValue), QVariant(maxValue), QVariant(minValue));
    return number.isValid() ? toInt64(number) : 0;
}

qint64 APMRemoteConfigSettings::int64ValueFromCacheWithKey(const QString& key, qint64 defaultValue) const
{
    const QVariant number = numberFromCacheWithKey(key, QVariant(defaultValue), QVariant(), QVariant());
    return number.isValid() ? toInt64(number) : 0;
}

bool APMRemoteConfigSettings::boolValueFromCacheWithKey(const QString& key, bool defaultValue) const
{
    return intValueFromCacheWithKey(key, defaultValue ? 1 : 0, 1, 0) == 1;
}

std::optional<QString> APMRemoteConfigSettings::Table::text(const QString& key)
{
    QMutexLocker lock(&mutex);
    const QVariant entry = values.value(key);
    if (entry.typeId() == QMetaType::QString)
        return entry.toString();
    if (isNumber(entry))
        return numberText(entry);
    return std::nullopt;
}

// ---- Settings ---------------------------------------------------------------

double APMRemoteConfigSettings::uploadingBackoffInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.upload.backoff_period"), 43200, 604800, 3600);
}

qint32 APMRemoteConfigSettings::maxAudienceCount() const
{
    return intValueFromCacheWithKey(QStringLiteral("measurement.audience.max_count"), 100, 500, 0);
}

qint32 APMRemoteConfigSettings::maxFiltersPerAudience() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.audience.filter_max_count_per_audience"), 10, 100, 0);
}

qint32 APMRemoteConfigSettings::maxFilterResultCount() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.audience.filter_result_max_count"), 200, 2000, 0);
}

qint32 APMRemoteConfigSettings::maxParametersPerFilter() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.audience.parameter_max_count_filter"), 25, 250, 0);
}

double APMRemoteConfigSettings::databaseDeleteStaleBundlesInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.upload.stale_data_deletion_interval"),
        kDefaultDatabaseDeleteStaleBundlesInterval, 604800, 3600);
}

double APMRemoteConfigSettings::maxQueueTime() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.upload.max_queue_time"), kDefaultMaxQueueTime, 7862400, 604800);
}

double APMRemoteConfigSettings::adIDCacheTime() const
{
    return timeIntervalInSecondsFromCacheWithKey(QStringLiteral("measurement.ad_id_cache_time"), 1, 86400, 0);
}

bool APMRemoteConfigSettings::gateIDFAOnATTMASEnabled() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.attmas_gate"), false);
}

double APMRemoteConfigSettings::monitoringSamplePeriod() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.monitoring.sample_period_millis"), 86400, 604800, 0);
}

bool APMRemoteConfigSettings::isNetworkBackgroundSessionEnabled() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.network.background_session_enabled"), false);
}

double APMRemoteConfigSettings::networkTimeout() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.network.network_timeout"), 60, 3600, 30);
}

double APMRemoteConfigSettings::sessionDefaultMinimumInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.session.default_minimum_interval"), 10, 86400, 0);
}

double APMRemoteConfigSettings::sessionDefaultTimeoutInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.session.default_timeout_interval"), 1800, 86400, 0);
}

double APMRemoteConfigSettings::sessionEventUserEngagementInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.session.event_user_engagement_interval"), 3600, 86400, 0);
}

bool APMRemoteConfigSettings::efficientEngagementReportingEnabled() const
{
    return boolValueFromCacheWithKey(
        QStringLiteral("measurement.collection.efficient_engagement_reporting_enabled"), false);
}

bool APMRemoteConfigSettings::redundantEngagementRemovalEnabled() const
{
    return boolValueFromCacheWithKey(
        QStringLiteral("measurement.collection.redundant_engagement_removal_enabled"), false);
}

qint32 APMRemoteConfigSettings::maxConversionsPerDay() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_conversions_per_day"), 10000, 1000000, 0);
}

qint32 APMRemoteConfigSettings::maxEventsPerDay() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_events_per_day"), 100000, 1000000, 0);
}

qint32 APMRemoteConfigSettings::maxPublicEventsPerDay() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_public_events_per_day"), 50000, 1000000, 0);
}

qint32 APMRemoteConfigSettings::maxErrorEventsPerDay() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_error_events_per_day"), 1000, 1000000, 0);
}

qint32 APMRemoteConfigSettings::maxTrackedCurrencies() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.lifetimevalue.max_currency_tracked"), 4, 100, 1);
}

qint32 APMRemoteConfigSettings::maxPublicUserProperties() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_public_user_properties"), 25, 100, 25);
}

qint32 APMRemoteConfigSettings::maxEventNameCardinality() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_event_name_cardinality"), 500, 2000, 500);
}

qint32 APMRemoteConfigSettings::maxPublicEventParams() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_public_event_params"), 25, 100, 25);
}

qint32 APMRemoteConfigSettings::maxEventsStored() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.store.max_stored_events_per_app"), kDefaultMaxEventsStored, 1000000, 0);
}

double APMRemoteConfigSettings::uploadingInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.upload.interval"), 3600, 86400, 15);
}

double APMRemoteConfigSettings::uploadingInitialDelayInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.upload.initial_upload_delay_time"), 15, 86400, 1);
}

qint64 APMRemoteConfigSettings::uploadMaxBundlesLimit() const
{
    return int64ValueFromCacheWithKey(QStringLiteral("measurement.upload.max_bundles"), 100, 10000, 1);
}

qint64 APMRemoteConfigSettings::uploadMaxEventsPerBundle() const
{
    return int64ValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_events_per_bundle"), 1000, 1000000, 1);
}

qint64 APMRemoteConfigSettings::uploadMaxSizeLimitBytes() const
{
    return int64ValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_batch_size"), 65536, 10485760, 0);
}

qint32 APMRemoteConfigSettings::uploadingRetryCount() const
{
    return intValueFromCacheWithKey(QStringLiteral("measurement.upload.retry_count"), 6, 24, 1);
}

double APMRemoteConfigSettings::uploadingRetryInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.upload.retry_time"), 1800, 86400, 60);
}

qint32 APMRemoteConfigSettings::maxBundlesCreatedPerIteration() const
{
    // A count, read through the seconds conversion like the time settings.
    return toInt32(QVariant(timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.upload.max_bundles_created_per_iteration"), 100, 10000, 1)));
}

qint32 APMRemoteConfigSettings::maxRealtimeEventCountPerDay() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_realtime_events_per_day"), 10, 10, 0);
}

double APMRemoteConfigSettings::uploadingDebugModeInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.upload.debug_upload_interval"), 1, 15, 1);
}

double APMRemoteConfigSettings::uploadingRealTimeInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.upload.realtime_upload_interval"), 10, 15, 10);
}

bool APMRemoteConfigSettings::blocklistInternal() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.upload.blacklist_internal"), false);
}

bool APMRemoteConfigSettings::blocklistPublic() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.upload.blacklist_public"), false);
}

bool APMRemoteConfigSettings::isEventSamplingEnabled() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.event_sampling_enabled"), false);
}

qint32 APMRemoteConfigSettings::analyticsAccountTimeZoneOffsetMinutes() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.account.time_zone_offset_minutes"), 0, 900, -900);
}

bool APMRemoteConfigSettings::checksumEnabled() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.quality.checksum"), false);
}

bool APMRemoteConfigSettings::appBackgroundedEventEnabled() const
{
    return boolValueFromCacheWithKey(
        QStringLiteral("measurement.lifecycle.app_backgrounded_tracking"), false);
}

bool APMRemoteConfigSettings::appInBackgroundParameterEnabled() const
{
    return boolValueFromCacheWithKey(
        QStringLiteral("measurement.lifecycle.app_in_background_parameter"), true);
}

bool APMRemoteConfigSettings::itemScopedCustomParameterEnabled() const
{
    return boolValueFromCacheWithKey(
        QStringLiteral("measurement.item_scoped_custom_parameter_enabled"), true);
}

qint32 APMRemoteConfigSettings::maxItemScopedCustomParameters() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_item_scoped_custom_parameters"), 27, 35, 10);
}

qint32 APMRemoteConfigSettings::maxPublicEventParameterValueLength() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.upload.max_event_parameter_value_length"), 100, 500, 100);
}

bool APMRemoteConfigSettings::tcfFeatureEnabled() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.tcf_enabled"), true);
}

qint32 APMRemoteConfigSettings::maxRealtimeDCUEventCountPerDay() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.dma.dcu_event_max_realtime_daily_count"), 1, 10, 0);
}

bool APMRemoteConfigSettings::PSMFeatureEnabled() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.psm_enabled"), true);
}

qint32 APMRemoteConfigSettings::maxPSMRetryCount() const
{
    return intValueFromCacheWithKey(QStringLiteral("measurement.psm_retry_count"), 5, 10, 0);
}

double APMRemoteConfigSettings::PSMRetryInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.psm_retry_interval"), 300, 1800, 30);
}

qint32 APMRemoteConfigSettings::hashPrefixBitLengthEmail() const
{
    return intValueFromCacheWithKey(kPSMPrefixEmailKey, 14, 20, 6);
}

qint32 APMRemoteConfigSettings::hashPrefixBitLengthPhone() const
{
    return intValueFromCacheWithKey(kPSMPrefixPhoneKey, 11, 18, 6);
}

qint32 APMRemoteConfigSettings::maxSignInDelayInDays() const
{
    return intValueFromCacheWithKey(kPSMSignInDelayKey, 60, 90, 7);
}

bool APMRemoteConfigSettings::isDeferredDeepLinkEnabled() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.ddl.enabled"), true);
}

qint32 APMRemoteConfigSettings::maxDeferredDeepLinkRetryCount() const
{
    return intValueFromCacheWithKey(QStringLiteral("measurement.ddl.retry_count"), 5, 10, 0);
}

double APMRemoteConfigSettings::attributionCacheTTLInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.attribution.cache.ttl"), 604800, 2592000, 86400);
}

double APMRemoteConfigSettings::remoteConfigCacheTimeInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.config.cache_time"), 3600, 86400, 60);
}

bool APMRemoteConfigSettings::isSessionIDEnabled() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.api.session_id"), true);
}

double APMRemoteConfigSettings::SKANInitialCVFetchDelay() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.skan.initial_cv_fetch_delay_sec"), 120, 3600, 30);
}

double APMRemoteConfigSettings::SKANCVFetchRetryInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.skan.cv_fetch_retry_interval_sec"), 120, 3600, 30);
}

qint32 APMRemoteConfigSettings::SKANCVFetchRetryLimit() const
{
    return intValueFromCacheWithKey(QStringLiteral("measurement.skan.cv_fetch_retry_limit"), 4, 10, 1);
}

double APMRemoteConfigSettings::SKANFirstWindowCVFetchDelay() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.skan.first_window.initial_cv_fetch_delay_sec"), 20, 3600, 1);
}

double APMRemoteConfigSettings::SKANFirstWindowCVFetchRetryInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.skan.first_window.cv_fetch_retry_interval_sec"), 120, 3600, 30);
}

qint32 APMRemoteConfigSettings::SKANFirstWindowCVFetchRetryLimit() const
{
    return intValueFromCacheWithKey(
        QStringLiteral("measurement.skan.first_window.cv_fetch_retry_limit"), 4, 10, 1);
}

double APMRemoteConfigSettings::SKANFirstWindowUploadInterval() const
{
    return timeIntervalInSecondsFromCacheWithKey(
        QStringLiteral("measurement.skan.first_window.upload_interval_sec"), 1800, 86400, 15);
}

bool APMRemoteConfigSettings::DMAConsentEnabled() const
{
    return boolValueFromCacheWithKey(QStringLiteral("measurement.upload.dma_consent_enabled"), true);
}

qint32 APMRemoteConfigSettings::maxInternalEventParameterValueLength() const
{
    return std::max(kMinInternalEventParameterValueLength, maxPublicEventParameterValueLength());
}

EventParameterLimits APMRemoteConfigSettings::eventParameterLimits() const
{
    EventParameterLimits limits;
    limits.maxPublicEventParameterValueLength = maxPublicEventParameterValueLength();
    limits.maxPublicEventParams = maxPublicEventParams();
    limits.itemScopedCustomParameterEnabled = itemScopedCustomParameterEnabled();
    limits.maxItemScopedCustomParameters = maxItemScopedCustomParameters();
    return limits;
}
