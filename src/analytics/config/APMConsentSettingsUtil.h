#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

// The process-wide consent state of the analytics library: for each consent
// type whether the user granted or denied it, who said so (the source), and
// what applies when nothing was said. Class-level state only, safe to use from
// any thread: every operation runs under one lock, so a read made after a
// write, from any thread, sees that write.
//
// Consent dictionaries map a consent type to a value. Values are compared
// case-insensitively and only when they are strings; anything other than
// "granted", "denied" or "default" counts as no value. Entries under other
// keys are kept but never read. An explicit "default" asks for the regional
// default of the type.
class APMConsentSettingsUtil {
public:
    // Consent types, in the order of the diagnostics string.
    static const QString kAdStorage; // "ad_storage"
    static const QString kAnalyticsStorage; // "analytics_storage"
    static const QString kAdUserData; // "ad_user_data"
    static const QString kAdPersonalization; // "ad_personalization"
    static const QString kGranted; // "granted"
    static const QString kDenied; // "denied"
    static const QString kDefault; // "default"

    // Who set the explicit settings; a smaller number takes precedence.
    enum ConsentSource : qint64 {
        SourceTCF = 5, // "consent_settings_tcf"
        SourceThirdParty = 10, // "consent_settings_3p"
        SourceInfoDictionary = 20, // consentSettingsFromPlist()
        SourceApplication = 30, // "consent_settings"
        SourceApplicationAtStart = 40, // first-party settings restored at start
        SourceNone = 100,
    };

    // Keys of the application's information dictionary with consent defaults.
    static const QString kDefaultAllowAdStorageKey;
    static const QString kDefaultAllowAnalyticsStorageKey;
    static const QString kDefaultAllowAdUserDataKey;
    static const QString kDefaultAllowAdPersonalizationSignalsKey;

    // Consent type by number (1 to 4, as in the configuration messages);
    // an empty string for any other number. And back: 0 for no consent type.
    static QString consentTypeForNumber(qint64 number);
    static qint64 numberForConsentType(const QString& type);
    // 1 for "granted", 2 for "denied" (any case), 0 for anything else.
    static qint64 numberForConsentValue(const QVariant& value);

    // Copies of the dictionaries; nothing when never set (or set to nothing).
    static std::optional<QVariantMap> consentSettings();
    static std::optional<QVariantMap> defaultSettings();
    static std::optional<QVariantMap> delegatedSettings(); // type to the type it follows
    static std::optional<QVariantMap> regionalDefaults();

    // Setting no explicit settings also resets the source to none.
    static void setConsentSettings(const std::optional<QVariantMap>& settings);
    static void setDefaultSettings(const std::optional<QVariantMap>& settings);
    static void setDelegatedSettings(const std::optional<QVariantMap>& settings);
    static void setRegionalDefaults(const std::optional<QVariantMap>& settings);

    static qint64 consentSource();
    static void setConsentSource(qint64 source);
    static qint64 version();
    // Only 1 and 2 are versions; anything else is ignored.
    static void setVersion(qint64 version);

    // Merges the entries into the explicit settings (new entries win).
    static void updateSettings(const QVariantMap& settings);
    // The same, under a source: the types named get that source's
    // diagnostic code.
    static void updateSettingsConsentSource(const QVariantMap& settings, qint64 source);

    static bool isAdStorageDenied();
    static bool isAnalyticsStorageDenied();
    static bool isAdUserDataDenied();
    // 0 when denied, 1 when granted, nothing when neither.
    static std::optional<qint64> adPersonalization();
    // Whether the earlier answer of isAdUserDataDenied() differs from today's.
    static bool didAdUserDataConsentChange(bool wasDenied);

    // The TCF and third-party sources rank alike.
    static bool isConsentSourceEqualPriority(qint64 source);
    // Whether settings from `source` may replace the current ones.
    static bool isConsentSourceHigherPriority(qint64 source);

    // "G1" and one character each for ad storage and analytics storage:
    // "0" denied, "1" granted, "-" neither.
    static QString consentSignals();
    // "1" and one diagnostic code per type (five characters).
    static QString consentDiagnostics();
    static void setDiagnosticSource(qint64 diagnosticCode, const QString& consentType);
    static void resetDiagnosticSources();
    static void refreshDiagnosticSources(bool useCurrentSource);

    // Drops an explicit "ad_personalization" (and its diagnostic code).
    static void unsetAdPersonalization();

    // Only the entries of the four consent types, values as given.
    static QVariantMap consentSettingsFromDictionary(const QVariantMap& dictionary);
    // The consent defaults in the application's information dictionary.
    static QVariantMap consentSettingsFromPlist(const QVariantMap& infoDictionary);

    // Back to the start: no settings, source none, diagnostics all 0.
    static void clearAllSettings();
    // "ad_storage is granted. analytics_storage is denied." and so on.
    static QString description();
};
