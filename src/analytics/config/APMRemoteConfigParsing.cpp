#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/config/APMEventEditingProvider.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMEnvironmentInfo.h"
#include "analytics/model/APMEventNames.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/config/APMRemoteConfigPrivate.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/wire/APMPBConsentConfig.h"
#include "analytics/wire/APMPBConsentDefaultEntry.h"
#include "analytics/wire/APMPBConsentDelegationEntry.h"
#include "analytics/wire/APMPBCorePlatformServiceEntry.h"
#include "analytics/wire/APMPBDataControl.h"
#include "analytics/wire/APMPBEventConfig.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementConfig.h"
#include "analytics/wire/APMPBProgram.h"
#include "analytics/wire/APMPBPsmSetting.h"
#include "analytics/wire/APMPBSetting.h"

#include <utility>

// From a configuration message to a fresh set of caches, and the modules
// that the configuration's event-editing program may load.

using namespace APMRemoteConfigPrivate;

namespace {

const QString kPackageNameKey = QStringLiteral("package_name");
const QString kAppVersionKey = QStringLiteral("app_version");

QString consentValueForNumber(qint64 number)
{
    switch (number) {
    case 1:
        return APMConsentSettingsUtil::kGranted;
    case 2:
        return APMConsentSettingsUtil::kDenied;
    default:
        return QString();
    }
}

// Consent type to value name, for the entries whose two numbers both name something.
QVariantMap consentDefaultsFrom(const NANOMessageBase* consent, int32_t slot)
{
    QVariantMap result;
    for (const auto& entry : APMPBGetArrayField<APMPBConsentDefaultEntry>(consent, slot)) {
        const QString type = APMConsentSettingsUtil::consentTypeForNumber(
            APMPBGetInt32Field(entry.get(), kConsentEntryType));
        const QString value = consentValueForNumber(APMPBGetInt32Field(entry.get(), kConsentEntryValue));
        if (!type.isEmpty() && !value.isEmpty())
            result.insert(type, value);
    }
    return result;
}

} // namespace

void APMRemoteConfig::parseRemoteConfigFromMeasurementConfig(const APMPBMeasurementConfig& measurementConfig)
{
    const auto settings = APMPBGetArrayField<APMPBSetting>(&measurementConfig, kConfigSettings);
    if (settings.empty()) {
        log(APMMonitor::kLevelErrorSilent, 29012,
            QStringLiteral("Cannot parse empty measurement config. Using default values"));
        return;
    }
    const QString configAppID = APMPBGetStringField(&measurementConfig, kConfigAppID);
    if (configAppID.isEmpty() || configAppID != appID_)
        return;

    // Everything below goes into a fresh set that replaces the current one
    // at the end, in one step.
    auto next = std::make_shared<Caches>();

    for (const auto& setting : settings) {
        const QString value = APMPBGetStringField(setting.get(), kSettingValue);
        cacheValueIn(next->settings, value.isNull() ? QVariant() : QVariant(value),
            APMPBGetStringField(setting.get(), kSettingName));
    }

    for (auto& eventConfig : APMPBGetArrayField<APMPBEventConfig>(&measurementConfig, kConfigEventConfigs)) {
        const QString name = APMPBGetStringField(eventConfig.get(), kEventConfigName);
        if (name.isEmpty()) {
            log(APMMonitor::kLevelWarningSilent, 29013,
                QStringLiteral("Cannot cache event configuration with an empty configuration name"));
            continue;
        }
        next->eventConfigs.insert(APMPublicToInternalEventNames().value(name, name),
            std::shared_ptr<const APMPBEventConfig>(std::move(eventConfig)));
    }

    if (APMPBHasField(&measurementConfig, kConfigVersion)) {
        log(APMMonitor::kLevelDebug, 29014, QStringLiteral("Successfully parsed a configuration. Version"),
            { QVariant(static_cast<qint64>(APMPBGetInt64Field(&measurementConfig, kConfigVersion))) });
    }

    const auto programs = APMPBGetArrayField<APMPBProgram>(&measurementConfig, kConfigPrograms);
    if (!programs.empty()) {
        APMError error;
        std::shared_ptr<APMPEventEditing> eventEditing = environment_.eventEditingProvider
            ? environment_.eventEditingProvider->eventEditingWithProgram(
                *programs.front(), eventEditingModules(next), &error)
            : nullptr;
        if (eventEditing) {
            next->eventEditing = std::move(eventEditing);
            log(APMMonitor::kLevelDebug, 29027,
                QStringLiteral("Loading Event Modification and Creation programs"),
                { QVariant(static_cast<qint64>(programs.size())) });
        } else {
            // Only the program is dropped; the rest of the configuration applies.
            log(APMMonitor::kLevelErrorMonitored, 29026,
                QStringLiteral("Failed to initiate event editing instance"));
        }
    }

    for (const auto& control :
        APMPBGetArrayField<APMPBDataControl>(&measurementConfig, kConfigDataControls)) {
        const QString name = APMPBGetStringField(control.get(), kNamedEntryName);
        if (!name.isEmpty())
            next->dataControls << name;
    }

    if (const auto consent = APMPBGetMessageField<APMPBConsentConfig>(&measurementConfig, kConfigConsent)) {
        next->consentDefaults = consentDefaultsFrom(consent.get(), kConsentDefaults);
        for (const auto& entry :
            APMPBGetArrayField<APMPBConsentDelegationEntry>(consent.get(), kConsentDelegations)) {
            const QString type = APMConsentSettingsUtil::consentTypeForNumber(
                APMPBGetInt32Field(entry.get(), kConsentEntryType));
            const QString delegated = APMConsentSettingsUtil::consentTypeForNumber(
                APMPBGetInt32Field(entry.get(), kConsentEntryValue));
            if (!type.isEmpty() && !delegated.isEmpty())
                next->consentDelegations.insert(type, delegated);
        }
        for (const auto& service :
            APMPBGetArrayField<APMPBCorePlatformServiceEntry>(consent.get(), kConsentCorePlatformServices)) {
            const QString name = APMPBGetStringField(service.get(), kNamedEntryName);
            if (!name.isEmpty())
                next->corePlatformServices.insert(name);
        }
        next->isDMARegion = APMPBGetBoolField(consent.get(), kConsentIsDMARegion);
        next->regionalDefaults = consentDefaultsFrom(consent.get(), kConsentEnforcedDefaults);
    }

    if (const auto psm = APMPBGetMessageField<APMPBPsmSetting>(&measurementConfig, kConfigPSM)) {
        // Delivered as numbers, these are used as they are, without the getters' range check.
        const std::pair<int32_t, const QString*> fields[] = {
            { kPSMPrefixEmail, &kPSMPrefixEmailKey },
            { kPSMPrefixPhone, &kPSMPrefixPhoneKey },
            { kPSMSignInDelay, &kPSMSignInDelayKey },
        };
        for (const auto& [slot, key] : fields) {
            if (APMPBHasField(psm.get(), slot))
                cacheValueIn(next->settings, QVariant(static_cast<qint64>(APMPBGetInt32Field(psm.get(), slot))), *key);
        }
    }

    QMutexLocker lock(&mutex_);
    caches_ = std::move(next);
}

APMEventEditingProvider::Modules APMRemoteConfig::eventEditingModules(const std::shared_ptr<Caches>& caches) const
{
    APMEventEditingProvider::Modules modules;

    // The program reads the settings of its own configuration as they are
    // now: a text not yet read, or the number a getter made of it.
    const std::weak_ptr<Caches> weakCaches = caches;
    modules.settingText = [weakCaches](const QString& key) -> std::optional<QString> {
        const std::shared_ptr<Caches> current = weakCaches.lock();
        if (!current)
            return std::nullopt;
        return current->settings.text(key);
    };

    const auto bundleIdentifier = environment_.bundleIdentifier;
    const auto appVersion = environment_.appVersion;
    modules.appMetadata = [bundleIdentifier, appVersion]() {
        QVariantMap metadata;
        metadata.insert(kPlatformKey, APMEnvironmentInfo::platformName());
        const QString package = bundleIdentifier ? bundleIdentifier() : QString();
        if (!package.isEmpty())
            metadata.insert(kPackageNameKey, package);
        metadata.insert(kVMPVersionKey, QVariant(APMLibrary::kAppMetricsLibraryVersion));
        const QString version = appVersion ? appVersion() : QString();
        if (!version.isNull())
            metadata.insert(kAppVersionKey, version);
        return QVariant(metadata);
    };
    return modules;
}
