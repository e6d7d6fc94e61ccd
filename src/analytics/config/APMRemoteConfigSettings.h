#pragma once

#include "analytics/model/APMStoreLimits.h"
#include "analytics/model/EventParameterLimits.h"

#include <QHash>
#include <QMutex>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <functional>
#include <memory>
#include <optional>

// The settings of a measurement configuration: one getter per setting with
// its key, default and range (bounds inclusive), over the lookup family that
// reads a setting from the settings table of the configuration in force.
//
// Settings arrive as texts. The first read of a setting parses its text
// (plain decimal, whatever the user's locale), checks it against the
// setting's range and replaces the text by the result; a missing, unreadable
// or out-of-range value reads as the default, never clamped. Time settings
// are stated in milliseconds and read in seconds.
//
// The remote configuration derives from this: it keeps the table with the
// rest of one configuration's caches, so that a new configuration replaces
// all of them in one step, and hands out the table in force. Settings that
// something besides the configuration overrides (an experiment flag, the
// monitor's debug mode) are answered there. Safe to use from any thread.
class APMRemoteConfigSettings : public APMStoreLimits {
public:
    static const QString kPSMPrefixEmailKey; // "measurement.psm_prefix_email"
    static const QString kPSMPrefixPhoneKey; // "measurement.psm_prefix_phone"
    static const QString kPSMSignInDelayKey; // "measurement.psm_signin_delay"

    // ---- Lookup family ----------------------------------------------------
    // Numbers are QVariants holding a qint64 or a double; an invalid QVariant
    // is "none". A missing bound is an invalid QVariant.

    QVariant numberFromString(const QVariant& object) const;
    QVariant cacheValue(const QVariant& value, const QString& key) const;
    QVariant numberFromCacheWithKey(const QString& key, const QVariant& defaultValue,
        const QVariant& maxValue, const QVariant& minValue,
        const std::function<QVariant(const QVariant&)>& block = {}) const;
    double timeIntervalInSecondsFromCacheWithKey(
        const QString& key, double defaultValue, double maxValue, double minValue) const;
    qint32 intValueFromCacheWithKey(
        const QString& key, qint32 defaultValue, qint32 maxValue, qint32 minValue) const;
    qint64 int64ValueFromCacheWithKey(
        const QString& key, qint64 defaultValue, qint64 maxValue, qint64 minValue) const;
    qint64 int64ValueFromCacheWithKey(const QString& key, qint64 defaultValue) const;
    bool boolValueFromCacheWithKey(const QString& key, bool defaultValue) const;

    // ---- Settings ---------------------------------------------------------

    double uploadingBackoffInterval() const;
    qint32 maxAudienceCount() const;
    qint32 maxFiltersPerAudience() const;
    qint32 maxFilterResultCount() const;
    qint32 maxParametersPerFilter() const;
    double databaseDeleteStaleBundlesInterval() const override;
    double maxQueueTime() const override;
    double adIDCacheTime() const;
    bool gateIDFAOnATTMASEnabled() const;
    double monitoringSamplePeriod() const;
    bool isNetworkBackgroundSessionEnabled() const;
    double networkTimeout() const;
    double sessionDefaultMinimumInterval() const;
    double sessionDefaultTimeoutInterval() const;
    double sessionEventUserEngagementInterval() const;
    bool efficientEngagementReportingEnabled() const;
    bool redundantEngagementRemovalEnabled() const;
    qint32 maxConversionsPerDay() const;
    qint32 maxEventsPerDay() const;
    qint32 maxPublicEventsPerDay() const;
    qint32 maxErrorEventsPerDay() const;
    qint32 maxTrackedCurrencies() const;
    qint32 maxPublicUserProperties() const;
    qint32 maxEventNameCardinality() const;
    qint32 maxPublicEventParams() const;
    qint32 maxEventsStored() const override;
    double uploadingInterval() const;
    double uploadingInitialDelayInterval() const;
    qint64 uploadMaxBundlesLimit() const;
    qint64 uploadMaxEventsPerBundle() const;
    qint64 uploadMaxSizeLimitBytes() const;
    qint32 uploadingRetryCount() const;
    double uploadingRetryInterval() const;
    // A count read through the seconds conversion: the configured value is
    // divided by 1000 before the range check.
    qint32 maxBundlesCreatedPerIteration() const;
    qint32 maxRealtimeEventCountPerDay() const;
    double uploadingDebugModeInterval() const;
    double uploadingRealTimeInterval() const;
    bool blocklistInternal() const;
    bool blocklistPublic() const;
    bool isEventSamplingEnabled() const;
    qint32 analyticsAccountTimeZoneOffsetMinutes() const;
    bool checksumEnabled() const;
    bool appBackgroundedEventEnabled() const;
    bool appInBackgroundParameterEnabled() const;
    bool itemScopedCustomParameterEnabled() const;
    qint32 maxItemScopedCustomParameters() const;
    qint32 maxPublicEventParameterValueLength() const;
    bool tcfFeatureEnabled() const;
    qint32 maxRealtimeDCUEventCountPerDay() const;
    bool PSMFeatureEnabled() const;
    qint32 maxPSMRetryCount() const;
    double PSMRetryInterval() const;
    // The PSM setting message of a configuration sets these three as they
    // are, outside their ranges if so delivered.
    qint32 hashPrefixBitLengthEmail() const;
    qint32 hashPrefixBitLengthPhone() const;
    qint32 maxSignInDelayInDays() const;
    bool isDeferredDeepLinkEnabled() const;
    qint32 maxDeferredDeepLinkRetryCount() const;
    double attributionCacheTTLInterval() const;
    double remoteConfigCacheTimeInterval() const;
    bool isSessionIDEnabled() const;
    double SKANInitialCVFetchDelay() const;
    double SKANCVFetchRetryInterval() const;
    qint32 SKANCVFetchRetryLimit() const;
    double SKANFirstWindowCVFetchDelay() const;
    double SKANFirstWindowCVFetchRetryInterval() const;
    qint32 SKANFirstWindowCVFetchRetryLimit() const;
    double SKANFirstWindowUploadInterval() const;
    bool DMAConsentEnabled() const;

    // Always true: the public value length always reads its setting.
    bool maxPublicEventParamValueLimitFeatureEnabled() const { return true; }
    // At least 256, more when the public limit is configured higher.
    qint32 maxInternalEventParameterValueLength() const;
    // The limits the event naming rules apply, as configured now.
    EventParameterLimits eventParameterLimits() const override;

protected:
    // One configuration's settings by key. Each first read replaces a text
    // by its number, so the values change after the table is in place and
    // are read and written only under its lock.
    struct Table {
        QMutex mutex;
        QHash<QString, QVariant> values; // text not yet read, or the validated number

        // A setting as programs read it: a text as it is, a number read
        // earlier as its text, nothing otherwise.
        std::optional<QString> text(const QString& key);
    };

    APMRemoteConfigSettings() = default;

    // The table of the configuration in force; never null.
    virtual std::shared_ptr<Table> currentSettings() const = 0;
    // A report to the engine's monitor.
    virtual void log(qint64 level, qint64 code, const QString& message, const QVariantList& contexts = {}) const
        = 0;
    // Puts a value under its key; false, after logging, for no value or an empty key.
    bool cacheValueIn(Table& table, const QVariant& value, const QString& key) const;
};
