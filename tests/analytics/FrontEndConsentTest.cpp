// Consent through the front end: which values count, which source wins,
// and what is persisted and read back at the next start.
#include "FrontEndTestFixture.h"

using namespace front_end_test;

namespace {

class FrontEndConsentTest : public FrontEndFixture {
protected:
    // A new process: the consent state in memory is gone, the preferences stay.
    static void forgetConsentInMemory() { APMConsentSettingsUtil::clearAllSettings(); }
};

const QString& kAdStorageType = APMConsentSettingsUtil::kAdStorage;
const QString& kAnalyticsStorageType = APMConsentSettingsUtil::kAnalyticsStorage;

} // namespace

TEST_F(FrontEndConsentTest, OnlyGrantedAndDeniedCount)
{
    struct Case {
        const char* label;
        QVariantMap consent;
        QVariantMap applied; // empty: nothing applied
        QList<qint64> codes;
    };
    const QList<Case> cases {
        { "both valid", { { kAdStorageType, QStringLiteral("granted") }, { kAnalyticsStorageType, QStringLiteral("denied") } },
            { { kAdStorageType, QStringLiteral("granted") }, { kAnalyticsStorageType, QStringLiteral("denied") } }, {} },
        { "one invalid value is dropped", { { kAdStorageType, QStringLiteral("granted") }, { kAnalyticsStorageType, QStringLiteral("maybe") } },
            { { kAdStorageType, QStringLiteral("granted") } }, { 25042 } },
        { "only invalid values", { { kAdStorageType, QStringLiteral("GRANTED") }, { kAnalyticsStorageType, true } }, {},
            { 25042, 25042, 25041 } },
        { "the default value is not a choice", { { kAdStorageType, QStringLiteral("default") } }, {}, { 25042, 25041 } },
        { "unknown consent types", { { QStringLiteral("cookies"), QStringLiteral("granted") } }, {}, { 25041 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        clearLog();
        APMAnalytics::clearConsent();
        APMAnalytics::setConsent(c.consent);
        EXPECT_EQ(loggedCodes(), c.codes);
        EXPECT_EQ(APMConsentSettingsUtil::consentSettings().value_or(QVariantMap()), c.applied);
        EXPECT_EQ(APMAnalytics::consentSettings1P().value_or(QVariantMap()), c.applied);
        EXPECT_EQ(APMAnalytics::persistedConsentSource(), c.applied.isEmpty() ? 100 : 30);
    }
}

TEST_F(FrontEndConsentTest, SourcesRankAndEachIsStoredUnderItsOwnKey)
{
    struct Step {
        QString key;
        QString value;
        bool applied;
    };
    struct Case {
        const char* label;
        QList<Step> steps;
        qint64 source;
        QString storedUnder;
    };
    const QString& firstParty = APMAnalytics::kConsentSettings1PKey;
    const QString& thirdParty = APMAnalytics::kConsentSettings3PKey;
    const QString& tcf = APMAnalytics::kConsentSettingsTCFKey;
    const QList<Case> cases {
        { "first party alone", { { firstParty, QStringLiteral("granted"), true } }, 30, firstParty },
        { "third party over first party",
            { { firstParty, QStringLiteral("granted"), true }, { thirdParty, QStringLiteral("denied"), true } }, 10, thirdParty },
        { "first party after third party is ignored",
            { { thirdParty, QStringLiteral("denied"), true }, { firstParty, QStringLiteral("granted"), false } }, 10, thirdParty },
        { "third party after the framework ranks alike",
            { { tcf, QStringLiteral("denied"), true }, { thirdParty, QStringLiteral("granted"), true } }, 10, thirdParty },
        { "the framework after third party", { { thirdParty, QStringLiteral("granted"), true }, { tcf, QStringLiteral("denied"), true } },
            5, tcf },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        APMAnalytics::clearConsent();
        for (const Step& step : c.steps) {
            clearLog();
            APMAnalytics::setConsent({ { kAdStorageType, step.value } }, step.key);
            EXPECT_EQ(loggedCodes().contains(25043), !step.applied) << step.key.toStdString();
        }
        EXPECT_EQ(APMConsentSettingsUtil::consentSource(), c.source);
        EXPECT_EQ(APMAnalytics::persistedConsentSource(), c.source);
        const std::optional<QVariantMap> stored = preferences_->dictionaryForKey(c.storedUnder);
        ASSERT_TRUE(stored.has_value());
        const QString lastApplied = [&c] {
            QString value;
            for (const Step& step : c.steps) {
                if (step.applied)
                    value = step.value;
            }
            return value;
        }();
        EXPECT_EQ(stored->value(kAdStorageType), QVariant(lastApplied));
    }
}

TEST_F(FrontEndConsentTest, PersistedConsentIsReadBackWithItsSourceCapped)
{
    struct Case {
        const char* label;
        QString key;
        qint64 restoredSource;
    };
    const QList<Case> cases {
        { "first party comes back as settings of the start", APMAnalytics::kConsentSettings1PKey, 30 },
        { "third party", APMAnalytics::kConsentSettings3PKey, 10 },
        { "the framework", APMAnalytics::kConsentSettingsTCFKey, 5 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        APMAnalytics::clearConsent();
        APMAnalytics::setConsent({ { kAnalyticsStorageType, QStringLiteral("denied") } }, c.key);
        forgetConsentInMemory();
        EXPECT_EQ(APMConsentSettingsUtil::consentSource(), 100);
        APMAnalytics::loadPersistedConsentSettings();
        EXPECT_EQ(APMConsentSettingsUtil::consentSource(), c.restoredSource);
        EXPECT_TRUE(APMConsentSettingsUtil::isAnalyticsStorageDenied());
    }
    // A stored source beyond the cap of its dictionary is lowered to the cap.
    APMAnalytics::clearConsent();
    preferences_->setObject(QVariantMap { { kAdStorageType, QStringLiteral("granted") } }, APMAnalytics::kConsentSettings1PKey);
    preferences_->setInteger(90, APMAnalytics::kConsentSourceKey);
    APMAnalytics::loadPersistedConsentSettings();
    EXPECT_EQ(APMConsentSettingsUtil::consentSource(), 40);

    // Nothing stored: nothing applied.
    APMAnalytics::clearConsent();
    APMAnalytics::loadPersistedConsentSettings();
    EXPECT_EQ(APMConsentSettingsUtil::consentSource(), 100);
    EXPECT_FALSE(APMConsentSettingsUtil::consentSettings().has_value());
}

TEST_F(FrontEndConsentTest, StartRestoresConsentAndTheConsentOfItsOptionsIsReadOnce)
{
    APMAnalytics::setConsent({ { kAnalyticsStorageType, QStringLiteral("denied") } });
    forgetConsentInMemory();
    // The options' consent is kept for the engine's start, which reads it
    // once (applied when nothing outranks it: FrontEndEngineStartTest); the
    // consent the app set itself outranks it.
    APMAnalytics::startWithAppID(kFrontEndAppID, APMAnalytics::kPlatformOrigin,
        { { kAdStorageType, QStringLiteral("granted") }, { QStringLiteral("other"), 1 } });
    drain();
    EXPECT_TRUE(APMConsentSettingsUtil::isAnalyticsStorageDenied());
    EXPECT_FALSE(APMConsentSettingsUtil::consentSettings().value_or(QVariantMap()).contains(kAdStorageType));
    EXPECT_FALSE(APMAnalytics::consentSettings1PStart().has_value());
}

TEST_F(FrontEndConsentTest, ClearingConsentRemovesEveryKey)
{
    APMAnalytics::setConsent({ { kAdStorageType, QStringLiteral("granted") } }, APMAnalytics::kConsentSettings3PKey);
    APMAnalytics::setConsent({ { kAdStorageType, QStringLiteral("denied") } }, APMAnalytics::kConsentSettingsTCFKey);
    preferences_->setBool(true, APMAnalytics::kDeferredConsentResetKey);
    preferences_->setObject(QVariantMap { { kAdStorageType, QStringLiteral("denied") } }, APMAnalytics::kConsentSettingsOnStartKey);
    APMAnalytics::clearConsent();
    for (const QString& key : { APMAnalytics::kConsentSourceKey, APMAnalytics::kConsentSettings1PKey,
             APMAnalytics::kConsentSettings3PKey, APMAnalytics::kConsentSettingsTCFKey,
             APMAnalytics::kConsentSettingsOnStartKey, APMAnalytics::kDeferredConsentResetKey })
        EXPECT_FALSE(preferences_->objectForKey(key).isValid()) << key.toStdString();
    EXPECT_EQ(APMConsentSettingsUtil::consentSource(), 100);
    EXPECT_FALSE(APMConsentSettingsUtil::consentSettings().has_value());
}

TEST_F(FrontEndConsentTest, AdPersonalizationConsentSetsThePersonalizedAdsSetting)
{
    // The configuration's switch for the ad-personalization consent is on by default.
    start();
    struct Case {
        QString value;
        QVariant allowed;
    };
    const QList<Case> cases {
        { QStringLiteral("denied"), false },
        { QStringLiteral("granted"), true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value.toStdString());
        APMAnalytics::setConsent({ { APMConsentSettingsUtil::kAdPersonalization, c.value } });
        drain();
        EXPECT_EQ(persisted_->allowPersonalizedAds(), c.allowed);
    }
    // Taking the setting away also takes the explicit consent away.
    APMAnalytics::setUserPropertyString(QVariant(), APMAnalytics::kAllowPersonalizedAdsProperty);
    drain();
    EXPECT_FALSE(persisted_->allowPersonalizedAds().isValid());
    EXPECT_FALSE(APMConsentSettingsUtil::adPersonalization().has_value());
}
