// The engine's doors to its jobs: each hands the call to the job that owns
// the work and its state.
#include "analytics/engine/APMMeasurement.h"

#include "analytics/engine/APMBundler.h"
#include "analytics/engine/APMConfigFetcher.h"
#include "analytics/engine/APMDeepLinkHandler.h"
#include "analytics/engine/APMEngineLifecycle.h"
#include "analytics/engine/APMEventPipeline.h"
#include "analytics/engine/APMLifecycleReporter.h"
#include "analytics/engine/APMOnDeviceConversion.h"
#include "analytics/engine/APMSessionTracker.h"
#include "analytics/engine/APMUploadScheduler.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMUserAttribute.h"
#include "platform/HttpClient.h"

// ---- Life cycle (APMEngineLifecycle) --------------------------------------------------------

void APMMeasurement::setEnabled(bool enabled)
{
    lifecycle_->setEnabled(enabled);
}

bool APMMeasurement::didInitializeComponents() const
{
    return lifecycle_->didInitializeComponents();
}

bool APMMeasurement::wasEnabledDuringInitialization() const
{
    return lifecycle_->wasEnabledDuringInitialization();
}

void APMMeasurement::updateConsentSettingsUtilWithRemoteConfig()
{
    lifecycle_->updateConsentSettingsUtilWithRemoteConfig();
}

void APMMeasurement::tcfClientSetConsentFromData()
{
    lifecycle_->tcfClientSetConsentFromData();
}

APMTCFClient* APMMeasurement::tcfClient() const
{
    return lifecycle_->tcfClient();
}

bool APMMeasurement::shouldUpdateNPAUserProperty() const
{
    return lifecycle_->shouldUpdateNPAUserProperty();
}

void APMMeasurement::setShouldUpdateNPAUserProperty(bool value)
{
    lifecycle_->setShouldUpdateNPAUserProperty(value);
}

APMConditionalUserPropertyController* APMMeasurement::conditionalUserPropertyController() const
{
    return lifecycle_->conditionalUserPropertyController();
}

bool APMMeasurement::resetAnalyticsDataWithAppInstanceID(const QString& appInstanceID)
{
    return lifecycle_->resetAnalyticsDataWithAppInstanceID(appInstanceID);
}

// ---- Event pipeline (APMEventPipeline) -----------------------------------------------------

void APMMeasurement::setUserAttributeOnWorkerQueue(const APMUserAttribute& attribute)
{
    pipeline_->setUserAttributeOnWorkerQueue(attribute);
}

bool APMMeasurement::setUserPropertyInDatabaseOnWorkerQueue(const APMUserAttribute& attribute)
{
    return pipeline_->setUserPropertyInDatabaseOnWorkerQueue(attribute);
}

void APMMeasurement::handleInternalEventOnWorkerQueue(APMEvent event)
{
    pipeline_->handleInternalEventOnWorkerQueue(std::move(event));
}

void APMMeasurement::writeEventOnWorkerQueue(const APMEvent& event)
{
    pipeline_->writeEventOnWorkerQueue(event);
}

// ---- On-device conversion (APMOnDeviceConversion) ----------------------------------------

void APMMeasurement::setUserData(const QVariantMap& userData)
{
    conversion_->setUserData(userData);
}

void APMMeasurement::checkPSMDependencyOnWorkerQueue()
{
    conversion_->checkPSMDependencyOnWorkerQueue();
}

void APMMeasurement::maybeDeleteExpiredPSMValueOnWorkerQueue()
{
    conversion_->maybeDeleteExpiredPSMValueOnWorkerQueue();
}

void APMMeasurement::resetPSMCounts()
{
    conversion_->resetPSMCounts();
}

bool APMMeasurement::resumePostponedPSMRequest()
{
    return conversion_->resumePostponedRequest();
}

// ---- Upload scheduling (APMUploadScheduler) ------------------------------------------------

void APMMeasurement::updateSchedule()
{
    uploads_->updateSchedule();
}

void APMMeasurement::uploadData()
{
    uploads_->uploadData();
}

bool APMMeasurement::isNetworkReadyForRequest()
{
    return uploads_->isNetworkReadyForRequest();
}

void APMMeasurement::uploadDataOrRegisterAlarm()
{
    uploads_->uploadDataOrRegisterAlarm();
}

void APMMeasurement::reachabilityDidChange()
{
    uploads_->reachabilityDidChange();
}

void APMMeasurement::handleEventsForBackgroundURLSessionID(const QString& identifier, std::function<void()> completion)
{
    uploads_->handleEventsForBackgroundURLSessionID(identifier, std::move(completion));
}

void APMMeasurement::sendNetworkRequest(const platform::HttpRequest& request, const QString& blockID,
    std::function<void(const platform::HttpResponse&)> completion)
{
    uploads_->sendNetworkRequest(request, blockID, std::move(completion));
}

double APMMeasurement::suspendedUploadTimestamp() const
{
    return uploads_->suspendedUploadTimestamp();
}

void APMMeasurement::suspendUploads()
{
    uploads_->suspendUploads();
}

void APMMeasurement::resumeUploads()
{
    uploads_->resumeUploads();
}

// ---- Configuration fetch (APMConfigFetcher) ----------------------------------------------

void APMMeasurement::fetchRemoteConfig()
{
    configFetcher_->fetchRemoteConfig();
}

// ---- Bundling (APMBundler) ----------------------------------------------------------------

bool APMMeasurement::bundleRawEvents()
{
    return bundler_->bundleRawEvents();
}

// ---- Lifecycle reports (APMLifecycleReporter) ---------------------------------------------

void APMMeasurement::reportFirstOpenOnWorkerQueue()
{
    lifecycleReporter_->reportFirstOpenOnWorkerQueue();
}

void APMMeasurement::setPersonalizedAdsUserPropertyOnWorkerQueue()
{
    lifecycleReporter_->setPersonalizedAdsUserPropertyOnWorkerQueue();
}

void APMMeasurement::updateAdPersonalizationConsentFromNPAValue(qint64 value)
{
    lifecycleReporter_->updateAdPersonalizationConsentFromNPAValue(value);
}

QString APMMeasurement::previousFirstOpenCount()
{
    return lifecycleReporter_->previousFirstOpenCount();
}

void APMMeasurement::setPreviousFirstOpenCount(const QString& count)
{
    lifecycleReporter_->setPreviousFirstOpenCount(count);
}

void APMMeasurement::logLifecycleEventOnWorkerQueue(
    const QString& name, const QVariantMap& parameters, double timestamp, const QVariantMap& screen)
{
    lifecycleReporter_->logLifecycleEventOnWorkerQueue(name, parameters, timestamp, screen);
}

// ---- Deep links and campaign URLs (APMDeepLinkHandler) ------------------------------------

std::optional<QUrl> APMMeasurement::deepLinkFromUserActivity(const std::optional<APMUserActivity>& activity)
{
    return APMDeepLinkHandler::deepLinkFromUserActivity(activity);
}

void APMMeasurement::handleNonFirstOpenEventURL(const QUrl& url, double eventTimestampInSeconds)
{
    deepLinks_->handleNonFirstOpenEventURL(url, eventTimestampInSeconds);
}

void APMMeasurement::handleOpenURLOnWorkerQueue(const QUrl& url, std::optional<qint64> clickTimestampInMs,
    double eventTimestampInSeconds, const QVariantMap& extraParameters)
{
    deepLinks_->handleOpenURLOnWorkerQueue(url, clickTimestampInMs, eventTimestampInSeconds, extraParameters);
}

bool APMMeasurement::shouldAllowRequestDeferredDeepLink()
{
    return deepLinks_->shouldAllowRequestDeferredDeepLink();
}

void APMMeasurement::requestDeferredDeepLink()
{
    deepLinks_->requestDeferredDeepLink();
}

bool APMMeasurement::shouldRequestDeferredDeepLinkAfterConfigFetch() const
{
    return deepLinks_->shouldRequestDeferredDeepLinkAfterConfigFetch();
}

void APMMeasurement::setShouldRequestDeferredDeepLinkAfterConfigFetch(bool value)
{
    deepLinks_->setShouldRequestDeferredDeepLinkAfterConfigFetch(value);
}

// ---- Sessions and the application's state (APMSessionTracker) ------------------------------

APMScreenViewReporter& APMMeasurement::screenViewReporter() const
{
    return sessions_->screenViewReporter();
}

std::shared_ptr<APMSessionReporter> APMMeasurement::sessionReporter() const
{
    return sessions_->sessionReporter();
}

void APMMeasurement::setSessionTimeoutInterval(double seconds)
{
    sessions_->setSessionTimeoutInterval(seconds);
}

void APMMeasurement::reportSessionStartOnWorkerQueueWithTimestamp(double timestamp, bool appInBackground)
{
    sessions_->reportSessionStartOnWorkerQueueWithTimestamp(timestamp, appInBackground);
}

void APMMeasurement::processSessionFromEvent(const APMEvent& event)
{
    sessions_->processSessionFromEvent(event);
}
