#pragma once

#include "analytics/engine/APMFrontEndLink.h"

// The front end's side of the engine's link: its stored state and its
// operation queue, as APMAnalytics keeps them.
class APMAnalyticsEngineLink final : public APMFrontEndLink {
public:
    qint64 resetRetryCount() override;
    void setResetRetryCount(qint64 count) override;
    bool needFirstOpenAfterReset() override;
    void removeNeedFirstOpenAfterReset() override;
    QString appInstanceIDAfterReset() override;
    void setAppInstanceIDAfterReset(const QString& appInstanceID) override;
    QVariant deferredAnalyticsCollection() override;
    void setDeferredAnalyticsCollection(const QVariant& value) override;

    std::optional<QVariantMap> consentSettings3P() override;
    std::optional<QVariantMap> consentSettings1PStart() override;
    std::optional<QVariantMap> consentSettingsTCF() override;
    void setConsent(const QVariantMap& consent, const QString& key) override;
    void clearConsent() override;
    void persistConsentSettings(const QVariantMap& settings, qint64 source) override;
    void removeStartUpConsentSettings() override;
    void removeDeferredResetOnDeniedConsent() override;

    void queueOperationWithBlock(std::function<void()> block) override;
};
