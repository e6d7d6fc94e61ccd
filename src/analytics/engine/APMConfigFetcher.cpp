#include "analytics/engine/APMConfigFetcher.h"

#include "analytics/base/APMEnvironmentInfo.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/engine/APMAudienceEvaluator.h"
#include "analytics/engine/APMEngineContext.h"
#include "analytics/engine/APMMeasurement.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "analytics/identity/APMTCFClient.h"
#include "analytics/rules/APMPRuntime.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/wire/APMPBAudience.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementConfig.h"
#include "analytics/wire/APMPBSetting.h"
#include "platform/HttpClient.h"

namespace config_fetcher {

const QByteArray kIfModifiedSinceHeader = "If-Modified-Since";
const QByteArray kIfNoneMatchHeader = "If-None-Match";
const QByteArray kLastModifiedHeader = "Last-Modified";
const QByteArray kETagHeader = "ETag";
constexpr int32_t kConfigAppIDSlot = 1; // field 2
constexpr int32_t kConfigSettingsSlot = 3; // field 4
constexpr int32_t kConfigAudiencesSlot = 5; // field 6

} // namespace config_fetcher

using namespace config_fetcher;

APMConfigFetcher::APMConfigFetcher(APMEngineContext& shared, APMMeasurement& engine)
    : shared_(shared)
    , engine_(engine)
{
}

// ---- Fetch ----------------------------------------------------------------------------

QUrl APMConfigFetcher::configAddress() const
{
    const QUrl address
        = shared_.environment.configURL.isEmpty() ? shared_.environment.collectionURL : shared_.environment.configURL;
    return address.isValid() && !address.host().isEmpty() ? address : QUrl();
}

void APMConfigFetcher::fetchRemoteConfig()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("fetchRemoteConfig"));
    if (!shared_.remoteConfig)
        return;
    const std::optional<QUrl> url = shared_.remoteConfig->remoteConfigURLWithPlatform(
        APMEnvironmentInfo::platformName(), APMMeasurement::kAppMetricsLibraryVersion, APMPRuntime::runtimeVersion());
    if (!url || !url->isValid() || url->host().isEmpty()) {
        shared_.log(APMMonitor::kLevelErrorSilent, 23125, QStringLiteral("Invalid server URL to get configuration"));
        return;
    }
    shared_.log(APMMonitor::kLevelVerbose, 23126, QStringLiteral("Fetching configuration from the server"));
    platform::HttpRequest request;
    request.method = "GET";
    request.url = *url;
    const QString lastModified = shared_.persistedConfig->configServerLastModifiedString();
    if (!lastModified.isEmpty())
        request.headers.append({ kIfModifiedSinceHeader, lastModified.toUtf8() });
    const QString eTag = shared_.persistedConfig->configServerETag();
    if (!eTag.isEmpty())
        request.headers.append({ kIfNoneMatchHeader, eTag.toUtf8() });
    request.timeoutSeconds = shared_.remoteConfig->networkTimeout();
    engine_.sendNetworkRequest(request, QStringLiteral("APMMeasurement:config"),
        [this](const platform::HttpResponse& response) { networkRemoteConfigFetchCompletionHandler(response); });
}

void APMConfigFetcher::recordConfigFetchTime(qint64 failureCode, const QString& failureMessage)
{
    APMError error;
    if (shared_.database->updateRemoteConfigSuccessfulTimestamp(shared_.now(), &error)) {
        engine_.resumeUploads();
        return;
    }
    // Without the fetch time the configuration would read as expired and be
    // fetched again at once: uploads and fetches pause instead.
    shared_.log(APMMonitor::kLevelErrorMonitored, failureCode, failureMessage, error.description());
    engine_.suspendUploads();
}

void APMConfigFetcher::networkRemoteConfigFetchCompletionHandler(const platform::HttpResponse& response)
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(
        QStringLiteral("networkRemoteConfigFetchCompletionHandler"));
    if (!shared_.database)
        return;
    const int status = response.error == platform::HttpResponse::Error::None ? response.status : 0;
    shared_.log(APMMonitor::kLevelVerbose, 23127, QStringLiteral("Fetched configuration. Status code"), status);
    if (status != 200 && status != 204 && status != 304 && status != 404) {
        shared_.log(APMMonitor::kLevelWarning, 23128,
            QStringLiteral("Network request failed to fetch remote config. Code, Error"), status,
            response.errorString);
        shared_.persistedConfig->setLastFailedUploadTimestamp(shared_.now());
        if (status == 503 || status == 429)
            shared_.persistedConfig->setLastBackoffTimestamp(shared_.now());
        shared_.log(APMMonitor::kLevelWarning, 23129,
            QStringLiteral("Network fetch failed. Will retry later. Code, error"), status,
            response.errorString);
        engine_.updateSchedule();
        return;
    }
    shared_.persistedConfig->setLastFailedUploadTimestamp(0);
    shared_.persistedConfig->setLastBackoffTimestamp(0);
    // The validators name the configuration the server sent; they are kept
    // only with a configuration that was kept, so a refused body is sent in
    // full again rather than answered "not modified".
    bool keepValidators = true;
    if (status == 304 || status == 404) {
        if (status == 304)
            shared_.log(APMMonitor::kLevelVerbose, 23131,
                QStringLiteral("Configuration has not been modified. Using the same configuration. Code"),
                status);
        else
            shared_.log(APMMonitor::kLevelWarning, 23130,
                QStringLiteral("Configuration not found. Using default configuration"));
        recordConfigFetchTime(23132, QStringLiteral("Failed to update config last set timestamp. Error"));
    } else {
        shared_.log(APMMonitor::kLevelVerbose, 23133,
            QStringLiteral("Successfully fetched configuration from the server. Code, size"), status,
            qint64(response.body.size()));
        // A refused body leaves the configuration in use until the next
        // fetch falls due.
        recordConfigFetchTime(23134, QStringLiteral("Failed to set last set timestamp in database. Error"));
        if (!response.body.isEmpty())
            keepValidators = applyMeasurementConfigData(response.body);
    }
    if (keepValidators) {
        shared_.persistedConfig->setConfigServerLastModifiedString(
            QString::fromUtf8(response.header(kLastModifiedHeader)));
        shared_.persistedConfig->setConfigServerETag(QString::fromUtf8(response.header(kETagHeader)));
    }
    // A deferred deep link held back at start for want of a fresh
    // configuration goes out now, in place of this round's upload.
    if (shared_.remoteConfig->DMAConsentEnabled() && engine_.shouldRequestDeferredDeepLinkAfterConfigFetch()) {
        engine_.setShouldRequestDeferredDeepLinkAfterConfigFetch(false);
        engine_.requestDeferredDeepLink();
    } else {
        engine_.uploadDataOrRegisterAlarm();
    }
    if (APMTCFClient* tcf = engine_.tcfClient())
        tcf->setIsDMARegion(shared_.remoteConfig->isDMARegion());
}

// ---- Application ------------------------------------------------------------------------

bool APMConfigFetcher::applyMeasurementConfigData(const QByteArray& data)
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
    engine_.updateConsentSettingsUtilWithRemoteConfig();
    return true;
}
