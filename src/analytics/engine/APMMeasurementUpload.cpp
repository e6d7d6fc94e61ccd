// Upload: when the next batch is due (retry, back-off and suspension
// included), how a batch is assembled and sent, and what a reply does.
#include "analytics/engine/APMMeasurement.h"

#include "analytics/model/APMEvent.h"
#include "analytics/base/APMAlarm.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMHelpers.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/engine/APMBundleFields.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/store/APMGzip.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementBatch.h"
#include "analytics/wire/APMPBMeasurementBundle.h"
#include "analytics/wire/APMPBUserAttribute.h"
#include "platform/HttpClient.h"
#include "platform/MainQueue.h"
#include "platform/Reachability.h"

#include <cmath>
#include <limits>
#include <utility>

using namespace apm_engine;
using namespace APMBundleSlot;

namespace {

constexpr double kEpsilon = 2.220446049250313e-16;
constexpr double kSuspensionSeconds = 3600;
const QString kBatchPath = QStringLiteral("/a");

// The wait added by the retry formula at an attempt: 2^attempt intervals.
double retryStep(int attempt, double interval)
{
    return std::ldexp(interval, attempt);
}

} // namespace

// ---- Schedule -----------------------------------------------------------------------

double APMMeasurement::nextUploadingTime()
{
    // An empty table answers nothing without an error: no time, not a failure.
    APMError rawError;
    const std::optional<double> rawTime = database_->queryLatestRawEventTime(&rawError);
    if (!rawTime && rawError.code() != 0)
        log(APMMonitor::kLevelWarningSilent, 23029, QStringLiteral("Failed to query latest raw event time. Error"),
            rawError.description());
    APMError bundleError;
    const std::optional<double> bundleTime = database_->queryLatestBundleTime(&bundleError);
    if (!bundleTime && bundleError.code() != 0)
        log(APMMonitor::kLevelWarningSilent, 23030, QStringLiteral("Failed to query latest bundle time. Error"),
            bundleError.description());
    APMError error;
    const double latest = std::max(rawTime.value_or(0), bundleTime.value_or(0));
    if (std::fabs(latest) < kEpsilon)
        return 0;
    const bool debug = isDebugMode();
    bool realtime = debug;
    if (!realtime) {
        const std::optional<bool> bundles = database_->containsRealtimeBundlesWithError(&error);
        if (!bundles)
            log(APMMonitor::kLevelWarningSilent, 23031, QStringLiteral("Failed to query for real-time bundle indicator. Error"),
                error.description());
        realtime = bundles.value_or(false);
    }
    if (!realtime) {
        const std::optional<bool> raw = database_->containsRealtimeRawEventsWithError(&error);
        if (!raw)
            log(APMMonitor::kLevelWarningSilent, 23032, QStringLiteral("Failed to query for real-time raw event indicator. Error"),
                error.description());
        realtime = raw.value_or(false);
    }
    const double interval = realtime ? remoteConfig_->uploadingRealTimeInterval() : remoteConfig_->uploadingInterval();
    const double current = now();
    const double t = current - std::fabs(latest - current);
    const double lastSuccess = persistedConfig_->lastSuccessfulUploadTimestamp();
    const double lastFailed = persistedConfig_->lastFailedUploadTimestamp();
    double base = std::fabs(current - lastSuccess) < interval ? lastSuccess + interval
                                                              : t + remoteConfig_->uploadingInitialDelayInterval();
    if (lastFailed < t)
        return debug ? std::min(base, t + remoteConfig_->uploadingDebugModeInterval()) : base;
    const qint32 retries = remoteConfig_->uploadingRetryCount();
    const double retryInterval = remoteConfig_->uploadingRetryInterval();
    for (int i = 0; i < retries; ++i) {
        base += retryStep(i, retryInterval);
        if (base > lastFailed)
            return base;
    }
    return 0; // retries exhausted until new data arrives
}

void APMMeasurement::stopSchedule()
{
    alarm_->cancel();
    setReachabilityDelegate(false);
    terminateBackgroundTask();
}

void APMMeasurement::terminateBackgroundTask()
{
    // Nothing more is due for a while: what the engine keeps of its state
    // goes to disk now.
    persistedConfig_->synchronizeToDisk();
}

void APMMeasurement::setReachabilityDelegate(bool waiting)
{
    if (!environment_.reachability)
        return;
    if (!waiting) {
        environment_.reachability->setChangeHandler({});
        return;
    }
    const std::weak_ptr<APMMeasurement*> weak = self_;
    environment_.reachability->setChangeHandler([weak] {
        if (const auto self = weak.lock(); self && *self)
            (*self)->reachabilityDidChange();
    });
}

void APMMeasurement::reachabilityDidChange()
{
    const std::weak_ptr<APMMeasurement*> weak = self_;
    scheduler_->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:1034"), [weak] {
        if (const auto self = weak.lock(); self && *self)
            (*self)->updateSchedule();
    });
}

void APMMeasurement::uploadDataOrRegisterAlarm()
{
    if (isNetworkConnected() && hasDataToUpload())
        uploadData();
    else
        updateSchedule();
}

void APMMeasurement::updateSchedule()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("updateSchedule"));
    if (!database_)
        return;
    if (suspendedUploadTimestamp_ != 0) {
        const double elapsed = std::fabs(bootClock() - suspendedUploadTimestamp_);
        if (elapsed < kSuspensionSeconds) {
            log(APMMonitor::kLevelWarning, 23023,
                QStringLiteral("Upload has been suspended. Will update scheduling later. Seconds"), kSuspensionSeconds - elapsed);
            stopSchedule();
            return;
        }
        suspendedUploadTimestamp_ = 0;
    }
    if (!hasDataToUpload()) {
        remoteConfig_->activateNewSnapshot();
        log(APMMonitor::kLevelVerbose, 23024, QStringLiteral("No data to upload. Upload task will not be scheduled"));
        stopSchedule();
        return;
    }
    double next = nextUploadingTime();
    if (next == 0) {
        log(APMMonitor::kLevelVerbose, 23025, QStringLiteral("No next uploading time. Upload task will not be scheduled"));
        stopSchedule();
        return;
    }
    if (!isNetworkConnected()) {
        log(APMMonitor::kLevelVerbose, 23026, QStringLiteral("No network. Upload task will not be scheduled"));
        // Woken by reachabilityDidChange() when the network comes back.
        alarm_->cancel();
        setReachabilityDelegate(true);
        terminateBackgroundTask();
        return;
    }
    setReachabilityDelegate(false);
    const double lastBackoff = persistedConfig_->lastBackoffTimestamp();
    const double backoff = remoteConfig_->uploadingBackoffInterval();
    if (lastBackoff > 0 && backoff > now() - lastBackoff)
        next = std::max(next, lastBackoff + backoff);
    const std::optional<double> scheduled = alarm_->scheduledTimestamp();
    // An armed upload whose wall-clock moment already passed (the machine
    // slept through it) is stale: it is armed again rather than trusted.
    if (scheduled && *scheduled <= next && *scheduled >= now()) {
        log(APMMonitor::kLevelVerbose, 23027,
            QStringLiteral("Do not schedule an upload task. Task already exists. Will be executed in seconds"),
            *scheduled - now());
        return;
    }
    double delay = next - now();
    if (std::fabs(delay) < kEpsilon)
        delay = 0.001;
    const std::weak_ptr<APMMeasurement*> weak = self_;
    alarm_->runAfterDelay(delay, [weak] {
        const auto self = weak.lock();
        if (!self || !*self)
            return;
        (*self)->scheduler_->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:1762"), [weak] {
            if (const auto engine = weak.lock(); engine && *engine)
                (*engine)->uploadData();
        });
    });
    log(APMMonitor::kLevelVerbose, 23028, QStringLiteral("Upload task scheduled to be executed in approx. (s)"), delay);
}

bool APMMeasurement::hasDataToUpload()
{
    APMError error;
    const std::optional<bool> queueEmpty = database_->isQueuedBundleTableEmpty(&error);
    if (!queueEmpty) {
        log(APMMonitor::kLevelErrorMonitored, 23117, QStringLiteral("Failed to check if queue table is empty. Error"),
            error.description());
        return false;
    }
    const std::optional<bool> rawEmpty = database_->isRawEventsTableEmpty(&error);
    if (!rawEmpty) {
        log(APMMonitor::kLevelErrorMonitored, 23118, QStringLiteral("Failed to check if raw events table is empty. Error"),
            error.description());
        return false;
    }
    return !*queueEmpty || !*rawEmpty;
}

bool APMMeasurement::isNetworkConnected() const
{
    const bool configured = environment_.collectionURL.isValid() && !environment_.collectionURL.host().isEmpty();
    if (!configured && !loggedMissingCollectionURL_) {
        const_cast<APMMeasurement*>(this)->loggedMissingCollectionURL_ = true;
        log(APMMonitor::kLevelNotice, 23270,
            QStringLiteral("No collection address is configured (%1). Events are kept and not uploaded")
                .arg(kCollectionURLVariable));
    }
    return configured && (!environment_.reachability || environment_.reachability->isConnected());
}

bool APMMeasurement::isNetworkReadyForRequest()
{
    // One request at a time. The engine's flag lasts until its reply has
    // been handled on the worker queue; the network's until the reply came.
    const bool networkBusy = networkRequestInFlight_.load();
    if (!isNetworkRequestPending_)
        return !networkBusy;
    if (!networkBusy)
        log(APMMonitor::kLevelErrorMonitored, 23041, QStringLiteral("Analytics is uploading but network is not uploading"));
    return false;
}

QUrl APMMeasurement::uploadURL() const
{
    QUrl url = remoteConfig_->uploadURL();
    url.setScheme(environment_.collectionURL.scheme());
    url.setPort(environment_.collectionURL.port());
    url.setPath(kBatchPath);
    return url;
}

// ---- Batches --------------------------------------------------------------------------

void APMMeasurement::uploadData()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("uploadData"));
    if (!database_)
        return;
    if (suspendedUploadTimestamp_ > 0) {
        updateSchedule();
        return;
    }
    log(APMMonitor::kLevelVerbose, 23033, QStringLiteral("Starting data upload"));
    if (!isNetworkReadyForRequest()) {
        log(APMMonitor::kLevelVerbose, 23034, QStringLiteral("Network operation is pending. Ignoring upload request"));
        return;
    }
    if (!isNetworkConnected()) {
        log(APMMonitor::kLevelDebug, 23035, QStringLiteral("Network not connected, ignoring upload request"));
        updateSchedule();
        return;
    }
    // Raw events are bundled under a current configuration only: an expired
    // one is fetched again first (below, once the queue is empty).
    const bool expired = remoteConfig_->isExpired();
    if (!expired) {
        const qint32 rounds = std::max(1, remoteConfig_->maxBundlesCreatedPerIteration());
        for (qint32 i = 0; i < rounds && bundleRawEvents(); ++i) {
        }
    }
    APMError error;
    std::optional<std::vector<APMQueuedBundle>> bundles = database_->queryBundlesWithCountLimit(
        remoteConfig_->uploadMaxBundlesLimit(), quint64(std::max<qint64>(remoteConfig_->uploadMaxSizeLimitBytes(), 0)), &error);
    if (!bundles) {
        log(APMMonitor::kLevelErrorMonitored, 23036, QStringLiteral("Failed to query bundles. Error"), error.description());
        terminateBackgroundTask();
        return;
    }
    if (bundles->empty()) {
        remoteConfig_->activateNewSnapshot();
        log(APMMonitor::kLevelVerbose, 23037, QStringLiteral("No data to upload"));
        if (expired)
            fetchRemoteConfig();
        else
            terminateBackgroundTask();
        return;
    }

    // Consent a platform changed since the last look counts for this upload.
    if (remoteConfig_->tcfFeatureEnabled())
        tcfClientSetConsentFromData();
    const QString consentSignals = APMConsentSettingsUtil::consentSignals();
    const bool gate = remoteConfig_->gateIDFAOnATTMASEnabled();
    const bool dma = remoteConfig_->DMAConsentEnabled();
    const QString diagnostics = APMConsentSettingsUtil::consentDiagnostics();
    const bool adUserDataDenied = APMConsentSettingsUtil::isAdUserDataDenied();
    std::unique_ptr<APMPBUserAttribute> npa;
    if (const auto stored = database_->userAttributeWithName(kNPAProperty, nullptr))
        npa = stored->protoUserAttribute();
    bool override = dma ? consentSignals.contains(QLatin1Char('0')) : true;
    for (APMQueuedBundle& queued : *bundles) {
        if (!override)
            override = APMBundleContainsFirstOpenEvent(*queued.bundle);
        APMApplyIdentifiersToBundle(*queued.bundle, consentSignals, gate, *identity_, override);
        if (dma)
            APMApplyDMAConsentToBundle(*queued.bundle, diagnostics, adUserDataDenied, npa.get(), *remoteConfig_, override);
    }
    const double lastSuccess = persistedConfig_->lastSuccessfulUploadTimestamp();
    if (lastSuccess > 0)
        log(APMMonitor::kLevelVerbose, 23038,
            QStringLiteral("Uploading events. Elapsed time since last successful upload (s)"), std::fabs(now() - lastSuccess));

    // One app and one device per batch: the leading run of bundles that agree.
    const QString batchAppID = APMPBGetStringField(bundles->front().bundle.get(), kAppID);
    QString resettableID;
    QString vendorID;
    for (const APMQueuedBundle& queued : *bundles) {
        if (APMPBHasField(queued.bundle.get(), kResettableDeviceID)) {
            resettableID = APMPBGetStringField(queued.bundle.get(), kResettableDeviceID);
            break;
        }
        if (APMPBHasField(queued.bundle.get(), kVendorDeviceID)) {
            vendorID = APMPBGetStringField(queued.bundle.get(), kVendorDeviceID);
            break;
        }
    }
    const QString deviceID = !resettableID.isEmpty() ? resettableID : vendorID;
    const int deviceSlot = !resettableID.isEmpty() ? kResettableDeviceID : kVendorDeviceID;
    size_t compatible = 0;
    while (compatible < bundles->size()) {
        const APMPBMeasurementBundle& bundle = *(*bundles)[compatible].bundle;
        const QString id = APMPBGetStringField(&bundle, deviceSlot);
        const bool sameDevice = id.isEmpty() || deviceID.isEmpty() || id == deviceID;
        if (!sameDevice || APMPBGetStringField(&bundle, kAppID) != batchAppID)
            break;
        ++compatible;
    }
    bundles->resize(compatible);

    const qint64 nowMs = APMMillisecondsFromSeconds(now()).value_or(0);
    const APMPBMeasurementBundle* first = bundles->size() >= 2 ? bundles->front().bundle.get() : nullptr;
    const QStringList controls = remoteConfig_->dataControls();
    const bool checksum = remoteConfig_->checksumEnabled();
    std::vector<const NANOMessageBase*> batchBundles;
    QList<qint64> rowIDs;
    for (APMQueuedBundle& queued : *bundles) {
        APMPBMeasurementBundle& bundle = *queued.bundle;
        APMPBSetInt64Field(&bundle, kUploadingLibraryVersion, kAppMetricsLibraryVersion);
        APMPBSetInt64Field(&bundle, kUploadTimestamp, nowMs);
        APMApplyDataControlsToBundle(bundle, controls, *identity_);
        if (checksum)
            APMPBSetInt64Field(&bundle, kChecksum, apm_64LSBMD5(bundle.protoBuffer().value_or(QByteArray())));
        if (first && dma && &bundle != first && !APMBundlesHaveSameConsentState(*first, bundle))
            break;
        batchBundles.push_back(&bundle);
        rowIDs.append(queued.rowID);
    }
    auto batch = APMPBMeasurementBatch::initWithMessageInfo();
    APMPBSetArrayField(batch.get(), 0, batchBundles);
    const QByteArray payload = batch->protoBuffer().value_or(QByteArray());
    log(APMMonitor::kLevelDebug, 23039, QStringLiteral("Measurement data sent to network. Timestamp (ms), data"), nowMs,
        payload.size());

    setUploadInProgressWithBundleIDs(rowIDs);
    if (uploadingBundleIDs_.isEmpty())
        return;
    persistedConfig_->setLastFailedUploadTimestamp(now()); // a request counts as failed until it succeeds
    QString gzipError;
    const QByteArray body = APMGzip::dataByGzippingData(payload, &gzipError);
    if (body.isEmpty()) {
        log(APMMonitor::kLevelErrorSilent, 23040, QStringLiteral("Unable to create network session."), gzipError);
        uploadingBundleIDs_.clear();
        return;
    }
    platform::HttpRequest request;
    request.method = "POST";
    request.url = uploadURL();
    request.headers = { { "Content-Type", "application/x-protobuf" }, { "Content-Encoding", "gzip" } };
    request.body = body;
    request.timeoutSeconds = remoteConfig_->networkTimeout();
    sendNetworkRequest(request, QStringLiteral("APMMeasurement:upload"),
        &APMMeasurement::networkUploadCompletionHandlerWithResponse);
}

void APMMeasurement::sendNetworkRequest(const platform::HttpRequest& request, const QString& blockID,
    void (APMMeasurement::*completion)(const platform::HttpResponse&))
{
    isNetworkRequestPending_ = true;
    networkRequestInFlight_ = true;
    const std::weak_ptr<APMMeasurement*> weak = self_;
    environment_.http->send(request, [weak, blockID, completion](const platform::HttpResponse& response) {
        // The reply arrives on the main thread; the engine's state lives on its queue.
        const auto self = weak.lock();
        if (!self || !*self)
            return;
        (*self)->networkRequestInFlight_ = false;
        (*self)->scheduler_->scheduleOnWorkerQueueBlockID(blockID, [weak, response, completion] {
            const auto engine = weak.lock();
            if (!engine || !*engine)
                return;
            (*engine)->isNetworkRequestPending_ = false;
            ((*engine)->*completion)(response);
            (*engine)->finishBackgroundSessionEvents();
        });
    });
}

void APMMeasurement::handleEventsForBackgroundURLSessionID(
    const QString& identifier, std::function<void()> completion)
{
    (void)identifier; // requests here never outlive the program: there is one road for all
    if (!completion)
        return;
    const std::weak_ptr<APMMeasurement*> weak = self_;
    scheduler_->scheduleOnWorkerQueueBlockID(
        QStringLiteral("APMMeasurement:backgroundSession"), [weak, completion = std::move(completion)]() mutable {
            const auto self = weak.lock();
            if (self && *self && (*self)->isNetworkRequestPending_) {
                (*self)->backgroundSessionCompletions_.append(std::move(completion));
                return;
            }
            platform::MainQueue::shared().async(std::move(completion));
        });
}

void APMMeasurement::finishBackgroundSessionEvents()
{
    for (std::function<void()>& completion : std::exchange(backgroundSessionCompletions_, {}))
        platform::MainQueue::shared().async(std::move(completion));
}

void APMMeasurement::setUploadInProgressWithBundleIDs(const QList<qint64>& rowIDs)
{
    if (rowIDs.isEmpty()) {
        log(APMMonitor::kLevelErrorSilent, 23046, QStringLiteral("Bundle list is empty. Cancelling upload"));
        return;
    }
    if (!uploadingBundleIDs_.isEmpty()) {
        log(APMMonitor::kLevelErrorSilent, 23047,
            QStringLiteral("Set uploading progress before finishing the previous upload"));
        return;
    }
    uploadingBundleIDs_ = rowIDs;
}

void APMMeasurement::networkUploadCompletionHandlerWithResponse(const platform::HttpResponse& response)
{
    const int status = response.error == platform::HttpResponse::Error::None ? response.status : 0;
    if (status == 200 || status == 204) {
        log(APMMonitor::kLevelDebug, 23044, QStringLiteral("Successful upload. Got network response. Code, size"), status,
            qint64(response.body.size()));
        persistedConfig_->setLastSuccessfulUploadTimestamp(now());
        persistedConfig_->setLastFailedUploadTimestamp(0);
        persistedConfig_->setLastBackoffTimestamp(0);
        if (removeBundlesFromDatabaseWithIDs(uploadingBundleIDs_)) {
            suspendedUploadTimestamp_ = 0;
        } else {
            log(APMMonitor::kLevelErrorMonitored, 23045,
                QStringLiteral("Unable to delete uploaded bundles. Uploads will be suspended for seconds"), kSuspensionSeconds);
            suspendedUploadTimestamp_ = bootClock();
        }
        uploadingBundleIDs_.clear();
        // An expired configuration is fetched by the next round once the
        // queue is empty.
        if (suspendedUploadTimestamp_ == 0
            && ((isNetworkConnected() && hasDataToUpload()) || remoteConfig_->isExpired())) {
            uploadData();
        } else if (isPSMRequestPostponed_) {
            // The conversion query waited for this upload to finish.
            isPSMRequestPostponed_ = false;
            retrievePSMResponse();
        } else {
            updateSchedule();
        }
        return;
    }
    persistedConfig_->setLastFailedUploadTimestamp(now());
    if (status == 503 || status == 429)
        persistedConfig_->setLastBackoffTimestamp(now());
    log(APMMonitor::kLevelDebug, 23043, QStringLiteral("Network upload failed. Will retry later. Code, error"), status,
        response.errorString);
    incrementRetryCounter();
    uploadingBundleIDs_.clear();
    updateSchedule();
}

void APMMeasurement::incrementRetryCounter()
{
    APMError error;
    if (!database_->incrementRetryCounterForBundlesWithIDs(uploadingBundleIDs_, &error))
        log(APMMonitor::kLevelErrorSilent, 23166, QStringLiteral("Failed to update the bundles' retry counts. Error"),
            error.description());
}

bool APMMeasurement::removeBundlesFromDatabaseWithIDs(const QList<qint64>& rowIDs)
{
    APMError error;
    if (!database_->deleteBundlesWithRowIDs(rowIDs, &error)) {
        log(APMMonitor::kLevelErrorMonitored, 23122, QStringLiteral("Failed to delete bundles from database. Error"),
            error.description());
        return false;
    }
    return true;
}
