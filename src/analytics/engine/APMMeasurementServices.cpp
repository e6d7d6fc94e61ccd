// The engine's services over its database (audiences, conditional user
// properties), the experimentation client, and the application of a fetched
// configuration.
#include "analytics/audience/APMAudience.h"
#include "analytics/audience/APMAudienceLimits.h"
#include "analytics/userproperties/APMConditionalUserPropertyController.h"
#include "analytics/experiments/APMEDatabase.h"
#include "analytics/experiments/APMEExperimentRequestBuilder.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMETaskManager.h"
#include "analytics/base/APMFileLocations.h"
#include "analytics/base/APMUserDefaults.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/engine/APMAudienceBundleEvaluator.h"
#include "analytics/engine/APMConditionalPropertyEventProcessor.h"
#include "analytics/engine/APMMeasurement.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/wire/APMPBAudience.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementConfig.h"
#include "analytics/wire/APMPBSetting.h"
#include "platform/HttpClient.h"
#include "platform/SerialQueue.h"

#include <QDir>
#include <QFileInfo>

namespace {

constexpr int32_t kConfigAppIDSlot = 1; // field 2
constexpr int32_t kConfigSettingsSlot = 3; // field 4
constexpr int32_t kConfigAudiencesSlot = 5; // field 6

} // namespace

void APMMeasurement::initializeServices()
{
    const std::weak_ptr<APMMeasurement*> weak = self_;
    if (!environment_.audience) {
        const std::weak_ptr<APMRemoteConfig> config = remoteConfig_;
        auto audience = std::make_unique<APMAudience>(*database_, [config] {
            const std::shared_ptr<APMRemoteConfig> current = config.lock();
            return current ? APMAudienceLimits::fromRemoteConfig(*current) : APMAudienceLimits();
        });
        environment_.audience = std::make_shared<APMAudienceBundleEvaluator>(std::move(audience));
    }
    if (!environment_.conditionalProperties) {
        // Companion events of setting and clearing go through the pipeline
        // like any other event.
        conditionalUserPropertyController_ = std::make_shared<APMConditionalUserPropertyController>(
            *database_, scheduler_->workerQueue(),
            [weak](const APMEvent& event) {
                if (const auto self = weak.lock(); self && *self)
                    (*self)->writeEventOnWorkerQueue(event);
            },
            [weak] {
                const auto self = weak.lock();
                return self && *self && (*self)->isEnabled();
            });
        // Queries wait for the worker queue on the engine's timer; from the
        // worker queue itself they run inline.
        conditionalUserPropertyController_->setQueryWaiting(environment_.timer, [weak] {
            const auto self = weak.lock();
            return self && *self && (*self)->scheduler().isOnWorkerQueue();
        });
        environment_.conditionalProperties
            = std::make_shared<APMConditionalPropertyEventProcessor>(conditionalUserPropertyController_);
    }
}

std::shared_ptr<APMEManager> APMMeasurement::makeExperimentManager()
{
    APMETaskManager::Environment environment;
    // Fetches and their alarm run on the task manager's own worker queue;
    // tests inject their timer instead and run it on virtual time.
    environment.workerQueue = environment_.timer;
    environment.clock = environment_.clock;
    environment.network = environment_.http;
    if (!environment_.experimentStore && !experimentStore_)
        experimentStore_ = std::make_unique<APMUserDefaults>(APMETaskManager::kSuiteName);
    environment.persistedStorage = environment_.experimentStore ? environment_.experimentStore : experimentStore_.get();
    const QString measurementPath
        = environment_.databasePath.isEmpty() ? APMApplicationSupportPath(kDatabaseName) : environment_.databasePath;
    environment.databasePath = QFileInfo(measurementPath).absoluteDir().filePath(APMEDatabase::kDatabaseName);
    environment.serviceAddress = environment_.experimentsURL;
    environment.requestBuilder = std::make_shared<APMEExperimentRequestBuilder>();
    // New-snapshot notices go where the fetch task's alarm runs when that is
    // injected (tests on virtual time), else to the main queue.
    return APMEManager::initWithTaskManager(
        *environment_.clock, std::make_shared<APMETaskManager>(environment), environment_.timer);
}

bool APMMeasurement::applyMeasurementConfigData(const QByteArray& data)
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("applyMeasurementConfigData"));
    // Every check comes before anything is stored or applied: a reply that
    // fails one leaves the stored and the live configuration as they were.
    std::unique_ptr<APMPBMeasurementConfig> config = APMPBMeasurementConfig::initWithBuffer(data);
    if (!config) {
        log(APMMonitor::kLevelErrorSilent, 23135, QStringLiteral("Configuration data is invalid."));
        return false;
    }
    if (APMPBGetStringField(config.get(), kConfigAppIDSlot) != identity_->appIDFromVMP()) {
        log(APMMonitor::kLevelErrorSilent, 23136, QStringLiteral("Configuration does not have valid Vireo App ID."));
        return false;
    }
    if (APMPBGetArrayField<APMPBSetting>(config.get(), kConfigSettingsSlot).empty()) {
        log(APMMonitor::kLevelErrorSilent, 23135, QStringLiteral("Configuration data is invalid."),
            QStringLiteral("no settings"));
        return false;
    }
    const auto audiences = APMPBGetArrayField<APMPBAudience>(config.get(), kConfigAudiencesSlot);
    APMPBClearField(config.get(), kConfigAudiencesSlot);
    std::shared_ptr<const APMPBMeasurementConfig> adopted(std::move(config));
    const std::shared_ptr<const APMPBMeasurementConfig> previous = remoteConfig_->remoteConfigProto();
    bool adoptedLive = false;
    const bool applied = database_->performTransaction([&] {
        // The audiences go first: they only write rows, which a rollback
        // takes back. Adopting the configuration replaces the live one in a
        // single step and is the last step that can fail.
        if (!environment_.audience->updateAudiences(audiences)) {
            log(APMMonitor::kLevelErrorSilent, 23137,
                QStringLiteral("Failed to update audiences with new server configuration"), data);
            return false;
        }
        if (!remoteConfig_->updateMeasurementConfig(adopted)) {
            log(APMMonitor::kLevelErrorSilent, 23138,
                QStringLiteral("Failed to update configuration with new server configuration"), data);
            return false;
        }
        adoptedLive = true;
        return true;
    });
    if (!applied) {
        // The commit failed after the configuration went live: back to the
        // one the database still holds.
        if (adoptedLive && previous)
            remoteConfig_->updateMeasurementConfig(previous);
        return false;
    }
    updateConsentSettingsUtilWithRemoteConfig();
    return true;
}
