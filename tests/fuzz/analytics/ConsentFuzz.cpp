// Consent dictionaries as the application, the information dictionary, the
// remote configuration and consent-management platforms hand them over, in
// any order, with every reader asked after each step.
//
// Input: steps, each an operation byte and its arguments.

#include "FuzzInput.h"
#include "FuzzTarget.h"
#include "analytics/config/APMConsentSettingsUtil.h"

#include <optional>

namespace {

using Util = APMConsentSettingsUtil;

const QString kKeys[] = { Util::kAdStorage, Util::kAnalyticsStorage, Util::kAdUserData,
    Util::kAdPersonalization, Util::kDefaultAllowAdStorageKey, Util::kDefaultAllowAnalyticsStorageKey,
    Util::kDefaultAllowAdUserDataKey, Util::kDefaultAllowAdPersonalizationSignalsKey };
const QString kValues[]
    = { Util::kGranted, Util::kDenied, Util::kDefault, QStringLiteral("GRANTED"), QStringLiteral("Denied") };
constexpr qint64 kSources[] = { Util::SourceTCF, Util::SourceThirdParty, Util::SourceInfoDictionary,
    Util::SourceApplication, Util::SourceApplicationAtStart, Util::SourceNone };

// Keys mostly of the consent types and values mostly of their words, with
// anything else now and then.
QVariantMap dictionary(fuzz::InputReader& reader)
{
    QVariantMap map;
    for (int n = reader.byte() % 6; n > 0; --n) {
        const uchar key = reader.byte();
        const QString name = key < 224 ? kKeys[key % std::size(kKeys)] : reader.text();
        const uchar value = reader.byte();
        map.insert(name, value < 200 ? QVariant(kValues[value % std::size(kValues)]) : reader.value());
    }
    return map;
}

std::optional<QVariantMap> maybe(fuzz::InputReader& reader)
{
    if (reader.byte() % 5 == 0)
        return std::nullopt;
    return dictionary(reader);
}

qint64 source(fuzz::InputReader& reader)
{
    const uchar pick = reader.byte();
    return pick < 240 ? kSources[pick % std::size(kSources)] : reader.integer();
}

void readEverything()
{
    (void)Util::consentSettings();
    (void)Util::defaultSettings();
    (void)Util::delegatedSettings();
    (void)Util::regionalDefaults();
    (void)Util::consentSource();
    (void)Util::version();
    (void)Util::isAdStorageDenied();
    (void)Util::isAnalyticsStorageDenied();
    const bool adUserData = Util::isAdUserDataDenied();
    if (Util::didAdUserDataConsentChange(adUserData))
        fuzz::fail("ad-user-data consent changed between two reads");
    if (const std::optional<qint64> personalization = Util::adPersonalization();
        personalization && *personalization != 0 && *personalization != 1)
        fuzz::fail("ad personalisation is %lld", static_cast<long long>(*personalization));
    const QString signalText = Util::consentSignals();
    if (signalText.size() != 4 || !signalText.startsWith(QStringLiteral("G1")))
        fuzz::fail("consent signalText \"%s\"", qPrintable(signalText));
    for (const QChar c : signalText.mid(2)) {
        if (c != u'0' && c != u'1' && c != u'-')
            fuzz::fail("consent signalText \"%s\"", qPrintable(signalText));
    }
    const QString diagnostics = Util::consentDiagnostics();
    if (diagnostics.size() != 5 || diagnostics[0] != u'1')
        fuzz::fail("consent diagnostics \"%s\"", qPrintable(diagnostics));
    (void)Util::description();
}

} // namespace

PRAVIK_FUZZ_TARGET(consent)
{
    Util::clearAllSettings();
    fuzz::InputReader reader(input);
    while (!reader.atEnd()) {
        switch (reader.byte() % 15) {
        case 0:
            Util::setConsentSettings(maybe(reader));
            break;
        case 1:
            Util::setDefaultSettings(maybe(reader));
            break;
        case 2:
            Util::setDelegatedSettings(maybe(reader));
            break;
        case 3:
            Util::setRegionalDefaults(maybe(reader));
            break;
        case 4:
            Util::updateSettings(dictionary(reader));
            break;
        case 5: {
            const QVariantMap settings = dictionary(reader);
            const qint64 from = source(reader);
            (void)Util::isConsentSourceHigherPriority(from);
            (void)Util::isConsentSourceEqualPriority(from);
            Util::updateSettingsConsentSource(settings, from);
            break;
        }
        case 6:
            Util::setConsentSource(source(reader));
            break;
        case 7:
            Util::setVersion(reader.integer());
            break;
        case 8: {
            // The library's own diagnostic codes are single digits.
            const qint64 code = reader.byte() % 10;
            Util::setDiagnosticSource(code, kKeys[reader.byte() % 4]);
            break;
        }
        case 9:
            Util::refreshDiagnosticSources(reader.byte() & 1);
            break;
        case 10:
            Util::unsetAdPersonalization();
            break;
        case 11:
            Util::resetDiagnosticSources();
            break;
        case 12:
            Util::updateSettingsConsentSource(
                Util::consentSettingsFromPlist(dictionary(reader)), Util::SourceInfoDictionary);
            break;
        case 13:
            Util::updateSettings(Util::consentSettingsFromDictionary(dictionary(reader)));
            break;
        default:
            (void)Util::consentTypeForNumber(reader.integer());
            (void)Util::numberForConsentValue(reader.value());
            break;
        }
        readEverything();
    }
}
