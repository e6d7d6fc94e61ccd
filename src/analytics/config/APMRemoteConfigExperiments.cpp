#include "analytics/config/APMRemoteConfig.h"

#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/config/APMExperimentSource.h"
#include "analytics/config/APMRemoteConfigPrivate.h"

// The experiment client's side of the remote configuration: the snapshots it
// reports, the flags read from the active one, and the switches those flags
// override.

using namespace APMRemoteConfigPrivate;

namespace APMRemoteConfigExperiments {

constexpr qint32 kDebugPSMStartCount = 10;

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

} // namespace APMRemoteConfigExperiments

// ---- Experiments ------------------------------------------------------------

void APMRemoteConfig::updateCachedExperimentFlags()
{
    if (!experimentClient_)
        return;
    const QString names[] = { kDCUEventFeatureFlag, kRegionalDefaultsFlag };
    QVariantMap values;
    for (const QString& name : names)
        values.insert(name, experimentClient_->objectForKeyedSubscript(name));
    QMutexLocker lock(&mutex_);
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        if (it->isValid())
            cachedExperimentFlags_.insert(it.key(), *it);
        else
            cachedExperimentFlags_.remove(it.key());
    }
}

bool APMRemoteConfig::activateNewSnapshot()
{
    {
        QMutexLocker lock(&mutex_);
        if (!hasNewSnapshot_)
            return false;
    }
    APMError error;
    if (!experimentClient_ || !experimentClient_->activateLatestSnapshot(&error)) {
        log(APMMonitor::kLevelErrorSilent, 29024, QStringLiteral("Cannot activate snapshot. Error"),
            { errorContext(error) });
        return false;
    }
    updateCachedExperimentFlags();
    QMutexLocker lock(&mutex_);
    hasNewSnapshot_ = false;
    return true;
}

void APMRemoteConfig::clientDidReceiveNewSnapshot(APMEClient& client)
{
    (void)client;
    QMutexLocker lock(&mutex_);
    hasNewSnapshot_ = true;
}

void APMRemoteConfig::client(APMEClient& client, const APMError* error)
{
    (void)client;
    if (error) {
        log(APMMonitor::kLevelErrorSilent, 29025, QStringLiteral("Cannot fetch experiment. Error"),
            { QVariant::fromValue(*error) });
    }
}

bool APMRemoteConfig::shouldFetchExperimentsForClient(APMEClient& client)
{
    (void)client;
    return environment_.isMeasurementEnabled && environment_.isMeasurementEnabled();
}

QVariant APMRemoteConfig::experimentFlag(const QString& name) const
{
    QMutexLocker lock(&mutex_);
    return cachedExperimentFlags_.value(name);
}

QVariant APMRemoteConfig::clientFlag(const QString& name) const
{
    return experimentClient_ ? experimentClient_->objectForKeyedSubscript(name) : QVariant();
}

// ---- Settings something else overrides --------------------------------------

bool APMRemoteConfig::dcuEventFeatureEnabled() const
{
    const QVariant flag = experimentFlag(kDCUEventFeatureFlag);
    if (flag.isValid())
        return APMRemoteConfigExperiments::flagBoolValue(flag);
    return boolValueFromCacheWithKey(QStringLiteral("measurement.dma.dcu_event_enabled"), true);
}

qint32 APMRemoteConfig::maxPSMStartCount() const
{
    if (environment_.isDebugModeEnabled && environment_.isDebugModeEnabled())
        return APMRemoteConfigExperiments::kDebugPSMStartCount;
    return intValueFromCacheWithKey(QStringLiteral("measurement.psm_start_count"), 3, 10, 0);
}

bool APMRemoteConfig::sessionStitchingTokenFeatureEnabled() const
{
    const QVariant flag = clientFlag(kSessionStitchingTokenFeatureFlag);
    if (flag.isValid())
        return APMRemoteConfigExperiments::flagBoolValue(flag);
    return boolValueFromCacheWithKey(QStringLiteral("measurement.session_stitching_token_enabled"), false);
}

bool APMRemoteConfig::SKANUpdateConversionValueEnabled() const
{
    const QVariant flag = clientFlag(kSKANUpdateConversionValueFeatureFlag);
    if (flag.isValid())
        return APMRemoteConfigExperiments::flagBoolValue(flag);
    return boolValueFromCacheWithKey(
        QStringLiteral("measurement.skan.update_conversion_value_enabled"), false);
}

bool APMRemoteConfig::regionalDefaultsEnabled() const
{
    const QVariant flag = experimentFlag(kRegionalDefaultsFlag);
    if (flag.isValid())
        return APMRemoteConfigExperiments::flagBoolValue(flag);
    return boolValueFromCacheWithKey(QStringLiteral("measurement.regional_defaults_enabled"), true);
}
