// Upload: when the next batch is due (retry, back-off and suspension
// included), how a batch is assembled and sent, and what a reply does.
#include "analytics/engine/APMUploadScheduler.h"

#include "analytics/engine/APMEngineContext.h"
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

APMUploadScheduler::APMUploadScheduler(APMEngineContext& shared, APMMeasurement& engine)
    : shared_(shared)
    , engine_(engine)
{
}

void APMUploadScheduler::suspendUploads()
{
    suspendedUploadTimestamp_ = shared_.bootClock();
}

void APMUploadScheduler::resumeUploads()
{
    suspendedUploadTimestamp_ = 0;
}

// ---- Schedule -----------------------------------------------------------------------

double APMUploadScheduler::nextUploadingTime()
{
    // An empty table answers nothing without an error: no time, not a failure.
    APMError rawError;
    const std::optional<double> rawTime = shared_.database->queryLatestRawEventTime(&rawError);
    if (!rawTime && rawError.code() != 0)
        shared_.log(APMMonitor::kLevelWarningSilent, 23029, QStringLiteral("Failed to query latest raw event time. Error"),
            rawError.description());
    APMError bundleError;
    const std::optional<double> bundleTime = shared_.database->queryLatestBundleTime(&bundleError);
    if (!bundleTime && bundleError.code() != 0)
        shared_.log(APMMonitor::kLevelWarningSilent, 23030, QStringLiteral("Failed to query latest bundle time. Error"),
            bundleError.description());
    APMError error;
    const double latest = std::max(rawTime.value_or(0), bundleTime.value_or(0));
    if (std::fabs(latest) < kEpsilon)
        return 0;
    const bool debug = shared_.isDebugMode();
    bool realtime = debug;
    if (!realtime) {
        const std::optional<bool> bundles = shared_.database->containsRealtimeBundlesWithError(&error);
        if (!bundles)
            shared_.log(APMMonitor::kLevelWarningSilent, 23031, QStringLiteral("Failed to query for real-time bundle indicator. Error"),
                error.description());
        realtime = bundles.value_or(false);
    }
    if (!realtime) {
        const std::optional<bool> raw = shared_.database->containsRealtimeRawEventsWithError(&error);
        if (!raw)
            shared_.log(APMMonitor::kLevelWarningSilent, 23032, QStringLiteral("Failed to query for real-time raw event indicator. Error"),
                error.description());
        realtime = raw.value_or(false);
    }
    const double interval = realtime ? shared_.remoteConfig->uploadingRealTimeInterval() : shared_.remoteConfig->uploadingInterval();
    const double current = shared_.now();
    const double t = current - std::fabs(latest - current);
    const double lastSuccess = shared_.persistedConfig->lastSuccessfulUploadTimestamp();
    const double lastFailed = shared_.persistedConfig->lastFailedUploadTimestamp();
    double base = std::fabs(current - lastSuccess) < interval ? lastSuccess + interval
                                                              : t + shared_.remoteConfig->uploadingInitialDelayInterval();
    if (lastFailed < t)
        return debug ? std::min(base, t + shared_.remoteConfig->uploadingDebugModeInterval()) : base;
    const qint32 retries = shared_.remoteConfig->uploadingRetryCount();
    const double retryInterval = shared_.remoteConfig->uploadingRetryInterval();
    for (int i = 0; i < retries; ++i) {
        base += retryStep(i, retryInterval);
        if (base > lastFailed)
            return base;
    }
    return 0; // retries exhausted until new data arrives
}

void APMUploadScheduler::stopSchedule()
{
    shared_.alarm->cancel();
    setReachabilityDelegate(false);
    terminateBackgroundTask();
}

void APMUploadScheduler::terminateBackgroundTask()
{
    // Nothing more is due for a while: what the engine keeps of its state
    // goes to disk now.
    shared_.persistedConfig->synchronizeToDisk();
}

void APMUploadScheduler::setReachabilityDelegate(bool waiting)
{
    if (!shared_.environment.reachability)
        return;
    if (!waiting) {
        shared_.environment.reachability->setChangeHandler({});
        return;
    }
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.environment.reachability->setChangeHandler([weak] {
        if (const auto self = weak.lock(); self && *self)
            (*self)->reachabilityDidChange();
    });
}

void APMUploadScheduler::reachabilityDidChange()
{
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:1034"), [weak] {
        if (const auto self = weak.lock(); self && *self)
            (*self)->updateSchedule();
    });
}

void APMUploadScheduler::uploadDataOrRegisterAlarm()
{
    if (isNetworkConnected() && hasDataToUpload())
        uploadData();
    else
        updateSchedule();
}

void APMUploadScheduler::updateSchedule()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("updateSchedule"));
    if (!shared_.database)
        return;
    if (suspendedUploadTimestamp_ != 0) {
        const double elapsed = std::fabs(shared_.bootClock() - suspendedUploadTimestamp_);
        if (elapsed < kSuspensionSeconds) {
            shared_.log(APMMonitor::kLevelWarning, 23023,
                QStringLiteral("Upload has been suspended. Will update scheduling later. Seconds"), kSuspensionSeconds - elapsed);
            stopSchedule();
            return;
        }
        suspendedUploadTimestamp_ = 0;
    }
    if (!hasDataToUpload()) {
        shared_.remoteConfig->activateNewSnapshot();
        shared_.log(APMMonitor::kLevelVerbose, 23024, QStringLiteral("No data to upload. Upload task will not be scheduled"));
        stopSchedule();
        return;
    }
    double next = nextUploadingTime();
    if (next == 0) {
        shared_.log(APMMonitor::kLevelVerbose, 23025, QStringLiteral("No next uploading time. Upload task will not be scheduled"));
        stopSchedule();
        return;
    }
    if (!isNetworkConnected()) {
        shared_.log(APMMonitor::kLevelVerbose, 23026, QStringLiteral("No network. Upload task will not be scheduled"));
        // Woken by reachabilityDidChange() when the network comes back.
        shared_.alarm->cancel();
        setReachabilityDelegate(true);
        terminateBackgroundTask();
        return;
    }
    setReachabilityDelegate(false);
    const double lastBackoff = shared_.persistedConfig->lastBackoffTimestamp();
    const double backoff = shared_.remoteConfig->uploadingBackoffInterval();
    if (lastBackoff > 0 && backoff > shared_.now() - lastBackoff)
        next = std::max(next, lastBackoff + backoff);
    const std::optional<double> scheduled = shared_.alarm->scheduledTimestamp();
    // An armed upload whose wall-clock moment already passed (the machine
    // slept through it) is stale: it is armed again rather than trusted.
    if (scheduled && *scheduled <= next && *scheduled >= shared_.now()) {
        shared_.log(APMMonitor::kLevelVerbose, 23027,
            QStringLiteral("Do not schedule an upload task. Task already exists. Will be executed in seconds"),
            *scheduled - shared_.now());
        return;
    }
    double delay = next - shared_.now();
    if (std::fabs(delay) < kEpsilon)
        delay = 0.001;
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.alarm->runAfterDelay(delay, [weak] {
        const auto self = weak.lock();
        if (!self || !*self)
            return;
        (*self)->scheduler().scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:1762"), [weak] {
            if (const auto engine = weak.lock(); engine && *engine)
                (*engine)->uploadData();
        });
    });
    shared_.log(APMMonitor::kLevelVerbose, 23028, QStringLiteral("Upload task scheduled to be executed in approx. (s)"), delay);
}

bool APMUploadScheduler::hasDataToUpload()
{
    APMError error;
    const std::optional<bool> queueEmpty = shared_.database->isQueuedBundleTableEmpty(&error);
    if (!queueEmpty) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23117, QStringLiteral("Failed to check if queue table is empty. Error"),
            error.description());
        return false;
    }
    const std::optional<bool> rawEmpty = shared_.database->isRawEventsTableEmpty(&error);
    if (!rawEmpty) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23118, QStringLiteral("Failed to check if raw events table is empty. Error"),
            error.description());
        return false;
    }
    return !*queueEmpty || !*rawEmpty;
}

bool APMUploadScheduler::isNetworkConnected() const
{
    const bool configured = shared_.environment.collectionURL.isValid() && !shared_.environment.collectionURL.host().isEmpty();
    if (!configured && !loggedMissingCollectionURL_) {
        loggedMissingCollectionURL_ = true;
        shared_.log(APMMonitor::kLevelNotice, 23270,
            QStringLiteral("No collection address is configured (%1). Events are kept and not uploaded")
                .arg(APMMeasurement::kCollectionURLVariable));
    }
    return configured && (!shared_.environment.reachability || shared_.environment.reachability->isConnected());
}

bool APMUploadScheduler::isNetworkReadyForRequest()
{
    // One request at a time. The engine's flag lasts until its reply has
    // been handled on the worker queue; the network's until the reply came.
    const bool networkBusy = networkRequestInFlight_.load();
    if (!isNetworkRequestPending_)
        return !networkBusy;
    if (!networkBusy)
        shared_.log(APMMonitor::kLevelErrorMonitored, 23041, QStringLiteral("Analytics is uploading but network is not uploading"));
    return false;
}

QUrl APMUploadScheduler::uploadURL() const
{
    QUrl url = shared_.remoteConfig->uploadURL();
    url.setScheme(shared_.environment.collectionURL.scheme());
    url.setPort(shared_.environment.collectionURL.port());
    url.setPath(kBatchPath);
    return url;
}

// ---- Batches --------------------------------------------------------------------------

void APMUploadScheduler::uploadData()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("uploadData"));
    if (!shared_.database)
        return;
    if (suspendedUploadTimestamp_ > 0) {
        updateSchedule();
        return;
    }
    shared_.log(APMMonitor::kLevelVerbose, 23033, QStringLiteral("Starting data upload"));
    if (!isNetworkReadyForRequest()) {
        shared_.log(APMMonitor::kLevelVerbose, 23034, QStringLiteral("Network operation is pending. Ignoring upload request"));
        return;
    }
    if (!isNetworkConnected()) {
        shared_.log(APMMonitor::kLevelDebug, 23035, QStringLiteral("Network not connected, ignoring upload request"));
        updateSchedule();
        return;
    }
    // Raw events are bundled under a current configuration only: an expired
    // one is fetched again first (below, once the queue is empty).
    const bool expired = shared_.remoteConfig->isExpired();
    if (!expired) {
        const qint32 rounds = std::max(1, shared_.remoteConfig->maxBundlesCreatedPerIteration());
        for (qint32 i = 0; i < rounds && engine_.bundleRawEvents(); ++i) {
        }
    }
    APMError error;
    std::optional<std::vector<APMQueuedBundle>> bundles = shared_.database->queryBundlesWithCountLimit(
        shared_.remoteConfig->uploadMaxBundlesLimit(), quint64(std::max<qint64>(shared_.remoteConfig->uploadMaxSizeLimitBytes(), 0)), &error);
    if (!bundles) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23036, QStringLiteral("Failed to query bundles. Error"), error.description());
        terminateBackgroundTask();
        return;
    }
    if (bundles->empty()) {
        shared_.remoteConfig->activateNewSnapshot();
        shared_.log(APMMonitor::kLevelVerbose, 23037, QStringLiteral("No data to upload"));
        if (expired)
            engine_.fetchRemoteConfig();
        else
            terminateBackgroundTask();
        return;
    }

    // Consent a platform changed since the last look counts for this upload.
    if (shared_.remoteConfig->tcfFeatureEnabled())
        engine_.tcfClientSetConsentFromData();
    const QString consentSignals = APMConsentSettingsUtil::consentSignals();
    const bool gate = shared_.remoteConfig->gateIDFAOnATTMASEnabled();
    const bool dma = shared_.remoteConfig->DMAConsentEnabled();
    const QString diagnostics = APMConsentSettingsUtil::consentDiagnostics();
    const bool adUserDataDenied = APMConsentSettingsUtil::isAdUserDataDenied();
    std::unique_ptr<APMPBUserAttribute> npa;
    if (const auto stored = shared_.database->userAttributeWithName(kNPAProperty, nullptr))
        npa = stored->protoUserAttribute();
    bool override = dma ? consentSignals.contains(QLatin1Char('0')) : true;
    for (APMQueuedBundle& queued : *bundles) {
        if (!override)
            override = APMBundleContainsFirstOpenEvent(*queued.bundle);
        APMApplyIdentifiersToBundle(*queued.bundle, consentSignals, gate, *shared_.identity, override);
        if (dma)
            APMApplyDMAConsentToBundle(*queued.bundle, diagnostics, adUserDataDenied, npa.get(), *shared_.remoteConfig, override);
    }
    const double lastSuccess = shared_.persistedConfig->lastSuccessfulUploadTimestamp();
    if (lastSuccess > 0)
        shared_.log(APMMonitor::kLevelVerbose, 23038,
            QStringLiteral("Uploading events. Elapsed time since last successful upload (s)"), std::fabs(shared_.now() - lastSuccess));

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

    const qint64 nowMs = APMMillisecondsFromSeconds(shared_.now()).value_or(0);
    const APMPBMeasurementBundle* first = bundles->size() >= 2 ? bundles->front().bundle.get() : nullptr;
    const QStringList controls = shared_.remoteConfig->dataControls();
    const bool checksum = shared_.remoteConfig->checksumEnabled();
    std::vector<NANOMessageBase*> batchBundles;
    QList<qint64> rowIDs;
    for (APMQueuedBundle& queued : *bundles) {
        APMPBMeasurementBundle& bundle = *queued.bundle;
        APMPBSetInt64Field(&bundle, kUploadingLibraryVersion, APMMeasurement::kAppMetricsLibraryVersion);
        APMPBSetInt64Field(&bundle, kUploadTimestamp, nowMs);
        APMApplyDataControlsToBundle(bundle, controls, *shared_.identity);
        if (checksum)
            APMPBSetInt64Field(&bundle, kChecksum, apm_64LSBMD5(bundle.protoBuffer().value_or(QByteArray())));
        if (first && dma && &bundle != first && !APMBundlesHaveSameConsentState(*first, bundle))
            break;
        batchBundles.push_back(&bundle);
        rowIDs.append(queued.rowID);
    }
    // The batch takes the bundles' records over: nothing reads them again.
    auto batch = APMPBMeasurementBatch::initWithMessageInfo();
    apmpb::setMessageArrayTakingRecords(batch.get(), 0, batchBundles);
    const QByteArray payload = batch->protoBuffer().value_or(QByteArray());
    shared_.log(APMMonitor::kLevelDebug, 23039, QStringLiteral("Measurement data sent to network. Timestamp (ms), data"), nowMs,
        payload.size());

    setUploadInProgressWithBundleIDs(rowIDs);
    if (uploadingBundleIDs_.isEmpty())
        return;
    shared_.persistedConfig->setLastFailedUploadTimestamp(shared_.now()); // a request counts as failed until it succeeds
    QString gzipError;
    const QByteArray body = APMGzip::dataByGzippingData(payload, &gzipError);
    if (body.isEmpty()) {
        shared_.log(APMMonitor::kLevelErrorSilent, 23040, QStringLiteral("Unable to create network session."), gzipError);
        uploadingBundleIDs_.clear();
        return;
    }
    platform::HttpRequest request;
    request.method = "POST";
    request.url = uploadURL();
    request.headers = { { "Content-Type", "application/x-protobuf" }, { "Content-Encoding", "gzip" } };
    request.body = body;
    request.timeoutSeconds = shared_.remoteConfig->networkTimeout();
    sendNetworkRequest(request, QStringLiteral("APMMeasurement:upload"),
        [this](const platform::HttpResponse& response) { networkUploadCompletionHandlerWithResponse(response); });
}

void APMUploadScheduler::sendNetworkRequest(const platform::HttpRequest& request, const QString& blockID,
    std::function<void(const platform::HttpResponse&)> completion)
{
    isNetworkRequestPending_ = true;
    networkRequestInFlight_ = true;
    // The scheduler lives as long as the engine: whoever finds the engine
    // there finds the scheduler too.
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.environment.http->send(request, [this, weak, blockID, completion = std::move(completion)](const platform::HttpResponse& response) {
        // The reply arrives on the main thread; the engine's state lives on its queue.
        const auto self = weak.lock();
        if (!self || !*self)
            return;
        networkRequestInFlight_ = false;
        shared_.scheduler->scheduleOnWorkerQueueBlockID(blockID, [this, weak, response, completion] {
            const auto engine = weak.lock();
            if (!engine || !*engine)
                return;
            isNetworkRequestPending_ = false;
            completion(response);
            finishBackgroundSessionEvents();
        });
    });
}

void APMUploadScheduler::handleEventsForBackgroundURLSessionID(
    const QString& identifier, std::function<void()> completion)
{
    (void)identifier; // requests here never outlive the program: there is one road for all
    if (!completion)
        return;
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(
        QStringLiteral("APMMeasurement:backgroundSession"), [this, weak, completion = std::move(completion)]() mutable {
            const auto self = weak.lock();
            if (self && *self && isNetworkRequestPending_) {
                backgroundSessionCompletions_.append(std::move(completion));
                return;
            }
            platform::MainQueue::shared().async(std::move(completion));
        });
}

void APMUploadScheduler::finishBackgroundSessionEvents()
{
    for (std::function<void()>& completion : std::exchange(backgroundSessionCompletions_, {}))
        platform::MainQueue::shared().async(std::move(completion));
}

void APMUploadScheduler::setUploadInProgressWithBundleIDs(const QList<qint64>& rowIDs)
{
    if (rowIDs.isEmpty()) {
        shared_.log(APMMonitor::kLevelErrorSilent, 23046, QStringLiteral("Bundle list is empty. Cancelling upload"));
        return;
    }
    if (!uploadingBundleIDs_.isEmpty()) {
        shared_.log(APMMonitor::kLevelErrorSilent, 23047,
            QStringLiteral("Set uploading progress before finishing the previous upload"));
        return;
    }
    uploadingBundleIDs_ = rowIDs;
}

void APMUploadScheduler::networkUploadCompletionHandlerWithResponse(const platform::HttpResponse& response)
{
    const int status = response.error == platform::HttpResponse::Error::None ? response.status : 0;
    if (status == 200 || status == 204) {
        shared_.log(APMMonitor::kLevelDebug, 23044, QStringLiteral("Successful upload. Got network response. Code, size"), status,
            qint64(response.body.size()));
        shared_.persistedConfig->setLastSuccessfulUploadTimestamp(shared_.now());
        shared_.persistedConfig->setLastFailedUploadTimestamp(0);
        shared_.persistedConfig->setLastBackoffTimestamp(0);
        if (removeBundlesFromDatabaseWithIDs(uploadingBundleIDs_)) {
            suspendedUploadTimestamp_ = 0;
        } else {
            shared_.log(APMMonitor::kLevelErrorMonitored, 23045,
                QStringLiteral("Unable to delete uploaded bundles. Uploads will be suspended for seconds"), kSuspensionSeconds);
            suspendedUploadTimestamp_ = shared_.bootClock();
        }
        uploadingBundleIDs_.clear();
        // An expired configuration is fetched by the next round once the
        // queue is empty.
        if (suspendedUploadTimestamp_ == 0
            && ((isNetworkConnected() && hasDataToUpload()) || shared_.remoteConfig->isExpired())) {
            uploadData();
        } else if (engine_.resumePostponedPSMRequest()) {
            // The conversion query waited for this upload to finish.
        } else {
            updateSchedule();
        }
        return;
    }
    shared_.persistedConfig->setLastFailedUploadTimestamp(shared_.now());
    if (status == 503 || status == 429)
        shared_.persistedConfig->setLastBackoffTimestamp(shared_.now());
    shared_.log(APMMonitor::kLevelDebug, 23043, QStringLiteral("Network upload failed. Will retry later. Code, error"), status,
        response.errorString);
    incrementRetryCounter();
    uploadingBundleIDs_.clear();
    updateSchedule();
}

void APMUploadScheduler::incrementRetryCounter()
{
    APMError error;
    if (!shared_.database->incrementRetryCounterForBundlesWithIDs(uploadingBundleIDs_, &error))
        shared_.log(APMMonitor::kLevelErrorSilent, 23166, QStringLiteral("Failed to update the bundles' retry counts. Error"),
            error.description());
}

bool APMUploadScheduler::removeBundlesFromDatabaseWithIDs(const QList<qint64>& rowIDs)
{
    APMError error;
    if (!shared_.database->deleteBundlesWithRowIDs(rowIDs, &error)) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23122, QStringLiteral("Failed to delete bundles from database. Error"),
            error.description());
        return false;
    }
    return true;
}
