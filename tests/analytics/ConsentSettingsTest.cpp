#include "analytics/config/APMConsentSettingsUtil.h"

#include <gtest/gtest.h>
#include <optional>
#include <thread>
#include <vector>

namespace {

using U = APMConsentSettingsUtil;

class ConsentSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }

    static void reset()
    {
        U::clearAllSettings();
        U::setVersion(1);
    }
};

TEST_F(ConsentSettingsTest, NothingSaid)
{
    EXPECT_FALSE(U::isAdStorageDenied());
    EXPECT_FALSE(U::isAnalyticsStorageDenied());
    EXPECT_FALSE(U::isAdUserDataDenied());
    EXPECT_EQ(U::adPersonalization(), std::nullopt);
    EXPECT_EQ(U::consentSignals(), QStringLiteral("G1--"));
    EXPECT_EQ(U::consentDiagnostics(), QStringLiteral("19999"));
    EXPECT_EQ(U::consentSource(), 100);
    EXPECT_EQ(U::consentSettings(), std::nullopt);
    EXPECT_EQ(U::description(), QStringLiteral("ad_storage is granted. analytics_storage is granted."));
}

TEST_F(ConsentSettingsTest, ResolvingEachType)
{
    const QString denied = U::kDenied;
    const QString granted = U::kGranted;
    const struct {
        const char* what;
        QVariantMap consent;
        std::optional<QVariantMap> defaults;
        std::optional<QVariantMap> delegated;
        std::optional<QVariantMap> regional;
        bool adStorageDenied;
        bool analyticsDenied;
        bool userDataDenied;
        std::optional<qint64> personalization;
        const char* signalString;
        const char* diagnostics;
    } rows[] = {
        { "storage default falls back to granted", { { U::kAdStorage, U::kDefault } }, {}, {}, {}, false,
            false, false, {}, "G11-", "18999" },
        { "user data default falls back to denied", { { U::kAdUserData, U::kDefault } }, {}, {}, {}, false,
            false, true, {}, "G1--", "19989" },
        { "personalization default falls back to denied",
            { { U::kAdPersonalization, QStringLiteral("DEFAULT") } }, {}, {}, {}, false, false, false, 0,
            "G1--", "19998" },
        { "values in capitals",
            { { U::kAdStorage, QStringLiteral("DENIED") }, { U::kAnalyticsStorage, "Granted" } }, {}, {}, {},
            true, false, false, {}, "G101", "10099" },
        { "regional default", { { U::kAdStorage, U::kDefault } }, {}, {},
            QVariantMap { { U::kAdStorage, denied } }, true, false, false, {}, "G10-", "18999" },
        { "user data follows ad storage", { { U::kAdStorage, denied } }, {},
            QVariantMap { { U::kAdUserData, U::kAdStorage } }, {}, true, false, true, {}, "G10-", "10929" },
        { "user data follows ad storage's regional default", { { U::kAdStorage, U::kDefault } }, {},
            QVariantMap { { U::kAdUserData, U::kAdStorage } }, QVariantMap { { U::kAdStorage, denied } },
            true, false, true, {}, "G10-", "18929" },
        { "delegation without a value to follow", {}, QVariantMap { { U::kAdUserData, denied } },
            QVariantMap { { U::kAdUserData, U::kAdStorage } }, {}, false, false, true, {}, "G1--", "19929" },
        { "defaults of the configuration", {},
            QVariantMap {
                { U::kAdUserData, denied }, { U::kAdPersonalization, granted }, { U::kAdStorage, denied } },
            {}, {}, false, false, true, 1, "G1--", "19911" },
        { "explicit beats defaults", { { U::kAdPersonalization, granted }, { U::kAdUserData, granted } },
            QVariantMap { { U::kAdUserData, denied }, { U::kAdPersonalization, denied } }, {}, {}, false,
            false, false, 1, "G1--", "19900" },
        { "a value that is not text is no value", { { U::kAdStorage, false }, { U::kAdUserData, 2 } },
            QVariantMap { { U::kAdUserData, denied } }, {}, {}, false, false, true, {}, "G1--", "19919" },
        { "an unknown word is no value", { { U::kAnalyticsStorage, QStringLiteral("maybe") } }, {}, {}, {},
            false, false, false, {}, "G1--", "19999" },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        U::clearAllSettings();
        U::setConsentSettings(row.consent);
        U::setDefaultSettings(row.defaults);
        U::setDelegatedSettings(row.delegated);
        U::setRegionalDefaults(row.regional);
        EXPECT_EQ(U::isAdStorageDenied(), row.adStorageDenied);
        EXPECT_EQ(U::isAnalyticsStorageDenied(), row.analyticsDenied);
        EXPECT_EQ(U::isAdUserDataDenied(), row.userDataDenied);
        EXPECT_EQ(U::adPersonalization(), row.personalization);
        EXPECT_EQ(U::consentSignals(), QString::fromLatin1(row.signalString));
        EXPECT_EQ(U::consentDiagnostics(), QString::fromLatin1(row.diagnostics));
    }
}

TEST_F(ConsentSettingsTest, SourcesAndPriorities)
{
    const struct {
        qint64 current;
        qint64 offered;
        bool equal;
        bool wins;
    } rows[] = {
        { 5, 10, true, true },
        { 10, 5, true, true },
        { 10, 10, true, true },
        { 20, 30, false, false },
        { 100, 20, false, true },
        { 30, 20, false, true },
        { 40, 30, false, true },
        { 5, 20, false, false },
        { 10, 20, false, false },
        { 100, 100, true, true },
        { 20, 5, false, true },
    };
    for (const auto& row : rows) {
        U::setConsentSource(row.current);
        EXPECT_EQ(U::isConsentSourceEqualPriority(row.offered), row.equal)
            << row.current << " " << row.offered;
        EXPECT_EQ(U::isConsentSourceHigherPriority(row.offered), row.wins)
            << row.current << " " << row.offered;
    }
}

TEST_F(ConsentSettingsTest, DiagnosticsFollowTheSource)
{
    const struct {
        qint64 source;
        const char* diagnostics;
    } rows[] = {
        { U::SourceTCF, "17999" },
        { U::SourceThirdParty, "15999" },
        { U::SourceInfoDictionary, "13999" },
        { U::SourceApplication, "15999" },
        { U::SourceApplicationAtStart, "14999" },
        { 7, "10999" },
    };
    for (const auto& row : rows) {
        U::clearAllSettings();
        U::updateSettingsConsentSource({ { U::kAdStorage, U::kGranted } }, row.source);
        EXPECT_EQ(U::consentSource(), row.source);
        EXPECT_EQ(U::consentDiagnostics(), QString::fromLatin1(row.diagnostics)) << row.source;
    }

    // The first time, with no table yet.
    U::clearAllSettings();
    U::updateSettingsConsentSource(
        { { U::kAdUserData, U::kDenied }, { QStringLiteral("other"), 1 } }, U::SourceTCF);
    EXPECT_EQ(U::consentDiagnostics(), QStringLiteral("19979"));
    // Merging without a source keeps source and codes; a new source re-labels every explicit value.
    U::updateSettings({ { U::kAdStorage, U::kDefault } });
    EXPECT_EQ(U::consentSource(), U::SourceTCF);
    EXPECT_EQ(U::consentDiagnostics(), QStringLiteral("18979"));
    U::setConsentSource(U::SourceApplicationAtStart);
    EXPECT_EQ(U::consentDiagnostics(), QStringLiteral("18949"));
    U::setDiagnosticSource(3, U::kAnalyticsStorage);
    U::refreshDiagnosticSources(false);
    EXPECT_EQ(U::consentDiagnostics(), QStringLiteral("18949")); // no explicit value: not set

    // No settings at all means no source either.
    U::setConsentSettings(std::nullopt);
    EXPECT_EQ(U::consentSource(), 100);
    EXPECT_EQ(U::consentDiagnostics(), QStringLiteral("19999"));
}

TEST_F(ConsentSettingsTest, MergingAndUnsetting)
{
    U::updateSettings({ { U::kAdStorage, U::kDenied }, { U::kAdPersonalization, U::kGranted } });
    U::updateSettings({ { U::kAdStorage, U::kGranted } });
    EXPECT_EQ(U::consentSettings(),
        (QVariantMap { { U::kAdStorage, U::kGranted }, { U::kAdPersonalization, U::kGranted } }));
    EXPECT_EQ(U::adPersonalization(), 1);

    U::unsetAdPersonalization();
    EXPECT_EQ(U::consentSettings(), (QVariantMap { { U::kAdStorage, U::kGranted } }));
    EXPECT_EQ(U::adPersonalization(), std::nullopt);
    U::unsetAdPersonalization();
    EXPECT_EQ(U::consentSettings(), (QVariantMap { { U::kAdStorage, U::kGranted } }));

    EXPECT_TRUE(U::didAdUserDataConsentChange(true));
    EXPECT_FALSE(U::didAdUserDataConsentChange(false));
    U::updateSettings({ { U::kAdUserData, U::kDenied } });
    EXPECT_TRUE(U::didAdUserDataConsentChange(false));

    U::setDefaultSettings(QVariantMap { { U::kAdUserData, U::kDenied } });
    U::setRegionalDefaults(QVariantMap { { U::kAdStorage, U::kDenied } });
    U::setConsentSource(U::SourceApplication);
    U::clearAllSettings();
    EXPECT_EQ(U::consentSource(), 100);
    EXPECT_EQ(U::consentSettings(), std::nullopt);
    EXPECT_EQ(U::defaultSettings(), std::nullopt);
    EXPECT_EQ(U::delegatedSettings(), std::nullopt);
    EXPECT_EQ(U::regionalDefaults(), std::nullopt);
    EXPECT_EQ(U::consentDiagnostics(), QStringLiteral("19999"));
}

TEST_F(ConsentSettingsTest, OnlyTwoVersionsExist)
{
    for (const qint64 candidate : { 2, 3, 0, -1 }) {
        U::setVersion(candidate);
        EXPECT_EQ(U::version(), 2) << candidate;
    }
    U::setVersion(1);
    EXPECT_EQ(U::version(), 1);
}

TEST_F(ConsentSettingsTest, TypesAndValuesByNumber)
{
    EXPECT_EQ(U::consentTypeForNumber(1), U::kAdStorage);
    EXPECT_EQ(U::consentTypeForNumber(4), U::kAdPersonalization);
    EXPECT_EQ(U::consentTypeForNumber(0), QString());
    EXPECT_EQ(U::consentTypeForNumber(5), QString());
    EXPECT_EQ(U::numberForConsentType(U::kAdUserData), 3);
    EXPECT_EQ(U::numberForConsentType(QStringLiteral("AD_STORAGE")), 0);
    EXPECT_EQ(U::numberForConsentValue(QStringLiteral("GRANTED")), 1);
    EXPECT_EQ(U::numberForConsentValue(U::kDenied), 2);
    EXPECT_EQ(U::numberForConsentValue(U::kDefault), 0);
    EXPECT_EQ(U::numberForConsentValue(true), 0);
}

TEST_F(ConsentSettingsTest, SettingsFromADictionary)
{
    const QVariantMap options { { U::kAdStorage, U::kDenied }, { U::kAdUserData, 7 },
        { QStringLiteral("app_metrics_log_tag"), QStringLiteral("x") } };
    EXPECT_EQ(U::consentSettingsFromDictionary(options),
        (QVariantMap { { U::kAdStorage, U::kDenied }, { U::kAdUserData, 7 } }));
    EXPECT_TRUE(U::consentSettingsFromDictionary({}).isEmpty());
}

TEST_F(ConsentSettingsTest, InformationDictionaryDefaults)
{
    const QString storage = U::kDefaultAllowAdStorageKey;
    const QString personalization = U::kDefaultAllowAdPersonalizationSignalsKey;
    const struct {
        const char* what;
        QString key;
        QVariant value;
        std::optional<QString> expected;
    } rows[] = {
        { "false", storage, false, U::kDenied },
        { "true", storage, true, U::kGranted },
        { "one", storage, 1, U::kGranted },
        { "zero", storage, 0.0, U::kDenied },
        { "YES", storage, QStringLiteral("YES"), U::kGranted },
        { "true as text", storage, QStringLiteral("true"), U::kGranted },
        { "no", storage, QStringLiteral("no"), U::kDenied },
        { "default", storage, QStringLiteral("Default"), U::kDefault },
        { "a dictionary", storage, QVariantMap(), std::nullopt },
        { "analytics", U::kDefaultAllowAnalyticsStorageKey, false, U::kDenied },
        { "user data", U::kDefaultAllowAdUserDataKey, QStringLiteral("default"), U::kDefault },
        { "personalization as a boolean", personalization, false, std::nullopt },
        { "personalization as text", personalization, QStringLiteral("false"), U::kDenied },
        { "personalization default", personalization, QStringLiteral("DEFAULT"), U::kDefault },
    };
    const QMap<QString, QString> typeOfKey { { storage, U::kAdStorage },
        { U::kDefaultAllowAnalyticsStorageKey, U::kAnalyticsStorage },
        { U::kDefaultAllowAdUserDataKey, U::kAdUserData }, { personalization, U::kAdPersonalization } };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const QVariantMap settings = U::consentSettingsFromPlist({ { row.key, row.value } });
        if (row.expected)
            EXPECT_EQ(settings, (QVariantMap { { typeOfKey.value(row.key), *row.expected } }));
        else
            EXPECT_TRUE(settings.isEmpty());
    }
    EXPECT_TRUE(U::consentSettingsFromPlist({}).isEmpty());
    EXPECT_TRUE(U::consentSettingsFromPlist({ { U::kAdStorage, false } }).isEmpty());
}

TEST_F(ConsentSettingsTest, Description)
{
    U::setConsentSettings(QVariantMap { { U::kAdStorage, U::kDenied }, { U::kAnalyticsStorage, U::kDefault },
        { U::kAdUserData, U::kGranted } });
    EXPECT_EQ(U::description(),
        QStringLiteral("ad_storage is denied. analytics_storage is granted (default). "
                       "ad_user_data is granted."));
    U::setRegionalDefaults(QVariantMap { { U::kAnalyticsStorage, U::kDenied } });
    U::updateSettings({ { U::kAdPersonalization, U::kDefault } });
    EXPECT_EQ(U::description(),
        QStringLiteral("ad_storage is denied. analytics_storage is denied (default). "
                       "ad_user_data is granted. ad_personalization is denied (default)."));
}

TEST_F(ConsentSettingsTest, ChangesFromManyThreadsAreAllKept)
{
    const QStringList types { U::kAdStorage, U::kAnalyticsStorage, U::kAdUserData, U::kAdPersonalization };
    std::vector<std::thread> threads;
    for (const QString& type : types) {
        threads.emplace_back([type] {
            for (int i = 0; i < 200; ++i) {
                U::updateSettings({ { type, i % 2 ? U::kGranted : U::kDenied } });
                U::consentSignals();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    const QVariantMap settings = U::consentSettings().value_or(QVariantMap());
    for (const QString& type : types)
        EXPECT_EQ(settings.value(type), U::kGranted) << qPrintable(type);
}

} // namespace
