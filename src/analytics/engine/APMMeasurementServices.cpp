// The engine's services over its database (audiences, conditional user
// properties), the experimentation client, and the application of a fetched
// configuration.
#include "analytics/audience/APMAudience.h"
#include "analytics/audience/APMAudienceLimits.h"
#include "analytics/audience/APMConditionalUserPropertyController.h"
#include "analytics/audience/APMEDatabase.h"
#include "analytics/audience/APMEExperimentRequestBuilder.h"
#include "analytics/audience/APMEManager.h"
#include "analytics/audience/APMETaskManager.h"
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
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    if (!shared_.environment.audience) {
        const std::weak_ptr<APMRemoteConfig> config = shared_.remoteConfig;
        auto audience = std::make_unique<APMAudience>(*shared_.database, [config] {
            const std::shared_ptr<APMRemoteConfig> current = config.lock();
            return current ? APMAudienceLimits::fromRemoteConfig(*current) : APMAudienceLimits();
        });
        shared_.environment.audience = std::make_shared<APMAudienceBundleEvaluator>(std::move(audience));
    }
    if (!shared_.environment.conditionalProperties) {
        // Companion events of setting and clearing go through the pipeline
        // like any other event.
        conditionalUserPropertyController_ = std::make_shared<APMConditionalUserPropertyController>(
            *shared_.database, shared_.scheduler->workerQueue(),
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
        conditionalUserPropertyController_->setQueryWaiting(shared_.environment.timer, [weak] {
            const auto self = weak.lock();
            return self && *self && (*self)->scheduler().isOnWorkerQueue();
        });
        shared_.environment.conditionalProperties
            = std::make_shared<APMConditionalPropertyEventProcessor>(conditionalUserPropertyController_);
    }
}

std::shared_ptr<APMEManager> APMMeasurement::makeExperimentManager()
{
    APMETaskManager::Environment environment;
    // Fetches and their alarm run on the task manager's own worker queue;
    // tests inject their timer instead and run it on virtual time.
    environment.workerQueue = shared_.environment.timer;
    environment.clock = shared_.environment.clock;
    environment.network = shared_.environment.http;
    if (!shared_.environment.experimentStore && !experimentStore_)
        experimentStore_ = std::make_unique<APMUserDefaults>(APMETaskManager::kSuiteName);
    environment.persistedStorage = shared_.environment.experimentStore ? shared_.environment.experimentStore : experimentStore_.get();
    const QString measurementPath
        = shared_.environment.databasePath.isEmpty() ? APMApplicationSupportPath(kDatabaseName) : shared_.environment.databasePath;
    environment.databasePath = QFileInfo(measurementPath).absoluteDir().filePath(APMEDatabase::kDatabaseName);
    environment.serviceAddress = shared_.environment.experimentsURL;
    environment.requestBuilder = std::make_shared<APMEExperimentRequestBuilder>();
    // New-snapshot notices go where the fetch task's alarm runs when that is
    // injected (tests on virtual time), else to the main queue.
    return APMEManager::initWithTaskManager(
        *shared_.environment.clock, std::make_shared<APMETaskManager>(environment), shared_.environment.timer);
}

bool APMMeasurement::applyMeasurementConfigData(const QByteArray& data)
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("applyMeasurementConfigData"));
    // Every check comes before anything is stored or applied: a reply that
    // fails one leaves the stored and the live configuration as they were.
    std::unique_ptr<APMPBMeasurementConfig> config = APMPBMeasurementConfig::initWithBuffer(data);
    if (!config) {
        shared_.log(APMMonitor::kLevelErrorSilent, 23135, QStringLiteral("Configuration data is invalid."));
        return false;
    }
    if (APMPBGetStringField(config.get(), kConfigAppIDSlot) != shared_.identity->appIDFromVMP()) {
        shared_.log(APMMonitor::kLevelErrorSilent, 23136, QStringLiteral("Configuration does not have valid Vireo App ID."));
        return false;
    }
    if (APMPBGetArrayField<APMPBSetting>(config.get(), kConfigSettingsSlot).empty()) {
        shared_.log(APMMonitor::kLevelErrorSilent, 23135, QStringLiteral("Configuration data is invalid."),
            QStringLiteral("no settings"));
        return false;
    }
    const auto audiences = APMPBGetArrayField<APMPBAudience>(config.get(), kConfigAudiencesSlot);
    APMPBClearField(config.get(), kConfigAudiencesSlot);
    std::shared_ptr<const APMPBMeasurementConfig> adopted(std::move(config));
    const std::shared_ptr<const APMPBMeasurementConfig> previous = shared_.remoteConfig->remoteConfigProto();
    bool adoptedLive = false;
    const bool applied = shared_.database->performTransaction([&] {
        // The audiences go first: they only write rows, which a rollback
        // takes back. Adopting the configuration replaces the live one in a
        // single step and is the last step that can fail.
        if (!shared_.environment.audience->updateAudiences(audiences)) {
            shared_.log(APMMonitor::kLevelErrorSilent, 23137,
                QStringLiteral("Failed to update audiences with new server configuration"), data);
            return false;
        }
        if (!shared_.remoteConfig->updateMeasurementConfig(adopted)) {
            shared_.log(APMMonitor::kLevelErrorSilent, 23138,
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
            shared_.remoteConfig->updateMeasurementConfig(previous);
        return false;
    }
    updateConsentSettingsUtilWithRemoteConfig();
    return true;
}
