// The configuration fetch (a conditional GET whose reply is checked in full
// before anything of it is kept), and the engine's small services: the
// purchase duplicate filter, the first-open time, the data reset the front
// end asks for, the configuration library's presence and the network
// library's log lines.
#include "analytics/base/APMClassRegistry.h"
#include "analytics/base/APMEnvironmentInfo.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/reporters/APMInAppPurchaseTransactionReporter.h"
#include "analytics/engine/APMMeasurement.h"
#include "analytics/engine/APMUploadScheduler.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "analytics/identity/APMTCFClient.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/rules/APMPRuntime.h"
#include "analytics/store/APMDatabase.h"
#include "platform/AppStore.h"
#include "platform/GlobalQueue.h"
#include "platform/HttpClient.h"

#include <limits>

namespace apm_fetch {

const QString kRemoteConfigClassName = QStringLiteral("BASRemoteConfig");
using apm_engine::kFirstOpenTimeProperty;
const QByteArray kIfModifiedSinceHeader = "If-Modified-Since";
const QByteArray kIfNoneMatchHeader = "If-None-Match";
const QByteArray kLastModifiedHeader = "Last-Modified";
const QByteArray kETagHeader = "ETag";

// The purchase reporter's fingerprint of a store transaction; empty when it
// has none.
QString purchaseReporterFingerprint(const platform::StorePaymentTransaction& transaction, APMMonitor& monitor)
{
    return APMInAppPurchaseTransactionReporter::transactionFingerprint(&transaction, monitor).value_or(QString());
}

} // namespace apm_fetch

using namespace apm_fetch;

// ---- Fetch ----------------------------------------------------------------------------

QUrl APMMeasurement::configAddress() const
{
    const QUrl address
        = shared_.environment.configURL.isEmpty() ? shared_.environment.collectionURL : shared_.environment.configURL;
    return address.isValid() && !address.host().isEmpty() ? address : QUrl();
}

void APMMeasurement::fetchRemoteConfig()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("fetchRemoteConfig"));
    if (!shared_.remoteConfig)
        return;
    const std::optional<QUrl> url = shared_.remoteConfig->remoteConfigURLWithPlatform(
        APMEnvironmentInfo::platformName(), kAppMetricsLibraryVersion, APMPRuntime::runtimeVersion());
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
    sendNetworkRequest(request, QStringLiteral("APMMeasurement:config"),
        &APMMeasurement::networkRemoteConfigFetchCompletionHandler);
}

void APMMeasurement::recordConfigFetchTime(qint64 failureCode, const QString& failureMessage)
{
    APMError error;
    if (shared_.database->updateRemoteConfigSuccessfulTimestamp(shared_.now(), &error)) {
        uploads_->resumeUploads();
        return;
    }
    // Without the fetch time the configuration would read as expired and be
    // fetched again at once: uploads and fetches pause instead.
    shared_.log(APMMonitor::kLevelErrorMonitored, failureCode, failureMessage, error.description());
    uploads_->suspendUploads();
}

void APMMeasurement::networkRemoteConfigFetchCompletionHandler(const platform::HttpResponse& response)
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
        updateSchedule();
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
    if (shared_.remoteConfig->DMAConsentEnabled() && shouldRequestDeferredDeepLinkAfterConfigFetch_) {
        shouldRequestDeferredDeepLinkAfterConfigFetch_ = false;
        requestDeferredDeepLink();
    } else {
        uploadDataOrRegisterAlarm();
    }
    if (tcfClient_)
        tcfClient_->setIsDMARegion(shared_.remoteConfig->isDMARegion());
}

// ---- Services ---------------------------------------------------------------------------

void APMMeasurement::filterPurchaseTransactions(const QList<platform::StorePaymentTransaction>& transactions,
    std::function<void(QList<platform::StorePaymentTransaction>)> callback)
{
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(
        QStringLiteral("APMMeasurement:4063"), [weak, transactions, callback] {
            const auto self = weak.lock();
            if (!self || !*self)
                return;
            APMMeasurement& engine = **self;
            QList<platform::StorePaymentTransaction> result;
            for (const platform::StorePaymentTransaction& transaction : transactions) {
                if (transaction.state != platform::StorePaymentTransaction::State::Purchased)
                    continue;
                const QString fingerprint = engine.shared_.environment.transactionFingerprint
                    ? engine.shared_.environment.transactionFingerprint(transaction)
                    : purchaseReporterFingerprint(transaction, *engine.shared_.environment.monitor);
                if (fingerprint.isEmpty()) {
                    engine.shared_.log(APMMonitor::kLevelErrorSilent, 23139,
                        QStringLiteral("Purchase has nil or empty fingerprint. Purchase will not be checked "
                                       "for duplicates. "
                                       "Product ID"),
                        transaction.productIdentifier);
                    result.append(transaction);
                    continue;
                }
                APMError error;
                const std::optional<bool> isNew = engine.shared_.database
                    ? engine.shared_.database->insertIfNotDuplicatePurchaseFingerprint(fingerprint, &error)
                    : std::nullopt;
                if (!isNew) {
                    engine.shared_.log(APMMonitor::kLevelErrorMonitored, 23140,
                        QStringLiteral("Failed to save purchase fingerprint. Purchase will not be checked "
                                       "for duplicates. "
                                       "Product ID, error"),
                        transaction.productIdentifier, error.description());
                    result.append(transaction);
                } else if (*isNew) {
                    result.append(transaction);
                } else {
                    engine.shared_.log(APMMonitor::kLevelWarningMonitored, 23141,
                        QStringLiteral("Purchase is a duplicate and will not be reported. Product ID"),
                        transaction.productIdentifier);
                }
            }
            if (callback)
                platform::GlobalQueue::async([callback, result] { callback(result); });
        });
}

double APMMeasurement::firstOpenTimestamp()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("firstOpenTimestamp"));
    if (!shared_.database)
        return 0;
    APMError error;
    const std::optional<QList<APMUserAttribute>> properties
        = shared_.database->userAttributesIncludingInternal(true, &error);
    if (!properties) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23123,
            QStringLiteral("Unable to query current user properties. Error"), error.description());
        return 0;
    }
    if (properties->isEmpty()) {
        shared_.log(APMMonitor::kLevelErrorSilent, 23124,
            QStringLiteral("Cannot extract first open timestamp. Empty user properties"));
        return 0;
    }
    // Without a first-open property, the earliest property set is the
    // nearest the first open can be placed.
    double earliest = std::numeric_limits<double>::infinity();
    for (const APMUserAttribute& property : *properties) {
        if (property.name() == kFirstOpenTimeProperty)
            return property.lastSetTimestamp();
        earliest = std::min(earliest, property.lastSetTimestamp());
    }
    return earliest;
}

bool APMMeasurement::resetAnalyticsDataWithAppInstanceID(const QString& appInstanceID)
{
    if (appInstanceID.isEmpty()) {
        if (!APMConsentSettingsUtil::isAnalyticsStorageDenied()) {
            shared_.log(APMMonitor::kLevelErrorMonitored, 23167,
                QStringLiteral("Cannot reset with an empty app instance ID"));
            return false;
        }
        shared_.log(APMMonitor::kLevelDebug, 23218, QStringLiteral("Resetting with an empty app instance ID"));
    }
    const double loadTimestamp = shared_.environment.loadTimestamp ? shared_.environment.loadTimestamp() : shared_.initTimestamp;
    bool reset = false;
    shared_.scheduler->dispatchSyncOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:3644"), [&] {
        if (!wipeoutAnalyticsDataAndResetComponents())
            return;
        reset = true;
        shared_.persistedConfig->setAppInstanceID(appInstanceID);
        updatePersistedAppIDFromVMPAndAdNest();
        shared_.log(APMMonitor::kLevelNotice, 23168, QStringLiteral("Analytics data has been reset"));
        markDeferredAnalyticsCollection(shared_.enabled);
        shared_.initTimestamp = loadTimestamp;
        shared_.persistedConfig->setLoadTimestampValue(loadTimestamp);
        if (shared_.enabled) {
            setPersonalizedAdsUserPropertyOnWorkerQueue();
            reportFirstOpenOnWorkerQueue();
        }
    });
    return reset;
}

bool APMMeasurement::isBasaltRemoteConfigSDKPresent()
{
    return APMClassRegistry::classExists(kRemoteConfigClassName);
}

// ---- Network log lines ----------------------------------------------------------------

void APMMeasurement::VULNetwork_logWithLevel(qint64 level, qint64 code, const QString& message)
{
    VULNetwork_logWithLevelMessageCodeMessageContexts(level, code, message, {});
}

void APMMeasurement::VULNetwork_logWithLevelMessageCodeMessageContext(
    qint64 level, qint64 code, const QString& message, const QVariant& context)
{
    VULNetwork_logWithLevelMessageCodeMessageContexts(level, code, message, QVariantList { context });
}

void APMMeasurement::VULNetwork_logWithLevelMessageCodeMessageContexts(
    qint64 level, qint64 code, const QString& message, const QVariantList& contexts)
{
    // The network library counts its levels like the system log (3 error,
    // 4 warning, 5 notice, 6 info, 7 debug).
    qint64 monitorLevel = APMMonitor::kLevelWarning;
    switch (level) {
    case 3:
        monitorLevel = APMMonitor::kLevelErrorMonitored;
        break;
    case 4:
        monitorLevel = APMMonitor::kLevelWarningMonitored;
        break;
    case 5:
        monitorLevel = APMMonitor::kLevelWarning;
        break;
    case 6:
        monitorLevel = APMMonitor::kLevelNotice;
        break;
    case 7:
        monitorLevel = APMMonitor::kLevelDebug;
        break;
    default:
        break;
    }
    shared_.environment.monitor->logWithLevelContexts(monitorLevel, code, message, contexts);
}
