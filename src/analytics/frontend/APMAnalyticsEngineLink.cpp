#include "analytics/frontend/APMAnalyticsEngineLink.h"

#include "analytics/frontend/APMAnalytics.h"

qint64 APMAnalyticsEngineLink::resetRetryCount()
{
    return APMAnalytics::resetRetryCount();
}

void APMAnalyticsEngineLink::setResetRetryCount(qint64 count)
{
    APMAnalytics::setResetRetryCount(count);
}

bool APMAnalyticsEngineLink::needFirstOpenAfterReset()
{
    return APMAnalytics::needFirstOpenAfterReset();
}

void APMAnalyticsEngineLink::removeNeedFirstOpenAfterReset()
{
    APMAnalytics::removeNeedFirstOpenAfterReset();
}

QString APMAnalyticsEngineLink::appInstanceIDAfterReset()
{
    return APMAnalytics::appInstanceIDAfterReset();
}

void APMAnalyticsEngineLink::setAppInstanceIDAfterReset(const QString& appInstanceID)
{
    APMAnalytics::setAppInstanceIDAfterReset(appInstanceID);
}

QVariant APMAnalyticsEngineLink::deferredAnalyticsCollection()
{
    return APMAnalytics::deferredAnalyticsCollection();
}

void APMAnalyticsEngineLink::setDeferredAnalyticsCollection(const QVariant& value)
{
    APMAnalytics::setDeferredAnalyticsCollection(value);
}

std::optional<QVariantMap> APMAnalyticsEngineLink::consentSettings3P()
{
    return APMAnalytics::consentSettings3P();
}

std::optional<QVariantMap> APMAnalyticsEngineLink::consentSettings1PStart()
{
    return APMAnalytics::consentSettings1PStart();
}

std::optional<QVariantMap> APMAnalyticsEngineLink::consentSettingsTCF()
{
    return APMAnalytics::consentSettingsTCF();
}

void APMAnalyticsEngineLink::setConsent(const QVariantMap& consent, const QString& key)
{
    APMAnalytics::setConsent(consent, key);
}

void APMAnalyticsEngineLink::clearConsent()
{
    APMAnalytics::clearConsent();
}

void APMAnalyticsEngineLink::persistConsentSettings(const QVariantMap& settings, qint64 source)
{
    APMAnalytics::persistConsentSettings(settings, source);
}

void APMAnalyticsEngineLink::removeStartUpConsentSettings()
{
    APMAnalytics::removeStartUpConsentSettings();
}

void APMAnalyticsEngineLink::removeDeferredResetOnDeniedConsent()
{
    APMAnalytics::removeDeferredResetOnDeniedConsent();
}

void APMAnalyticsEngineLink::queueOperationWithBlock(std::function<void()> block)
{
    APMAnalytics::queueOperationWithBlock(std::move(block));
}
