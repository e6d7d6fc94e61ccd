// The front end's own preferences: consent settings with their source, and
// the bookkeeping of data resets.
#include "analytics/frontend/APMAnalytics.h"
#include "analytics/frontend/APMAnalyticsState.h"
#include "analytics/reporters/APMMeasurementNames.h"

#include "analytics/base/APMConfigStore.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/model/APMEvent.h"

#include "platform/Clock.h"

const QString APMAnalytics::kResetRetryCountKey = QStringLiteral("reset_retry_count");
const QString APMAnalytics::kNeedFirstOpenAfterResetKey = QStringLiteral("need_first_open_after_reset");
const QString APMAnalytics::kAppInstanceIDAfterResetKey = QStringLiteral("app_instance_id_after_reset");
const QString APMAnalytics::kDeferredAnalyticsCollectionKey = QStringLiteral("deferred_analytics_collection");
const QString APMAnalytics::kConsentSettings1PKey = QStringLiteral("consent_settings");
const QString APMAnalytics::kConsentSettings3PKey = QStringLiteral("consent_settings_3p");
const QString APMAnalytics::kConsentSettingsTCFKey = QStringLiteral("consent_settings_tcf");
const QString APMAnalytics::kConsentSourceKey = QStringLiteral("consent_source");
const QString APMAnalytics::kConsentSettingsOnStartKey = QStringLiteral("consent_settings_on_start");
const QString APMAnalytics::kDeferredConsentResetKey = QStringLiteral("deferred_consent_reset");

namespace apm_frontend_consent {

const QString kReasonParameter = QStringLiteral("_r");

// Where each stored dictionary ranks when it is read back at start: the
// highest source a restored setting may claim.
struct StoredConsent {
    const QString& key;
    qint64 sourceCap;
};

APMConfigStore& preferences()
{
    return *apm_frontend::state().environment.preferences;
}

bool isConsentValue(const QVariant& value)
{
    if (value.typeId() != QMetaType::QString)
        return false;
    const QString text = value.toString();
    return text == APMConsentSettingsUtil::kGranted || text == APMConsentSettingsUtil::kDenied;
}

} // namespace apm_frontend_consent

using namespace apm_frontend_consent;

// ---- Consent ---------------------------------------------------------------------------------

void APMAnalytics::setConsent(const QVariantMap& consent)
{
    setConsent(consent, kConsentSettings1PKey);
}

void APMAnalytics::setConsent(const QVariantMap& consent, const QString& key)
{
    if (APMConsentSettingsUtil::consentSource() == APMConsentSettingsUtil::SourceNone)
        loadPersistedConsentSettings();
    QVariantMap settings;
    const QVariantMap recognised = APMConsentSettingsUtil::consentSettingsFromDictionary(consent);
    for (auto it = recognised.cbegin(); it != recognised.cend(); ++it) {
        if (isConsentValue(it.value())) {
            settings.insert(it.key(), it.value());
        } else {
            log(APMMonitor::kLevelWarning, 25042,
                QStringLiteral("Valid consent values are 'granted' and 'denied'. Ignoring invalid consent setting"),
                { it.value() });
        }
    }
    if (settings.isEmpty()) {
        log(APMMonitor::kLevelWarning, 25041, QStringLiteral("Discarding empty consent settings"));
        return;
    }
    const qint64 source = key == kConsentSettingsTCFKey ? APMConsentSettingsUtil::SourceTCF
        : key == kConsentSettings3PKey                  ? APMConsentSettingsUtil::SourceThirdParty
                                                        : APMConsentSettingsUtil::SourceApplication;
    if (!APMConsentSettingsUtil::isConsentSourceHigherPriority(source)) {
        log(APMMonitor::kLevelWarning, 25043, QStringLiteral("Ignoring lower priority consent settings"));
        return;
    }
    const bool wasAdUserDataDenied = APMConsentSettingsUtil::isAdUserDataDenied();
    APMConsentSettingsUtil::updateSettingsConsentSource(settings, source);
    persistConsentSettings(APMConsentSettingsUtil::consentSettings().value_or(QVariantMap()), source);
    if (key == kConsentSettings3PKey)
        log(APMMonitor::kLevelVerbose, 25055, APMConsentSettingsUtil::description());

    const std::shared_ptr<APMRemoteConfig> remote = APMMeasurement::remoteConfig();
    if (remote->dcuEventFeatureEnabled() && !remote->consentDefaults().isEmpty()
        && APMConsentSettingsUtil::didAdUserDataConsentChange(wasAdUserDataDenied)) {
        logInternalEventWithOrigin(apm_engine::kAutoOrigin, apm_engine::kConsentChangeEvent, { { kReasonParameter, qint64(1) } });
    }
    const std::optional<qint64> adPersonalization = APMConsentSettingsUtil::adPersonalization();
    if (remote->DMAConsentEnabled() && settings.contains(APMConsentSettingsUtil::kAdPersonalization) && adPersonalization)
        setUserPropertyString(*adPersonalization ? QStringLiteral("YES") : QStringLiteral("NO"), kAllowPersonalizedAdsProperty);
}

void APMAnalytics::persistConsentSettings(const QVariantMap& settings, qint64 source)
{
    const QString& key = source == APMConsentSettingsUtil::SourceTCF ? kConsentSettingsTCFKey
        : source <= APMConsentSettingsUtil::SourceInfoDictionary     ? kConsentSettings3PKey
                                                                     : kConsentSettings1PKey;
    preferences().setObject(settings, key);
    preferences().setInteger(source, kConsentSourceKey);
}

void APMAnalytics::loadPersistedConsentSettings()
{
    const qint64 persisted = persistedConsentSource();
    if (persisted == APMConsentSettingsUtil::SourceNone)
        return;
    const StoredConsent stored[] = {
        { kConsentSettingsTCFKey, APMConsentSettingsUtil::SourceTCF },
        { kConsentSettings3PKey, APMConsentSettingsUtil::SourceInfoDictionary },
        { kConsentSettings1PKey, APMConsentSettingsUtil::SourceApplicationAtStart },
    };
    for (const StoredConsent& entry : stored) {
        const std::optional<QVariantMap> settings = preferences().dictionaryForKey(entry.key);
        if (!settings)
            continue;
        APMConsentSettingsUtil::setConsentSettings(*settings);
        APMConsentSettingsUtil::setConsentSource(std::min(persisted, entry.sourceCap));
        return;
    }
}

qint64 APMAnalytics::persistedConsentSource()
{
    const QVariant source = preferences().numberForKey(kConsentSourceKey);
    return source.isValid() ? APMConfigStore::int64FromNumber(source) : qint64(APMConsentSettingsUtil::SourceNone);
}

void APMAnalytics::clearConsent()
{
    for (const QString& key : { kConsentSourceKey, kConsentSettings3PKey, kConsentSettings1PKey,
             kConsentSettingsOnStartKey, kDeferredConsentResetKey, kConsentSettingsTCFKey })
        preferences().removeObjectForKey(key);
    APMConsentSettingsUtil::clearAllSettings();
}

std::optional<QVariantMap> APMAnalytics::consentSettings1P()
{
    return preferences().dictionaryForKey(kConsentSettings1PKey);
}

std::optional<QVariantMap> APMAnalytics::consentSettings3P()
{
    return preferences().dictionaryForKey(kConsentSettings3PKey);
}

std::optional<QVariantMap> APMAnalytics::consentSettingsTCF()
{
    return preferences().dictionaryForKey(kConsentSettingsTCFKey);
}

std::optional<QVariantMap> APMAnalytics::consentSettings1PStart()
{
    return preferences().dictionaryForKey(kConsentSettingsOnStartKey);
}

void APMAnalytics::removeStartUpConsentSettings()
{
    preferences().removeObjectForKey(kConsentSettingsOnStartKey);
}

QVariant APMAnalytics::deferredResetOnDeniedConsent()
{
    return preferences().objectForKey(kDeferredConsentResetKey);
}

void APMAnalytics::removeDeferredResetOnDeniedConsent()
{
    preferences().removeObjectForKey(kDeferredConsentResetKey);
}

// ---- Reset bookkeeping -------------------------------------------------------------------------

qint64 APMAnalytics::resetRetryCount()
{
    return preferences().integerForKey(kResetRetryCountKey);
}

void APMAnalytics::setResetRetryCount(qint64 count)
{
    if (count < 1)
        preferences().removeObjectForKey(kResetRetryCountKey);
    else
        preferences().setInteger(count, kResetRetryCountKey);
}

bool APMAnalytics::needFirstOpenAfterReset()
{
    return preferences().boolForKey(kNeedFirstOpenAfterResetKey);
}

void APMAnalytics::setNeedFirstOpenAfterReset(bool need)
{
    preferences().setBool(need, kNeedFirstOpenAfterResetKey);
}

void APMAnalytics::removeNeedFirstOpenAfterReset()
{
    preferences().removeObjectForKey(kNeedFirstOpenAfterResetKey);
}

QString APMAnalytics::appInstanceIDAfterReset()
{
    return preferences().stringForKey(kAppInstanceIDAfterResetKey);
}

void APMAnalytics::setAppInstanceIDAfterReset(const QString& appInstanceID)
{
    preferences().setObject(appInstanceID.isNull() ? QVariant() : QVariant(appInstanceID), kAppInstanceIDAfterResetKey);
}

QVariant APMAnalytics::deferredAnalyticsCollection()
{
    return preferences().objectForKey(kDeferredAnalyticsCollectionKey);
}

void APMAnalytics::setDeferredAnalyticsCollection(const QVariant& value)
{
    preferences().setObject(value, kDeferredAnalyticsCollectionKey);
}

void APMAnalytics::resetAnalyticsData()
{
    setLoadTimestamp(apm_frontend::state().environment.clock->now());
    // The counter outlives a crash in the middle of the reset: the engine's
    // next start wipes the data while it is above zero.
    setResetRetryCount(resetRetryCount() + 1);
    setNeedFirstOpenAfterReset(true);
    const QString appInstanceID = APMIdentity::randomAppInstanceID();
    if (appInstanceID.isEmpty()) {
        log(APMMonitor::kLevelErrorMonitored, 25039, QStringLiteral("Cannot generate a new app instance ID"));
        return;
    }
    // Without analytics storage the engine makes no new id of its own.
    QString used;
    if (!APMConsentSettingsUtil::isAnalyticsStorageDenied()) {
        used = appInstanceID;
        setAppInstanceIDAfterReset(appInstanceID);
    }
    queueOperationWithBlock([used] {
        APMMeasurement* engine = APMMeasurement::sharedInstance();
        if (!engine)
            return;
        if (!engine->resetAnalyticsDataWithAppInstanceID(used)) {
            log(APMMonitor::kLevelErrorMonitored, 25037, QStringLiteral("Failed to reset Analytics data"));
            return;
        }
        setResetRetryCount(0);
        if (appInstanceIDAfterReset() == used)
            preferences().removeObjectForKey(kAppInstanceIDAfterResetKey);
    });
}
