#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

class APMConfigStore;

// One look at the consent choices a consent-management platform stored in
// the application's defaults under the IAB Transparency and Consent
// Framework (version 2) keys, with the few conclusions the analytics library
// draws from them.
//
// Number keys hold numbers; some platforms write them as decimal text
// ("1"), which is read as the number it spells. Anything else under a key
// counts as absent.
class APMTCFData {
public:
    static const QString kTCFDataEnabledKey; // "VIREO_ANALYTICS_TCF_DATA_ENABLED"
    static const QString kEnableAdvertiserConsentModeKey; // "IABTCF_EnableAdvertiserConsentMode"
    static const QString kVendorConsentsKey; // "IABTCF_VendorConsents"
    static const QString kCmpSdkIDKey; // "IABTCF_CmpSdkID"
    static const QString kGdprAppliesKey; // "IABTCF_gdprApplies"
    static const QString kPolicyVersionKey; // "IABTCF_PolicyVersion"
    static const QString kPurposeConsentsKey; // "IABTCF_PurposeConsents"

    // Bit positions (counted from 1) in the consent strings.
    static constexpr qint64 kVireoVendorID = 755;
    static constexpr qint64 kPurposeStoreOnDevice = 1;
    static constexpr qint64 kPurposePersonalisedAdsProfile = 3;
    static constexpr qint64 kPurposeSelectPersonalisedAds = 4;
    static constexpr qint64 kPurposeMeasureAdPerformance = 7;

    // TCF data is enabled unless the information dictionary switches it
    // off with a number (a value of another kind also switches it off).
    APMTCFData(APMConfigStore& userDefaults, const QVariantMap& infoDictionary);

    APMConfigStore& userDefaults() const { return userDefaults_; }
    bool isTCFDataEnabled() const { return tcfDataEnabled_; }

    // Nothing until readFromUserDefaults(); then what the keys hold.
    const std::optional<QVariant>& isAdvertiserConsentModeEnabled() const { return advertiserConsentMode_; }
    const std::optional<QString>& vendorConsents() const { return vendorConsents_; }
    const std::optional<QVariant>& cmpSDKID() const { return cmpSDKID_; }
    const std::optional<QVariant>& gdprApplies() const { return gdprApplies_; }
    const std::optional<QVariant>& policyVersion() const { return policyVersion_; }
    const std::optional<QString>& purposeConsents() const { return purposeConsents_; }

    void readFromUserDefaults();

    bool hasVireoInVendorConsents() const;
    bool isAdStoragePurposeGranted() const;
    bool isAdPersonalizationPurposeGranted() const;
    // Policy version 4 and later carry the ad-user-data purpose.
    bool canAccessAdUserDataPurpose() const;
    bool isAdUserDataPurposeGranted() const;

    // A present number's truth (non-zero) and integer reading.
    static bool boolValue(const std::optional<QVariant>& number);
    static qint64 integerValue(const std::optional<QVariant>& number);

private:
    std::optional<QVariant> numberForKey(const QString& key) const;
    std::optional<QString> stringForKey(const QString& key) const;
    bool isPurposeGranted(qint64 purpose) const;

    APMConfigStore& userDefaults_;
    bool tcfDataEnabled_;
    std::optional<QVariant> advertiserConsentMode_;
    std::optional<QString> vendorConsents_;
    std::optional<QVariant> cmpSDKID_;
    std::optional<QVariant> gdprApplies_;
    std::optional<QVariant> policyVersion_;
    std::optional<QString> purposeConsents_;
};
