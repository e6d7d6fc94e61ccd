#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <QtGlobal>

#include <functional>
#include <optional>

// What the front end that made the engine keeps for it across runs (the
// reset bookkeeping, the consent it was given, the deferred-collection
// mark) and its operation queue, behind which engine work can wait for the
// events the front end still holds. The front end sits above the engine and
// hands the engine its link when it starts it; an engine without a front end
// has none. Any thread.
class APMFrontEndLink {
public:
    virtual ~APMFrontEndLink() = default;

    // Reset bookkeeping.
    virtual qint64 resetRetryCount() = 0;
    virtual void setResetRetryCount(qint64 count) = 0;
    virtual bool needFirstOpenAfterReset() = 0;
    virtual void removeNeedFirstOpenAfterReset() = 0;
    virtual QString appInstanceIDAfterReset() = 0;
    virtual void setAppInstanceIDAfterReset(const QString& appInstanceID) = 0;
    // Whether collection was off when the engine first decided; invalid: unset.
    virtual QVariant deferredAnalyticsCollection() = 0;
    virtual void setDeferredAnalyticsCollection(const QVariant& value) = 0;

    // Consent as the front end stored it.
    virtual std::optional<QVariantMap> consentSettings3P() = 0;
    virtual std::optional<QVariantMap> consentSettings1PStart() = 0;
    virtual std::optional<QVariantMap> consentSettingsTCF() = 0;
    virtual void setConsent(const QVariantMap& consent, const QString& key) = 0;
    virtual void clearConsent() = 0;
    virtual void persistConsentSettings(const QVariantMap& settings, qint64 source) = 0;
    virtual void removeStartUpConsentSettings() = 0;
    virtual void removeDeferredResetOnDeniedConsent() = 0;

    virtual void queueOperationWithBlock(std::function<void()> block) = 0;
};
