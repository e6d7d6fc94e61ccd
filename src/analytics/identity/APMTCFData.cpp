#include "analytics/identity/APMTCFData.h"

#include "analytics/base/APMConfigStore.h"
#include "analytics/base/APMHelpers.h"

const QString APMTCFData::kTCFDataEnabledKey = QStringLiteral("VIREO_ANALYTICS_TCF_DATA_ENABLED");
const QString APMTCFData::kEnableAdvertiserConsentModeKey
    = QStringLiteral("IABTCF_EnableAdvertiserConsentMode");
const QString APMTCFData::kVendorConsentsKey = QStringLiteral("IABTCF_VendorConsents");
const QString APMTCFData::kCmpSdkIDKey = QStringLiteral("IABTCF_CmpSdkID");
const QString APMTCFData::kGdprAppliesKey = QStringLiteral("IABTCF_gdprApplies");
const QString APMTCFData::kPolicyVersionKey = QStringLiteral("IABTCF_PolicyVersion");
const QString APMTCFData::kPurposeConsentsKey = QStringLiteral("IABTCF_PurposeConsents");

APMTCFData::APMTCFData(APMConfigStore& userDefaults, const QVariantMap& infoDictionary)
    : userDefaults_(userDefaults)
{
    const auto it = infoDictionary.constFind(kTCFDataEnabledKey);
    tcfDataEnabled_ = it == infoDictionary.cend() || (APMConfigStore::isNumber(*it) && it->toBool());
}

std::optional<QVariant> APMTCFData::numberForKey(const QString& key) const
{
    // The framework stores these keys as numbers. Text where a number belongs
    // is a malformed value and counts as absent: consent is never granted
    // from a value the framework would not have written.
    const QVariant value = userDefaults_.objectForKey(key);
    if (APMConfigStore::isNumber(value))
        return value;
    return std::nullopt;
}

std::optional<QString> APMTCFData::stringForKey(const QString& key) const
{
    const QVariant value = userDefaults_.objectForKey(key);
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    return std::nullopt;
}

void APMTCFData::readFromUserDefaults()
{
    advertiserConsentMode_ = numberForKey(kEnableAdvertiserConsentModeKey);
    vendorConsents_ = stringForKey(kVendorConsentsKey);
    cmpSDKID_ = numberForKey(kCmpSdkIDKey);
    gdprApplies_ = numberForKey(kGdprAppliesKey);
    policyVersion_ = numberForKey(kPolicyVersionKey);
    purposeConsents_ = stringForKey(kPurposeConsentsKey);
}

bool APMTCFData::boolValue(const std::optional<QVariant>& number)
{
    if (!number)
        return false;
    if (number->typeId() == QMetaType::Double)
        return number->toDouble() != 0.0; // NaN counts as true, as any non-zero number
    return APMConfigStore::int64FromNumber(*number) != 0;
}

qint64 APMTCFData::integerValue(const std::optional<QVariant>& number)
{
    return number ? APMConfigStore::int64FromNumber(*number) : 0;
}

bool APMTCFData::isPurposeGranted(qint64 purpose) const
{
    return purposeConsents_ && isBitEnabledAtIndex(*purposeConsents_, purpose - 1);
}

bool APMTCFData::hasVireoInVendorConsents() const
{
    return vendorConsents_ && isBitEnabledAtIndex(*vendorConsents_, kVireoVendorID - 1);
}

bool APMTCFData::isAdStoragePurposeGranted() const
{
    return isPurposeGranted(kPurposeStoreOnDevice);
}

bool APMTCFData::isAdPersonalizationPurposeGranted() const
{
    return isPurposeGranted(kPurposePersonalisedAdsProfile)
        && isPurposeGranted(kPurposeSelectPersonalisedAds);
}

bool APMTCFData::canAccessAdUserDataPurpose() const
{
    return policyVersion_ && integerValue(policyVersion_) > 3;
}

bool APMTCFData::isAdUserDataPurposeGranted() const
{
    return canAccessAdUserDataPurpose() && isPurposeGranted(kPurposeStoreOnDevice)
        && isPurposeGranted(kPurposeMeasureAdPerformance);
}
