#include "analytics/rules/APMPEventEditingProvider.h"

#include "analytics/config/APMRemoteConfig.h"
#include "analytics/rules/APMPEventEditing.h"
#include "analytics/rules/APMPKeyValueStore.h"
#include "analytics/rules/APMPMessageLogger.h"
#include "analytics/rules/APMPObjectProvider.h"
#include "analytics/rules/APMPixieLogger.h"

std::shared_ptr<APMPEventEditing> APMPEventEditingProvider::eventEditingWithProgram(
    const APMPBProgram& program, Modules modules, APMError* error) const
{
    auto eventEditing = std::make_shared<APMPEventEditing>();

    auto settingText = std::move(modules.settingText);
    eventEditing->setModuleCreator(
        [settingText]() -> std::shared_ptr<APMPRuntimeValue> {
            return std::make_shared<APMPKeyValueStore>(APMRemoteConfig::kModuleRemoteConfig, settingText);
        },
        APMRemoteConfig::kModuleRemoteConfig);

    auto appMetadata = std::move(modules.appMetadata);
    eventEditing->setModuleCreator(
        [appMetadata]() -> std::shared_ptr<APMPRuntimeValue> {
            return std::make_shared<APMPObjectProvider>(APMRemoteConfig::kModuleAppMetadata, appMetadata);
        },
        APMRemoteConfig::kModuleAppMetadata);

    eventEditing->setModuleCreator(
        []() -> std::shared_ptr<APMPRuntimeValue> {
            return std::make_shared<APMPMessageLogger>(std::make_shared<APMPixieLogger>());
        },
        APMRemoteConfig::kModuleLogger);

    if (!eventEditing->loadProgram(program, error))
        return nullptr;
    return eventEditing;
}
