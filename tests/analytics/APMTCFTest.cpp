#include "analytics/identity/APMTCFClient.h"
#include "analytics/base/APMUserDefaults.h"
#include "platform/Preferences.h"

#include <QFile>
#include <QTemporaryDir>

#include <array>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

// A vendor-consent string as consent-management platforms write it: one
// character per vendor ID, here a scattering of consents with ours (755) set
// or not.
QString vendorConsents(int length, bool withVireo)
{
    QString bits(length, QLatin1Char('0'));
    for (int id = 1; id <= length; id += 7)
        bits[id - 1] = QLatin1Char('1');
    if (length >= 755)
        bits[754] = withVireo ? QLatin1Char('1') : QLatin1Char('0');
    return bits;
}

struct LoggedEvent {
    QString origin;
    QString name;
    QVariantMap parameters;
};

struct AppliedConsent {
    QVariantMap consent;
    QString key;
};

class TCFTest : public ::testing::Test {
protected:
    TCFTest()
        : appPreferences_(dir_.filePath(QStringLiteral("app.plist")))
        , appDefaults_(QString(), appPreferences_)
    {
    }

    // A client as the engine makes one at each launch: the private suite
    // lives in its file across clients.
    std::unique_ptr<APMTCFClient> makeClient(QVariantMap infoDictionary = {})
    {
        tcfPreferences_.push_back(
            std::make_unique<platform::Preferences>(dir_.filePath(QStringLiteral("tcf.plist"))));
        APMTCFClient::Environment e;
        e.userDefaults = &appDefaults_;
        e.tcfUserDefaults = std::make_unique<APMUserDefaults>(APMTCFClient::kSuiteName, tcfPreferences());
        e.infoDictionary = infoDictionary;
        e.setConsent = [this](const QVariantMap& consent, const QString& key) {
            applied_.push_back({ consent, key });
        };
        e.logInternalEvent
            = [this](const QString& origin, const QString& name, const QVariantMap& parameters) {
                  events_.push_back({ origin, name, parameters });
              };
        return std::make_unique<APMTCFClient>(std::move(e));
    }

    // What a platform writes for a user in the framework's reach who
    // consented to everything, under policy version 4.
    void writeFullConsent()
    {
        appPreferences_.setValue(APMTCFData::kCmpSdkIDKey, 300);
        appPreferences_.setValue(APMTCFData::kPolicyVersionKey, 4);
        appPreferences_.setValue(APMTCFData::kGdprAppliesKey, 1);
        appPreferences_.setValue(APMTCFData::kEnableAdvertiserConsentModeKey, 1);
        appPreferences_.setValue(APMTCFData::kPurposeConsentsKey, QStringLiteral("11111111111"));
        appPreferences_.setValue(APMTCFData::kVendorConsentsKey, vendorConsents(1100, true));
    }

    // The private suite of the latest client.
    platform::Preferences& tcfPreferences() { return *tcfPreferences_.back(); }

    QString tcfParameter(size_t index) const
    {
        return events_.at(index).parameters.value(APMTCFClient::kEventParameterName).toString();
    }

    QTemporaryDir dir_;
    platform::Preferences appPreferences_;
    APMUserDefaults appDefaults_;
    // One per client, each kept while any client may still use it.
    std::vector<std::unique_ptr<platform::Preferences>> tcfPreferences_;
    std::vector<LoggedEvent> events_;
    std::vector<AppliedConsent> applied_;
};

TEST_F(TCFTest, PlatformChoicesBecomeConsent)
{
    struct Case {
        const char* name;
        QVariantMap changes; // over writeFullConsent(); an invalid value removes the key
        // granted flags of ad_storage, ad_personalization, ad_user_data; nothing applied when absent
        std::optional<std::array<bool, 3>> granted;
        const char* summary;
    };
    const QVariant removed;
    const std::vector<Case> cases {
        { "everything under policy 4", {}, std::array { true, true, true }, "14I4f" },
        { "policy 3 has no ad-user-data purpose", { { APMTCFData::kPolicyVersionKey, 3 } },
            std::array { true, true, false }, "14I3f" },
        { "policy 2 neither", { { APMTCFData::kPolicyVersionKey, 2 } }, std::array { true, true, false },
            "14I2f" },
        { "one purpose only", { { APMTCFData::kPurposeConsentsKey, QStringLiteral("1") } },
            std::array { true, false, false }, "14I4f" },
        { "no profile purpose", { { APMTCFData::kPurposeConsentsKey, QStringLiteral("1101111") } },
            std::array { true, false, true }, "14I4f" },
        { "no storage purpose", { { APMTCFData::kPurposeConsentsKey, QStringLiteral("0111111111") } },
            std::array { false, true, false }, "14I4f" },
        { "no purposes stored", { { APMTCFData::kPurposeConsentsKey, removed } },
            std::array { false, false, false }, "14I4f" },
        // The framework writes these keys as numbers: text where a number
        // belongs is malformed and counts as absent, so it never grants consent.
        { "gdprApplies written as text", { { APMTCFData::kGdprAppliesKey, QStringLiteral("1") } },
            std::nullopt, "14I4d" },
        { "gdprApplies as a boolean", { { APMTCFData::kGdprAppliesKey, true } },
            std::array { true, true, true }, "14I4f" },
        { "numbers written as text",
            { { APMTCFData::kPolicyVersionKey, QStringLiteral("4") },
                { APMTCFData::kCmpSdkIDKey, QStringLiteral(" 300 ") } },
            std::array { true, true, false }, "1000f" },
        { "framework does not apply", { { APMTCFData::kGdprAppliesKey, 0 } }, std::nullopt, "14I4d" },
        { "framework does not apply, as text", { { APMTCFData::kGdprAppliesKey, QStringLiteral("0") } },
            std::nullopt, "14I4d" },
        { "gdprApplies unreadable", { { APMTCFData::kGdprAppliesKey, QStringLiteral("yes") } }, std::nullopt,
            "14I4d" },
        { "gdprApplies unknown", { { APMTCFData::kGdprAppliesKey, removed } }, std::nullopt, "14I4d" },
        { "vendor string shorter than our ID",
            { { APMTCFData::kVendorConsentsKey, vendorConsents(754, true) } }, std::nullopt, "14I4f" },
        { "vendor without consent", { { APMTCFData::kVendorConsentsKey, vendorConsents(800, false) } },
            std::nullopt, "14I4f" },
        { "vendor consents not a string", { { APMTCFData::kVendorConsentsKey, 1 } }, std::nullopt, "14I4f" },
        { "advertiser consent mode off", { { APMTCFData::kEnableAdvertiserConsentModeKey, 0 } }, std::nullopt,
            "14I47" },
        { "advertiser consent mode unset", { { APMTCFData::kEnableAdvertiserConsentModeKey, removed } },
            std::nullopt, "14I47" },
        { "CMP ID out of range", { { APMTCFData::kCmpSdkIDKey, 5000 } }, std::array { true, true, true },
            "1004f" },
        { "CMP ID negative", { { APMTCFData::kCmpSdkIDKey, -1 } }, std::array { true, true, true }, "1004f" },
        { "CMP ID at the top", { { APMTCFData::kCmpSdkIDKey, 4095 } }, std::array { true, true, true },
            "1__4f" },
        { "policy version past the alphabet", { { APMTCFData::kPolicyVersionKey, 64 } },
            std::array { true, true, true }, "14I0f" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const QString& key : appPreferences_.storedValues().keys())
            appPreferences_.remove(key);
        writeFullConsent();
        for (auto it = c.changes.cbegin(); it != c.changes.cend(); ++it)
            appPreferences_.setValue(it.key(), it.value());
        events_.clear();
        applied_.clear();
        QFile::remove(dir_.filePath(QStringLiteral("tcf.plist")));

        auto client = makeClient();
        client->setConsentFromTCFData();

        ASSERT_EQ(events_.size(), 1u);
        EXPECT_EQ(events_[0].origin, QStringLiteral("auto"));
        EXPECT_EQ(events_[0].name, QStringLiteral("_tcf"));
        EXPECT_EQ(events_[0].parameters.keys(), QStringList { QStringLiteral("_tcfd") });
        EXPECT_EQ(tcfParameter(0), QString::fromLatin1(c.summary));
        if (!c.granted) {
            EXPECT_TRUE(applied_.empty());
            continue;
        }
        ASSERT_EQ(applied_.size(), 1u);
        EXPECT_EQ(applied_[0].key, QStringLiteral("consent_settings_tcf"));
        const auto status
            = [](bool granted) { return granted ? QStringLiteral("granted") : QStringLiteral("denied"); };
        EXPECT_EQ(applied_[0].consent,
            (QVariantMap { { QStringLiteral("ad_storage"), status((*c.granted)[0]) },
                { QStringLiteral("ad_personalization"), status((*c.granted)[1]) },
                { QStringLiteral("ad_user_data"), status((*c.granted)[2]) } }));
    }
}

TEST_F(TCFTest, AChangeIsLoggedOnceAcrossCallsAndLaunches)
{
    writeFullConsent();
    auto client = makeClient();
    client->setConsentFromTCFData();
    client->setConsentFromTCFData();
    EXPECT_EQ(events_.size(), 1u);
    EXPECT_EQ(applied_.size(), 1u);

    // The next launch: same keys, nothing new.
    client = makeClient();
    client->setConsentFromTCFData();
    EXPECT_EQ(events_.size(), 1u);

    // The user withdraws a purpose while the application is not running.
    appPreferences_.setValue(APMTCFData::kPurposeConsentsKey, QStringLiteral("0111111111"));
    client = makeClient();
    client->setConsentFromTCFData();
    client->setConsentFromTCFData();
    ASSERT_EQ(events_.size(), 2u);
    ASSERT_EQ(applied_.size(), 2u);
    EXPECT_EQ(applied_[1].consent.value(QStringLiteral("ad_storage")), QStringLiteral("denied"));

    // Forgetting what was seen makes the next call report again.
    client->clearPersistedValues();
    client->setConsentFromTCFData();
    EXPECT_EQ(events_.size(), 3u);
}

TEST_F(TCFTest, TheRememberedCopyFollowsTheKeys)
{
    writeFullConsent();
    auto client = makeClient();
    client->setConsentFromTCFData();
    EXPECT_EQ(client->stringRepresentationFromTCFData(),
        QStringLiteral(
            "isTCFDataEnabled=1,isAdvertiserConsentModeEnabled=1,cmpSDKID=300,"
            "hasVireoInVendorConsents=1,gdprApplies=1,policyVersion=4,purposeConsents=11111111111"));
    const QVariantMap stored = tcfPreferences().storedValues();
    EXPECT_EQ(
        stored.value(QStringLiteral("tcf_StringRepresentation")), client->stringRepresentationFromTCFData());
    EXPECT_EQ(stored.value(QStringLiteral("VIREO_ANALYTICS_TCF_DATA_ENABLED")), QVariant(true));
    EXPECT_EQ(stored.value(APMTCFData::kCmpSdkIDKey), QVariant(300));
    EXPECT_EQ(stored.value(APMTCFData::kVendorConsentsKey), vendorConsents(1100, true));

    // A key the platform removed disappears from the copy too, and so does a
    // number written as text: it is malformed, so it counts as absent.
    appPreferences_.remove(APMTCFData::kVendorConsentsKey);
    appPreferences_.setValue(APMTCFData::kGdprAppliesKey, QStringLiteral("1"));
    appPreferences_.setValue(APMTCFData::kCmpSdkIDKey, 301);
    client->setConsentFromTCFData();
    const QVariantMap after = tcfPreferences().storedValues();
    EXPECT_FALSE(after.contains(APMTCFData::kVendorConsentsKey));
    EXPECT_FALSE(after.contains(APMTCFData::kGdprAppliesKey));
    EXPECT_EQ(client->stringRepresentationFromTCFData(),
        QStringLiteral("isTCFDataEnabled=1,isAdvertiserConsentModeEnabled=1,cmpSDKID=301,"
                       "policyVersion=4,purposeConsents=11111111111"));
}

TEST_F(TCFTest, WithoutAPlatformNothingIsLoggedUnlessTCFIsSwitchedOff)
{
    struct Case {
        const char* name;
        QVariantMap info;
        bool enabled;
        size_t events;
        const char* summary;
    };
    const std::vector<Case> cases {
        { "no switch", {}, true, 0, "" },
        { "switched on", { { APMTCFData::kTCFDataEnabledKey, true } }, true, 0, "" },
        { "switched on with 1", { { APMTCFData::kTCFDataEnabledKey, 1 } }, true, 0, "" },
        { "switched off", { { APMTCFData::kTCFDataEnabledKey, false } }, false, 1, "10001" },
        { "switch written as text", { { APMTCFData::kTCFDataEnabledKey, QStringLiteral("YES") } }, false, 1,
            "10001" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        events_.clear();
        QFile::remove(dir_.filePath(QStringLiteral("tcf.plist")));
        auto client = makeClient(c.info);
        EXPECT_EQ(client->tcfData().isTCFDataEnabled(), c.enabled);
        client->setConsentFromTCFData();
        client->setConsentFromTCFData();
        ASSERT_EQ(events_.size(), c.events);
        if (c.events) {
            EXPECT_EQ(tcfParameter(0), QString::fromLatin1(c.summary));
        }
        EXPECT_TRUE(applied_.empty());
    }
}

TEST_F(TCFTest, TheSummaryCarriesTheRegionFlag)
{
    auto client = makeClient();
    client->readTCFData();
    EXPECT_EQ(client->tcfBundleParameterValue(), QStringLiteral("10005"));
    client->setIsDMARegion(false);
    EXPECT_EQ(client->tcfBundleParameterValue(), QStringLiteral("10004"));
    writeFullConsent();
    client->readTCFData();
    EXPECT_EQ(client->tcfBundleParameterValue(), QStringLiteral("14I4e"));
    // The full consent with vendor consent, gdpr and mode would apply, but the
    // TCF switch decides first.
    auto disabled = makeClient({ { APMTCFData::kTCFDataEnabledKey, false } });
    disabled->readTCFData();
    EXPECT_FALSE(disabled->shouldApplyTCFData());
}

} // namespace
