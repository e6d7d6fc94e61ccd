#pragma once

#include "analytics/identity/APMTCFData.h"

#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>

class APMConfigStore;

// Turns the consent a consent-management platform stored under the IAB TCF
// keys into analytics consent. Each time the engine asks, it reads the keys;
// when they changed since the last look (remembered in the private suite
// "com.vireo.vmp.measurement.tcf.userdefaults", so also across launches) it
// logs the internal event "_tcf" with a five-character summary, remembers
// the new state and, when TCF applies to this user and this vendor, passes
// the consent of three types to the front end under the TCF source.
//
// Not locked: the engine calls it on its worker queue.
class APMTCFClient {
public:
    static const QString kSuiteName; // "com.vireo.vmp.measurement.tcf.userdefaults"
    static const QString kStringRepresentationKey; // "tcf_StringRepresentation"
    static const QString kConsentSettingsKey; // "consent_settings_tcf"
    static const QString& kEventOrigin; // "auto"
    static const QString kEventName; // "_tcf"
    static const QString kEventParameterName; // "_tcfd"

    struct Environment {
        // The application's defaults, where the platform writes; null: the
        // shared application defaults.
        APMConfigStore* userDefaults = nullptr;
        // The private suite; null: the suite kSuiteName.
        std::unique_ptr<APMConfigStore> tcfUserDefaults;
        // null: the application's information dictionary.
        std::optional<QVariantMap> infoDictionary;
        // The front end's consent entry and internal-event entry.
        std::function<void(const QVariantMap& consent, const QString& key)> setConsent;
        std::function<void(const QString& origin, const QString& name, const QVariantMap& parameters)>
            logInternalEvent;
    };

    explicit APMTCFClient(Environment environment);

    APMTCFData& tcfData() { return tcfData_; }
    bool isDMARegion() const { return isDMARegion_; }
    void setIsDMARegion(bool isDMARegion) { isDMARegion_ = isDMARegion; }

    void readTCFData();
    // Reads the keys; when they changed, logs, remembers and applies them.
    void setConsentFromTCFData();
    // TCF data enabled, advertiser consent mode on, this vendor consented
    // and the framework applies to the user.
    bool shouldApplyTCFData() const;
    void logTCFChangedEvent();
    void storeCurrentData();
    // "isTCFDataEnabled=1,cmpSDKID=300,..." with the values present.
    QString stringRepresentationFromTCFData() const;
    bool persistedValuesEqualCurrentData();
    // "1", the CMP ID in two characters, the policy version and the flags,
    // each from the alphabet 0-9 a-z A-Z - _.
    QString tcfBundleParameterValue() const;
    static QString consentStatusFromEnabled(bool enabled);
    void clearPersistedValues();

private:
    std::unique_ptr<APMConfigStore> tcfUserDefaults_;
    APMTCFData tcfData_;
    bool isDMARegion_ = true;
    std::function<void(const QVariantMap&, const QString&)> setConsent_;
    std::function<void(const QString&, const QString&, const QVariantMap&)> logInternalEvent_;
};
