// What a consent-management platform leaves in the application's defaults
// under the TCF keys, read by the TCF client at two launches in a row.
//
// Input: for each launch, one value per key (see fuzz::InputReader::value),
// the information dictionary's switch first.

#include "FuzzInput.h"
#include "FuzzTarget.h"
#include "MemoryConfigStore.h"
#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/identity/APMTCFClient.h"

namespace {

const QString kTcfKeys[]
    = { APMTCFData::kEnableAdvertiserConsentModeKey, APMTCFData::kVendorConsentsKey, APMTCFData::kCmpSdkIDKey,
          APMTCFData::kGdprAppliesKey, APMTCFData::kPolicyVersionKey, APMTCFData::kPurposeConsentsKey };

bool isBundleCharacter(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'-'
        || c == u'_';
}

} // namespace

PRAVIK_FUZZ_TARGET(tcf)
{
    fuzz::InputReader reader(input);
    MemoryConfigStore appDefaults;
    // The client's private suite outlives each client, as its file does.
    MemoryConfigStore privateSuite;

    for (int launch = 0; launch < 2; ++launch) {
        QVariantMap info;
        if (const QVariant enabled = reader.value(); enabled.isValid())
            info.insert(APMTCFData::kTCFDataEnabledKey, enabled);
        for (const QString& key : kTcfKeys)
            appDefaults.setObject(reader.value(), key);

        APMTCFClient::Environment environment;
        environment.userDefaults = &appDefaults;
        environment.tcfUserDefaults = std::make_unique<BorrowedConfigStore>(privateSuite);
        environment.infoDictionary = info;
        environment.setConsent = [](const QVariantMap& consent, const QString&) {
            for (auto it = consent.cbegin(); it != consent.cend(); ++it) {
                if (it.value() != APMConsentSettingsUtil::kGranted
                    && it.value() != APMConsentSettingsUtil::kDenied)
                    fuzz::fail("passed on a consent that is neither granted nor denied");
            }
        };
        environment.logInternalEvent = [](const QString&, const QString&, const QVariantMap&) {};
        APMTCFClient client(std::move(environment));
        client.setIsDMARegion(launch == 1);
        client.setConsentFromTCFData();

        const QString bundle = client.tcfBundleParameterValue();
        if (bundle.size() != 5 || bundle[0] != u'1')
            fuzz::fail("bundle value \"%s\" is not five characters after 1", qPrintable(bundle));
        for (const QChar c : bundle) {
            if (!isBundleCharacter(c))
                fuzz::fail("bundle value \"%s\" leaves the alphabet", qPrintable(bundle));
        }
        (void)client.stringRepresentationFromTCFData();
        (void)client.shouldApplyTCFData();
        APMTCFData& data = client.tcfData();
        (void)data.hasVireoInVendorConsents();
        (void)data.isAdStoragePurposeGranted();
        (void)data.isAdPersonalizationPurposeGranted();
        (void)data.canAccessAdUserDataPurpose();
        (void)data.isAdUserDataPurposeGranted();
    }
}
