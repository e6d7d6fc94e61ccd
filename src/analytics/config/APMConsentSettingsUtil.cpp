#include "analytics/config/APMConsentSettingsUtil.h"

#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMNumericUtil.h"

#include <QMutex>

#include <array>

const QString APMConsentSettingsUtil::kAdStorage = QStringLiteral("ad_storage");
const QString APMConsentSettingsUtil::kAnalyticsStorage = QStringLiteral("analytics_storage");
const QString APMConsentSettingsUtil::kAdUserData = QStringLiteral("ad_user_data");
const QString APMConsentSettingsUtil::kAdPersonalization = QStringLiteral("ad_personalization");
const QString APMConsentSettingsUtil::kGranted = QStringLiteral("granted");
const QString APMConsentSettingsUtil::kDenied = QStringLiteral("denied");
const QString APMConsentSettingsUtil::kDefault = QStringLiteral("default");
const QString APMConsentSettingsUtil::kDefaultAllowAdStorageKey
    = QStringLiteral("VIREO_ANALYTICS_DEFAULT_ALLOW_AD_STORAGE");
const QString APMConsentSettingsUtil::kDefaultAllowAnalyticsStorageKey
    = QStringLiteral("VIREO_ANALYTICS_DEFAULT_ALLOW_ANALYTICS_STORAGE");
const QString APMConsentSettingsUtil::kDefaultAllowAdUserDataKey
    = QStringLiteral("VIREO_ANALYTICS_DEFAULT_ALLOW_AD_USER_DATA");
const QString APMConsentSettingsUtil::kDefaultAllowAdPersonalizationSignalsKey
    = QStringLiteral("VIREO_ANALYTICS_DEFAULT_ALLOW_AD_PERSONALIZATION_SIGNALS");

namespace {

using U = APMConsentSettingsUtil;

// Diagnostic codes: where the value a type resolves to came from.
enum DiagnosticCode : qint64 {
    DiagnosticNone = 0,
    DiagnosticFromDefaults = 1, // ad_user_data and ad_personalization only
    DiagnosticDelegated = 2, // ad_user_data following another type
    DiagnosticInfoDictionary = 3,
    DiagnosticApplicationAtStart = 4,
    DiagnosticApplicationOrThirdParty = 5,
    DiagnosticTCF = 7,
    DiagnosticExplicitDefault = 8,
    DiagnosticNotSet = 9,
};

const QString kSignalsPrefix = QStringLiteral("G1");
const QString kDiagnosticsPrefix = QStringLiteral("1");

const std::array<QString, 4>& consentTypes()
{
    static const std::array<QString, 4> types
        = { U::kAdStorage, U::kAnalyticsStorage, U::kAdUserData, U::kAdPersonalization };
    return types;
}

qsizetype indexOfType(const QString& type)
{
    const auto& types = consentTypes();
    for (size_t i = 0; i < types.size(); ++i) {
        if (types[i] == type)
            return static_cast<qsizetype>(i);
    }
    return -1;
}

struct State {
    QMutex mutex;
    std::optional<QVariantMap> consent;
    std::optional<QVariantMap> defaults;
    std::optional<QVariantMap> delegated;
    std::optional<QVariantMap> regional;
    qint64 source = U::SourceNone;
    qint64 version = 1;
    std::array<qint64, 4> diagnostics = {};
};

State& state()
{
    static State* s = new State(); // lives as long as the process
    return *s;
}

// "granted", "denied" or "default" in lower case; an empty string for
// anything else, including values that are not strings.
QString recognized(const QVariant& value)
{
    if (value.metaType().id() != QMetaType::QString)
        return QString();
    const QString text = value.toString().toLower();
    if (text == U::kGranted || text == U::kDenied || text == U::kDefault)
        return text;
    return QString();
}

QVariant entry(const std::optional<QVariantMap>& map, const QString& type)
{
    return map ? map->value(type) : QVariant();
}

// The text a value of the map resolves to (lower case), or empty.
QString resolvedEntry(const std::optional<QVariantMap>& map, const QString& type)
{
    const QVariant value = entry(map, type);
    if (value.metaType().id() != QMetaType::QString)
        return QString();
    return value.toString().toLower();
}

QString regionalFallbackLocked(const State& s, const QString& type)
{
    if (s.regional && s.regional->contains(type))
        return resolvedEntry(s.regional, type);
    return type == U::kAdUserData || type == U::kAdPersonalization ? U::kDenied : U::kGranted;
}

// The explicit value of the type with "default" replaced by the regional
// fallback; empty when there is no explicit value.
QString explicitValueLocked(const State& s, const QString& type)
{
    const QString value = recognized(entry(s.consent, type));
    return value == U::kDefault ? regionalFallbackLocked(s, type) : value;
}

bool isAdUserDataDeniedLocked(const State& s)
{
    QString value = explicitValueLocked(s, U::kAdUserData);
    if (value.isEmpty()) {
        const QVariant followed = entry(s.delegated, U::kAdUserData);
        const QString followedType
            = followed.metaType().id() == QMetaType::QString ? followed.toString() : QString();
        if (!followedType.isEmpty() && !recognized(entry(s.consent, followedType)).isEmpty())
            return explicitValueLocked(s, followedType) == U::kDenied;
        value = resolvedEntry(s.defaults, U::kAdUserData);
    }
    return value == U::kDenied;
}

qint64 diagnosticCodeForSource(qint64 source)
{
    switch (source) {
    case U::SourceTCF:
        return DiagnosticTCF;
    case U::SourceThirdParty:
    case U::SourceApplication:
        return DiagnosticApplicationOrThirdParty;
    case U::SourceInfoDictionary:
        return DiagnosticInfoDictionary;
    case U::SourceApplicationAtStart:
        return DiagnosticApplicationAtStart;
    default:
        return DiagnosticNone;
    }
}

void refreshDiagnosticSourcesLocked(State& s, bool useCurrentSource)
{
    const auto& types = consentTypes();
    for (size_t i = 0; i < types.size(); ++i) {
        const QString& type = types[i];
        const QString value = recognized(entry(s.consent, type));
        qint64& code = s.diagnostics[i];
        if (!value.isEmpty()) {
            if (useCurrentSource)
                code = diagnosticCodeForSource(s.source);
            if (value == U::kDefault)
                code = DiagnosticExplicitDefault;
        } else if (type == U::kAdUserData && s.delegated && s.delegated->contains(type)) {
            code = DiagnosticDelegated;
        } else if (s.defaults && s.defaults->contains(type)) {
            code = type == U::kAdUserData || type == U::kAdPersonalization ? DiagnosticFromDefaults
                                                                           : DiagnosticNotSet;
        } else {
            code = DiagnosticNotSet;
        }
    }
}

QString signalCharacter(const QString& value)
{
    if (value == U::kDenied)
        return QStringLiteral("0");
    if (value == U::kGranted)
        return QStringLiteral("1");
    return QStringLiteral("-");
}

} // namespace

QString APMConsentSettingsUtil::consentTypeForNumber(qint64 number)
{
    if (number < 1 || number > static_cast<qint64>(consentTypes().size()))
        return QString();
    return consentTypes()[static_cast<size_t>(number - 1)];
}

qint64 APMConsentSettingsUtil::numberForConsentType(const QString& type)
{
    return indexOfType(type) + 1;
}

qint64 APMConsentSettingsUtil::numberForConsentValue(const QVariant& value)
{
    const QString text = recognized(value);
    if (text == kGranted)
        return 1;
    if (text == kDenied)
        return 2;
    return 0;
}

std::optional<QVariantMap> APMConsentSettingsUtil::consentSettings()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    return s.consent;
}

std::optional<QVariantMap> APMConsentSettingsUtil::defaultSettings()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    return s.defaults;
}

std::optional<QVariantMap> APMConsentSettingsUtil::delegatedSettings()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    return s.delegated;
}

std::optional<QVariantMap> APMConsentSettingsUtil::regionalDefaults()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    return s.regional;
}

void APMConsentSettingsUtil::setConsentSettings(const std::optional<QVariantMap>& settings)
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    s.consent = settings;
    if (!settings) {
        s.source = SourceNone;
        refreshDiagnosticSourcesLocked(s, true);
    }
}

void APMConsentSettingsUtil::setDefaultSettings(const std::optional<QVariantMap>& settings)
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    s.defaults = settings;
}

void APMConsentSettingsUtil::setDelegatedSettings(const std::optional<QVariantMap>& settings)
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    s.delegated = settings;
}

void APMConsentSettingsUtil::setRegionalDefaults(const std::optional<QVariantMap>& settings)
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    s.regional = settings;
}

qint64 APMConsentSettingsUtil::consentSource()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    return s.source;
}

void APMConsentSettingsUtil::setConsentSource(qint64 source)
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    s.source = source;
    refreshDiagnosticSourcesLocked(s, true);
}

qint64 APMConsentSettingsUtil::version()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    return s.version;
}

void APMConsentSettingsUtil::setVersion(qint64 version)
{
    if (version != 1 && version != 2)
        return;
    State& s = state();
    QMutexLocker lock(&s.mutex);
    s.version = version;
}

void APMConsentSettingsUtil::updateSettings(const QVariantMap& settings)
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    QVariantMap merged = s.consent.value_or(QVariantMap());
    merged.insert(settings);
    s.consent = merged;
}

void APMConsentSettingsUtil::updateSettingsConsentSource(const QVariantMap& settings, qint64 source)
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    QVariantMap merged = s.consent.value_or(QVariantMap());
    merged.insert(settings);
    s.consent = merged;
    s.source = source;
    for (auto it = settings.cbegin(); it != settings.cend(); ++it) {
        const qsizetype index = indexOfType(it.key());
        if (index >= 0)
            s.diagnostics[static_cast<size_t>(index)] = diagnosticCodeForSource(source);
    }
}

bool APMConsentSettingsUtil::isAdStorageDenied()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    return explicitValueLocked(s, kAdStorage) == kDenied;
}

bool APMConsentSettingsUtil::isAnalyticsStorageDenied()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    return explicitValueLocked(s, kAnalyticsStorage) == kDenied;
}

bool APMConsentSettingsUtil::isAdUserDataDenied()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    return isAdUserDataDeniedLocked(s);
}

std::optional<qint64> APMConsentSettingsUtil::adPersonalization()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    QString value = explicitValueLocked(s, kAdPersonalization);
    if (value.isEmpty())
        value = resolvedEntry(s.defaults, kAdPersonalization);
    if (value == kDenied)
        return 0;
    if (value == kGranted)
        return 1;
    return std::nullopt;
}

bool APMConsentSettingsUtil::didAdUserDataConsentChange(bool wasDenied)
{
    return wasDenied != isAdUserDataDenied();
}

bool APMConsentSettingsUtil::isConsentSourceEqualPriority(qint64 source)
{
    const qint64 current = consentSource();
    if (source == current)
        return true;
    return (source == SourceTCF && current == SourceThirdParty)
        || (source == SourceThirdParty && current == SourceTCF);
}

bool APMConsentSettingsUtil::isConsentSourceHigherPriority(qint64 source)
{
    return isConsentSourceEqualPriority(source) || consentSource() >= source;
}

QString APMConsentSettingsUtil::consentSignals()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    return kSignalsPrefix + signalCharacter(explicitValueLocked(s, kAdStorage))
        + signalCharacter(explicitValueLocked(s, kAnalyticsStorage));
}

QString APMConsentSettingsUtil::consentDiagnostics()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    refreshDiagnosticSourcesLocked(s, false);
    QString text = kDiagnosticsPrefix;
    for (qint64 code : s.diagnostics)
        text += QString::number(code);
    return text;
}

void APMConsentSettingsUtil::setDiagnosticSource(qint64 diagnosticCode, const QString& consentType)
{
    const qsizetype index = indexOfType(consentType);
    if (index < 0)
        return;
    State& s = state();
    QMutexLocker lock(&s.mutex);
    s.diagnostics[static_cast<size_t>(index)] = diagnosticCode;
}

void APMConsentSettingsUtil::resetDiagnosticSources()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    s.diagnostics = {};
}

void APMConsentSettingsUtil::refreshDiagnosticSources(bool useCurrentSource)
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    refreshDiagnosticSourcesLocked(s, useCurrentSource);
}

void APMConsentSettingsUtil::unsetAdPersonalization()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    if (!s.consent || !s.consent->contains(kAdPersonalization))
        return;
    s.consent->remove(kAdPersonalization);
    s.diagnostics[static_cast<size_t>(indexOfType(kAdPersonalization))] = DiagnosticNone;
}

QVariantMap APMConsentSettingsUtil::consentSettingsFromDictionary(const QVariantMap& dictionary)
{
    QVariantMap settings;
    for (const QString& type : consentTypes()) {
        const auto it = dictionary.constFind(type);
        if (it != dictionary.cend())
            settings.insert(type, it.value());
    }
    return settings;
}

QVariantMap APMConsentSettingsUtil::consentSettingsFromPlist(const QVariantMap& infoDictionary)
{
    struct Key {
        const QString& key;
        const QString& type;
    };
    const std::array<Key, 4> keys = { {
        { kDefaultAllowAdStorageKey, kAdStorage },
        { kDefaultAllowAnalyticsStorageKey, kAnalyticsStorage },
        { kDefaultAllowAdUserDataKey, kAdUserData },
        { kDefaultAllowAdPersonalizationSignalsKey, kAdPersonalization },
    } };
    QVariantMap settings;
    for (const Key& k : keys) {
        const auto it = infoDictionary.constFind(k.key);
        if (it == infoDictionary.cend())
            continue;
        const bool isText = it->metaType().id() == QMetaType::QString;
        if (isText && it->toString().compare(kDefault, Qt::CaseInsensitive) == 0) {
            settings.insert(k.type, kDefault);
            continue;
        }
        // The ad-personalization switch is only honoured when written as text.
        if (k.type == kAdPersonalization && !isText)
            continue;
        if (const std::optional<bool> allow = APMBoolValueOf(*it))
            settings.insert(k.type, *allow ? kGranted : kDenied);
    }
    return settings;
}

void APMConsentSettingsUtil::clearAllSettings()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    s.source = SourceNone;
    s.consent.reset();
    s.defaults.reset();
    s.delegated.reset();
    s.regional.reset();
    s.diagnostics = {};
}

QString APMConsentSettingsUtil::description()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    const auto shown = [&s](const QString& type, bool grantedWhenMissing) -> std::optional<QString> {
        const QVariant value = entry(s.consent, type);
        if (!value.isValid())
            return grantedWhenMissing ? std::optional<QString>(kGranted) : std::nullopt;
        if (recognized(value) == kDefault)
            return QStringLiteral("%1 (default)").arg(regionalFallbackLocked(s, type));
        return APMMonitor::describedContext(value);
    };
    QString text
        = QStringLiteral("%1 is %2. %3 is %4.")
              .arg(kAdStorage, *shown(kAdStorage, true), kAnalyticsStorage, *shown(kAnalyticsStorage, true));
    for (const QString& type : { kAdUserData, kAdPersonalization }) {
        if (const std::optional<QString> value = shown(type, false))
            text += QStringLiteral(" %1 is %2.").arg(type, *value);
    }
    return text;
}
