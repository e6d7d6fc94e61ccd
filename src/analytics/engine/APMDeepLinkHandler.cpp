// Campaign addresses and deep links: an address the application was opened
// with becomes a campaign event, the deferred deep link is asked for once
// after installation, and the launch address is kept for the next start.
#include "analytics/engine/APMDeepLinkHandler.h"

#include "analytics/engine/APMEngineContext.h"
#include "analytics/engine/APMMeasurement.h"
#include "analytics/engine/APMLifecycleReporter.h"
#include "analytics/reporters/APMMeasurementNames.h"

#include "analytics/base/APMAEU.h"
#include "analytics/base/APMCampaignURL.h"
#include "analytics/base/APMConfigStore.h"
#include "analytics/base/APMDeepLinkStore.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/base/APMUserDefaults.h"
#include "analytics/base/APMValue.h"
#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/model/APMUserAttribute.h"
#include "platform/Clock.h"
#include "platform/HttpClient.h"
#include "platform/MainQueue.h"
#include "platform/SerialQueue.h"

#include <algorithm>

using namespace apm_engine;

const QString APMDeepLinkHandler::kLaunchOptionsUserActivityDictionaryKey
    = QStringLiteral("UIApplicationLaunchOptionsUserActivityDictionaryKey");
const QString APMDeepLinkHandler::kLaunchOptionsUserActivityKey = QStringLiteral("UIApplicationLaunchOptionsUserActivityKey");
const QString APMDeepLinkHandler::kLaunchOptionsURLKey = QStringLiteral("UIApplicationLaunchOptionsURLKey");

namespace deep_link_handler {

const QString kURLCachedCampaignEvent = QStringLiteral("_cmpx");
const QString kCampaignCacheKey = QStringLiteral("_cc");
const QString kVbraidParameter = QStringLiteral("vbraid");
const QString kVbraidProperty = QStringLiteral("_vbraid");
const QString kDeferredDeepLinkSwitchKey = QStringLiteral("VIREO_ANALYTICS_DEFERRED_DEEP_LINK_ENABLED");
const QString kDebugDeferredDeepLinkArgument = QStringLiteral("-DebugDeferredDeepLink");
const QString kDeferredDeepLinkPath = QStringLiteral("/pagead/conversion/app/deeplink");

bool isNumberOne(const QVariant& value)
{
    return APMConfigStore::isNumber(value) && value.toDouble() == 1.0;
}

} // namespace deep_link_handler

using namespace deep_link_handler;

APMDeepLinkHandler::APMDeepLinkHandler(APMEngineContext& shared, APMMeasurement& engine)
    : shared_(shared)
    , engine_(engine)
{
}

// ---- Launch -----------------------------------------------------------------------

std::optional<QUrl> APMDeepLinkHandler::deepLinkFromUserActivity(const std::optional<APMUserActivity>& activity)
{
    if (!activity) {
        APMMeasurement::monitor().logWithLevel(APMMonitor::kLevelDebug, 23003, QStringLiteral("User Activity is empty. User Activity"));
        return std::nullopt;
    }
    if (activity->activityType == APMUserActivity::kBrowsingWebActivityType && !activity->webpageURL.isEmpty())
        return activity->webpageURL;
    APMMeasurement::monitor().logWithLevel(APMMonitor::kLevelWarning, 23006,
        QStringLiteral("User Activity does not have Deep Link. User Activity"), activity->activityType);
    return std::nullopt;
}

void APMDeepLinkHandler::handleStoredURLAfterAppLaunchWithNotification(
    const QVariantMap& userInfo, APMConfigStore* deepLinkStore, platform::Clock* clock)
{
    APMConfigStore& store = deepLinkStore ? *deepLinkStore : APMUserDefaults::sharedUserDefaults();
    const double now = (clock ? *clock : platform::Clock::system()).now();
    const QVariantMap activities = userInfo.value(kLaunchOptionsUserActivityDictionaryKey).toMap();
    const QVariant activity = activities.value(kLaunchOptionsUserActivityKey);
    if (activity.canConvert<APMUserActivity>()) {
        const std::optional<QUrl> link = deepLinkFromUserActivity(activity.value<APMUserActivity>());
        if (link && !link->isEmpty()) {
            storeDeepLink(store, link->toString(QUrl::FullyEncoded), now);
            return;
        }
    }
    const QUrl url = userInfo.value(kLaunchOptionsURLKey).toUrl();
    const QString text = url.toString(QUrl::FullyEncoded);
    if (!url.isRelative() && !text.isEmpty())
        storeDeepLink(store, text, now);
}

// ---- Opened addresses --------------------------------------------------------------

void APMDeepLinkHandler::handleNonFirstOpenEventURL(const QUrl& url, double eventTimestampInSeconds)
{
    if (shared_.scheduler->workerQueue().isCurrent()) {
        shared_.log(APMMonitor::kLevelErrorSilent, 23163,
            QStringLiteral("Do not call handleNonFirstOpenOpenURL on the measurement worker queue"));
        return;
    }
    handleOpenURL(url, std::nullopt, eventTimestampInSeconds);
}

void APMDeepLinkHandler::handleOpenURL(
    const QUrl& url, std::optional<qint64> clickTimestampInMs, double eventTimestampInSeconds)
{
    if (url.toString(QUrl::FullyEncoded).isEmpty())
        return;
    handleDeepLink(url, clickTimestampInMs, eventTimestampInSeconds);
}

void APMDeepLinkHandler::handleDeepLink(
    const QUrl& url, std::optional<qint64> clickTimestampInMs, double eventTimestampInSeconds)
{
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(
        QStringLiteral("APMMeasurement:446"), [weak, url, clickTimestampInMs, eventTimestampInSeconds] {
            if (const auto self = weak.lock(); self && *self)
                (*self)->handleOpenURLOnWorkerQueue(url, clickTimestampInMs, eventTimestampInSeconds, {});
        });
}

bool APMDeepLinkHandler::shouldAllowClickID()
{
    if (!shared_.identity->iOS14OrAbove())
        return true;
    if (!shared_.identity->resettableDeviceID().isEmpty())
        return true;
    return shared_.identity->appleConsentStatus() == APMIdentity::StatusAuthorized;
}

void APMDeepLinkHandler::handleOpenURLOnWorkerQueue(const QUrl& url, std::optional<qint64> clickTimestampInMs,
    double eventTimestampInSeconds, const QVariantMap& extraParameters)
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(
        QStringLiteral("handleOpenURLOnWorkerQueue:clickTimestampInMs:eventTimestampInSeconds:extraParameters:"));
    QVariantMap working;
    QVariantMap numberExtras;
    for (auto it = extraParameters.cbegin(); it != extraParameters.cend(); ++it) {
        if (it->typeId() == QMetaType::QString)
            working.insert(it.key(), *it);
        else if (APMConfigStore::isNumber(*it))
            numberExtras.insert(it.key(), *it);
    }
    const QVariantMap query = APMCampaignURL::queryParameters(url);
    for (auto it = query.cbegin(); it != query.cend(); ++it)
        working.insert(it.key(), *it);
    if (working.isEmpty()) {
        shared_.log(APMMonitor::kLevelDebug, 23000, QStringLiteral("Deep Link Web URL query is empty"));
        return;
    }
    if (!APMCampaignURL::isValidCampaignURLParamDictionary(working)) {
        shared_.log(APMMonitor::kLevelWarning, 23001, QStringLiteral("Deep Link does not contain valid required params. URL params"),
            QVariant(working.keys()));
        return;
    }
    QVariantMap parameters = APMCampaignURL::campaignParameters(working);
    if (!shouldAllowClickID()) {
        for (const QString& name : APMCampaignURL::clickIdentifierParameters())
            parameters.remove(name);
    }
    for (auto it = numberExtras.cbegin(); it != numberExtras.cend(); ++it)
        parameters.insert(it.key(), *it);
    if (clickTimestampInMs)
        parameters.insert(apm_engine::kClickTimestampParameter, *clickTimestampInMs);

    const double firstOpen = double(shared_.persistedConfig->firstOpenTimestampMilliseconds()) / 1000.0;
    const double eventTime = std::max(firstOpen, eventTimestampInSeconds);
    const QString vbraid = parameters.value(kVbraidParameter).toString();
    if (!vbraid.isEmpty()) {
        if (const auto attribute
            = APMUserAttribute::initWithOrigin(kAutoOrigin, kVbraidProperty, APMValue::valueFromObject(vbraid).value(), eventTime))
            engine_.setUserPropertyInDatabaseOnWorkerQueue(*attribute);
    }
    const QString name = isNumberOne(parameters.value(kCampaignCacheKey)) ? kURLCachedCampaignEvent : apm_engine::kCampaignEvent;
    engine_.logLifecycleEventOnWorkerQueue(name, parameters, eventTime);
}

// ---- Deferred deep link --------------------------------------------------------------

bool APMDeepLinkHandler::shouldAllowRequestDeferredDeepLink()
{
    if (!shared_.remoteConfig->isDeferredDeepLinkEnabled()) {
        shared_.log(APMMonitor::kLevelWarningSilent, 23193, QStringLiteral("Deferred Deep Link feature disabled"));
        return false;
    }
    const QVariant enabled = shared_.environment.infoDictionary->value(kDeferredDeepLinkSwitchKey);
    if (!APMConfigStore::isNumber(enabled) || !enabled.toBool())
        return false;
    if (shared_.persistedConfig->deferredDeepLinkRetrievalComplete().isValid()) {
        shared_.log(APMMonitor::kLevelDebug, 23194, QStringLiteral("Already retrieved Deferred Deep Link. Skipping"));
        return false;
    }
    if (shared_.persistedConfig->deferredDeepLinkRetryCount() >= shared_.remoteConfig->maxDeferredDeepLinkRetryCount()) {
        shared_.log(APMMonitor::kLevelWarning, 23195, QStringLiteral("Failed to retrieve Deferred Deep Link. Reached retry limit"));
        shared_.persistedConfig->setDeferredDeepLinkRetrievalComplete(qint64(1));
        return false;
    }
    if (APMConsentSettingsUtil::isAdStorageDenied()) {
        shared_.log(APMMonitor::kLevelWarning, 23252,
            QStringLiteral("IDFA unavailable to retrieve Deferred Deep Link due to denied ad storage consent. Skipping"));
        return false;
    }
    if (shared_.identity->hasLimitedAdTracking() && !shared_.identity->limitedAdTracking()) {
        shared_.log(APMMonitor::kLevelDebug, 23197, QStringLiteral("Deferred Deep Link feature enabled"));
        return true;
    }
    shared_.log(APMMonitor::kLevelWarning, 23196, QStringLiteral("IDFA unavailable to retrieve Deferred Deep Link. Skipping"));
    return false;
}

void APMDeepLinkHandler::requestDeferredDeepLink()
{
    const QUrl& host = shared_.environment.adServicesURL;
    if (!host.isValid() || host.host().isEmpty()) {
        shared_.log(APMMonitor::kLevelWarning, 23198, QStringLiteral("URL to retrieve Deferred Deep Link is invalid"));
        return;
    }
    // Values are percent-encoded into the query, so no value can add a pair.
    QStringList query;
    const auto add = [&query](const QString& key, const QString& value) {
        query.append(key + QLatin1Char('=') + QString::fromLatin1(QUrl::toPercentEncoding(value)));
    };
    add(QStringLiteral("sdk_version"), QString::number(APMMeasurement::kAppMetricsLibraryVersion));
    add(QStringLiteral("rdid"), shared_.identity->resettableDeviceID());
    add(QStringLiteral("id_type"), QStringLiteral("idfa"));
    add(QStringLiteral("bundleid"), shared_.identity->appID());
    add(QStringLiteral("retry"), QString::number(shared_.persistedConfig->deferredDeepLinkRetryCount()));
    if (shared_.environment.processArguments->contains(kDebugDeferredDeepLinkArgument) && !APMAEU::isFAS())
        add(QStringLiteral("ddl_test"), QStringLiteral("1"));
    if (shared_.remoteConfig->DMAConsentEnabled()) {
        const QString consentSignalText = APMConsentSettingsUtil::consentSignals();
        if (!consentSignalText.isEmpty())
            add(QStringLiteral("gcs"), consentSignalText);
        const bool dmaRegion = shared_.remoteConfig->isDMARegion();
        add(QStringLiteral("dma"), dmaRegion ? QStringLiteral("1") : QStringLiteral("0"));
        const QSet<QString> services = shared_.remoteConfig->corePlatformServices();
        if (APMConsentSettingsUtil::isAdUserDataDenied()) {
            add(QStringLiteral("dma_cps"), QStringLiteral("-"));
        } else if (dmaRegion && !services.isEmpty()) {
            QStringList sorted(services.cbegin(), services.cend());
            sorted.sort();
            add(QStringLiteral("dma_cps"), sorted.join(QString()));
        }
        if (const std::optional<qint64> personalization = APMConsentSettingsUtil::adPersonalization())
            add(QStringLiteral("npa"), *personalization ? QStringLiteral("0") : QStringLiteral("1"));
    }
    QUrl url = host;
    url.setPath(kDeferredDeepLinkPath);
    url.setQuery(query.join(QLatin1Char('&')), QUrl::StrictMode);
    if (!url.isValid()) {
        shared_.log(APMMonitor::kLevelWarning, 23198, QStringLiteral("URL to retrieve Deferred Deep Link is invalid"));
        return;
    }

    platform::HttpRequest request;
    request.method = "GET";
    request.url = url;
    request.timeoutSeconds = shared_.remoteConfig->networkTimeout();
    engine_.sendNetworkRequest(request, QStringLiteral("APMMeasurement:ddl"),
        [this](const platform::HttpResponse& response) { deferredDeepLinkCompletionOnWorkerQueue(response); });
}

void APMDeepLinkHandler::deferredDeepLinkCompletionOnWorkerQueue(const platform::HttpResponse& response)
{
    const bool answered = response.error == platform::HttpResponse::Error::None
        && (response.status == 200 || response.status == 204 || response.status == 304);
    if (!answered) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23199,
            QStringLiteral("Failed to retrieve Deferred Deep Link. Will retry on next launch. Code, error"),
            response.status, response.errorString);
        shared_.persistedConfig->setDeferredDeepLinkRetryCount(shared_.persistedConfig->deferredDeepLinkRetryCount() + 1);
        engine_.updateSchedule();
        return;
    }
    shared_.persistedConfig->setDeferredDeepLinkRetrievalComplete(qint64(0));
    if (const std::optional<QVariantMap> info
        = APMCampaignURL::deepLinkInfoFromResponseData(response.body, *shared_.environment.monitor)) {
        shared_.log(APMMonitor::kLevelDebug, 23200, QStringLiteral("Successfully retrieved Deferred Deep Link"));
        handleDeferredDeepLinkInfo(*info);
    } else {
        engine_.updateSchedule();
    }
}

void APMDeepLinkHandler::handleDeferredDeepLinkInfo(const QVariantMap& info)
{
    const QUrl url(info.value(APMCampaignURL::kDeepLinkKey).toString());
    shared_.log(APMMonitor::kLevelVerbose, 23203, QStringLiteral("Sending Deferred Deep Link to app delegate"));
    QVariantMap extraInfo;
    if (info.contains(APMCampaignURL::kTimestampKey))
        extraInfo.insert(APMCampaignURL::kTimestampKey, info.value(APMCampaignURL::kTimestampKey));
    APMMonitor* engineMonitor = shared_.environment.monitor;
    platform::MainQueue::shared().async([url, extraInfo, engineMonitor] {
        if (!sendDeepLinkURLToAppDelegateOnMainThread(url, extraInfo))
            engineMonitor->logWithLevel(APMMonitor::kLevelWarning, 23204,
                QStringLiteral("App delegate not configured to handle Deferred Deep Link"), url.toString());
    });
}

bool APMDeepLinkHandler::sendDeepLinkURLToAppDelegateOnMainThread(const QUrl&, const QVariantMap&)
{
    return false;
}
