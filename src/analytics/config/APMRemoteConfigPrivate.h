#pragma once

#include "analytics/config/APMRemoteConfig.h"

#include "analytics/base/APMError.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <cstdint>
#include <memory>

class APMPBEventConfig;
class APMPEventEditing;

// What the files of the remote configuration share and nobody else needs.

// One configuration's caches. Only the settings change after the set is in
// place (each first read replaces a text by its number), so only their table
// has a lock.
struct APMRemoteConfig::Caches {
    Table settings;
    QHash<QString, std::shared_ptr<const APMPBEventConfig>> eventConfigs;
    QStringList dataControls;
    QVariantMap consentDefaults;
    QVariantMap consentDelegations;
    QVariantMap regionalDefaults;
    QSet<QString> corePlatformServices;
    bool isDMARegion = true;
    std::shared_ptr<APMPEventEditing> eventEditing;
};

namespace APMRemoteConfigPrivate {

// Slots of the configuration messages.
constexpr int32_t kConfigVersion = 0;
constexpr int32_t kConfigAppID = 1;
constexpr int32_t kConfigSettings = 3;
constexpr int32_t kConfigEventConfigs = 4;
constexpr int32_t kConfigAdNestAppID = 6;
constexpr int32_t kConfigPrograms = 8;
constexpr int32_t kConfigDataControls = 9;
constexpr int32_t kConfigUploadSubdomain = 10;
constexpr int32_t kConfigConsent = 12;
constexpr int32_t kConfigPSM = 13;
constexpr int32_t kSettingName = 0;
constexpr int32_t kSettingValue = 1;
constexpr int32_t kEventConfigName = 0;
constexpr int32_t kEventConfigBlocklisted = 1;
constexpr int32_t kEventConfigCustomConversion = 2;
constexpr int32_t kEventConfigSamplingRate = 3;
constexpr int32_t kConsentDefaults = 0;
constexpr int32_t kConsentDelegations = 1;
constexpr int32_t kConsentCorePlatformServices = 2;
constexpr int32_t kConsentIsDMARegion = 3;
constexpr int32_t kConsentEnforcedDefaults = 4;
constexpr int32_t kConsentEntryType = 0;
constexpr int32_t kConsentEntryValue = 1;
constexpr int32_t kNamedEntryName = 0; // core platform services and data controls
constexpr int32_t kPSMPrefixEmail = 0;
constexpr int32_t kPSMPrefixPhone = 1;
constexpr int32_t kPSMSignInDelay = 2;

// An error for a log's contexts: nothing when it was not filled in.
inline QVariant errorContext(const APMError& error)
{
    return error.isSet() ? QVariant::fromValue(error) : QVariant();
}

inline const QString kPlatformKey = QStringLiteral("platform");
inline const QString kVMPVersionKey = QStringLiteral("vmp_version");

} // namespace APMRemoteConfigPrivate
