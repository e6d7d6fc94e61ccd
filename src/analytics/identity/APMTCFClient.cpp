#include "analytics/identity/APMTCFClient.h"

#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/config/APMInfoPlistFileUtil.h"
#include "analytics/base/APMUserDefaults.h"
#include "analytics/model/APMEventNames.h"

#include <QStringList>

const QString APMTCFClient::kSuiteName = QStringLiteral("com.vireo.vmp.measurement.tcf.userdefaults");
const QString APMTCFClient::kStringRepresentationKey = QStringLiteral("tcf_StringRepresentation");
const QString APMTCFClient::kConsentSettingsKey = QStringLiteral("consent_settings_tcf");
const QString& APMTCFClient::kEventOrigin = APMEventNames::kAutoOrigin;
const QString APMTCFClient::kEventName = QStringLiteral("_tcf");
const QString APMTCFClient::kEventParameterName = QStringLiteral("_tcfd");

namespace {

// The state string a client sees when TCF data is enabled and no
// consent-management platform wrote anything.
const QString kPlainEnabledState = QStringLiteral("isTCFDataEnabled=1");

const char kAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-_";
static_assert(sizeof(kAlphabet) == 65);

QChar alphabetCharacter(qint64 index)
{
    return QLatin1Char(index >= 0 && index < 64 ? kAlphabet[index] : '0');
}

} // namespace

APMTCFClient::APMTCFClient(Environment environment)
    : tcfUserDefaults_(environment.tcfUserDefaults ? std::move(environment.tcfUserDefaults)
                                                   : std::make_unique<APMUserDefaults>(kSuiteName))
    , tcfData_(environment.userDefaults ? *environment.userDefaults : APMUserDefaults::sharedUserDefaults(),
          environment.infoDictionary ? *environment.infoDictionary
                                     : APMInfoPlistFileUtil::mainBundleInfoDictionary())
    , setConsent_(std::move(environment.setConsent))
    , logInternalEvent_(std::move(environment.logInternalEvent))
{
}

void APMTCFClient::readTCFData()
{
    tcfData_.readFromUserDefaults();
}

void APMTCFClient::setConsentFromTCFData()
{
    readTCFData();
    if (persistedValuesEqualCurrentData())
        return;
    logTCFChangedEvent();
    storeCurrentData();
    if (!shouldApplyTCFData())
        return;
    const QVariantMap consent {
        { APMConsentSettingsUtil::kAdStorage,
            consentStatusFromEnabled(tcfData_.isAdStoragePurposeGranted()) },
        { APMConsentSettingsUtil::kAdPersonalization,
            consentStatusFromEnabled(tcfData_.isAdPersonalizationPurposeGranted()) },
        { APMConsentSettingsUtil::kAdUserData,
            consentStatusFromEnabled(tcfData_.isAdUserDataPurposeGranted()) },
    };
    if (setConsent_)
        setConsent_(consent, kConsentSettingsKey);
}

bool APMTCFClient::shouldApplyTCFData() const
{
    return tcfData_.isTCFDataEnabled() && APMTCFData::boolValue(tcfData_.isAdvertiserConsentModeEnabled())
        && tcfData_.hasVireoInVendorConsents() && APMTCFData::boolValue(tcfData_.gdprApplies());
}

void APMTCFClient::logTCFChangedEvent()
{
    if (logInternalEvent_)
        logInternalEvent_(kEventOrigin, kEventName, { { kEventParameterName, tcfBundleParameterValue() } });
}

void APMTCFClient::storeCurrentData()
{
    const auto stored = [](const auto& value) { return value ? QVariant(*value) : QVariant(); };
    APMConfigStore& store = *tcfUserDefaults_;
    store.setBool(tcfData_.isTCFDataEnabled(), APMTCFData::kTCFDataEnabledKey);
    store.setObject(
        stored(tcfData_.isAdvertiserConsentModeEnabled()), APMTCFData::kEnableAdvertiserConsentModeKey);
    store.setObject(stored(tcfData_.cmpSDKID()), APMTCFData::kCmpSdkIDKey);
    store.setObject(stored(tcfData_.vendorConsents()), APMTCFData::kVendorConsentsKey);
    store.setObject(stored(tcfData_.gdprApplies()), APMTCFData::kGdprAppliesKey);
    store.setObject(stored(tcfData_.policyVersion()), APMTCFData::kPolicyVersionKey);
    store.setObject(stored(tcfData_.purposeConsents()), APMTCFData::kPurposeConsentsKey);
    store.setObject(stringRepresentationFromTCFData(), kStringRepresentationKey);
}

QString APMTCFClient::stringRepresentationFromTCFData() const
{
    const auto flag = [](bool value) { return value ? 1 : 0; };
    QStringList items { QStringLiteral("isTCFDataEnabled=%1").arg(flag(tcfData_.isTCFDataEnabled())) };
    if (tcfData_.isAdvertiserConsentModeEnabled())
        items.append(QStringLiteral("isAdvertiserConsentModeEnabled=%1")
                         .arg(flag(APMTCFData::boolValue(tcfData_.isAdvertiserConsentModeEnabled()))));
    if (tcfData_.cmpSDKID())
        items.append(QStringLiteral("cmpSDKID=%1").arg(APMTCFData::integerValue(tcfData_.cmpSDKID())));
    if (tcfData_.vendorConsents())
        items.append(
            QStringLiteral("hasVireoInVendorConsents=%1").arg(flag(tcfData_.hasVireoInVendorConsents())));
    if (tcfData_.gdprApplies())
        items.append(
            QStringLiteral("gdprApplies=%1").arg(flag(APMTCFData::boolValue(tcfData_.gdprApplies()))));
    if (tcfData_.policyVersion())
        items.append(
            QStringLiteral("policyVersion=%1").arg(APMTCFData::integerValue(tcfData_.policyVersion())));
    if (tcfData_.purposeConsents())
        items.append(QStringLiteral("purposeConsents=%1").arg(*tcfData_.purposeConsents()));
    return items.join(QLatin1Char(','));
}

bool APMTCFClient::persistedValuesEqualCurrentData()
{
    const QString current = stringRepresentationFromTCFData();
    const QVariant stored = tcfUserDefaults_->objectForKey(kStringRepresentationKey);
    if (!stored.isValid())
        return current == kPlainEnabledState;
    return stored.typeId() == QMetaType::QString && stored.toString() == current;
}

QString APMTCFClient::tcfBundleParameterValue() const
{
    qint64 cmpID = APMTCFData::integerValue(tcfData_.cmpSDKID());
    if (cmpID < 0 || cmpID > 4095)
        cmpID = 0;
    const qint64 policyVersion = APMTCFData::integerValue(tcfData_.policyVersion());
    qint64 flags = 0;
    if (isDMARegion_)
        flags |= 1;
    if (APMTCFData::boolValue(tcfData_.gdprApplies()))
        flags |= 2;
    if (tcfData_.isTCFDataEnabled())
        flags |= 4;
    if (APMTCFData::boolValue(tcfData_.isAdvertiserConsentModeEnabled()))
        flags |= 8;
    return QStringLiteral("1") + alphabetCharacter((cmpID >> 6) & 63) + alphabetCharacter(cmpID & 63)
        + alphabetCharacter(policyVersion) + alphabetCharacter(flags);
}

QString APMTCFClient::consentStatusFromEnabled(bool enabled)
{
    return enabled ? APMConsentSettingsUtil::kGranted : APMConsentSettingsUtil::kDenied;
}

void APMTCFClient::clearPersistedValues()
{
    tcfUserDefaults_->clearAllData();
}
