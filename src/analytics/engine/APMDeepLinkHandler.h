#pragma once

#include "analytics/base/APMUserActivity.h"

#include <QString>
#include <QUrl>
#include <QVariantMap>
#include <QtGlobal>

#include <optional>

namespace platform {
class Clock;
struct HttpResponse;
} // namespace platform

class APMConfigStore;
class APMMeasurement;
struct APMEngineContext;

// Campaign addresses and deep links: an address the application was opened
// with becomes a campaign event ("_cmp" or "_cmpx") with the campaign
// parameters of its query, the deferred deep link is asked for once after
// installation, and the launch address is kept for the next start. Never
// from the worker queue unless the name says so.
class APMDeepLinkHandler {
public:
    // Keys of the launch notification's information.
    static const QString kLaunchOptionsUserActivityDictionaryKey; // "UIApplicationLaunchOptionsUserActivityDictionaryKey"
    static const QString kLaunchOptionsUserActivityKey; // "UIApplicationLaunchOptionsUserActivityKey"
    static const QString kLaunchOptionsURLKey; // "UIApplicationLaunchOptionsURLKey"

    APMDeepLinkHandler(APMEngineContext& shared, APMMeasurement& engine);
    APMDeepLinkHandler(const APMDeepLinkHandler&) = delete;
    APMDeepLinkHandler& operator=(const APMDeepLinkHandler&) = delete;

    // The page address of a browsing activity; nothing for any other.
    static std::optional<QUrl> deepLinkFromUserActivity(const std::optional<APMUserActivity>& activity);
    // Any thread: keeps the address the application was launched with (from
    // a continued activity, else the launch URL) in the deep-link store.
    static void handleStoredURLAfterAppLaunchWithNotification(
        const QVariantMap& userInfo, APMConfigStore* deepLinkStore, platform::Clock* clock);
    // Handing a deep link to the application has no receiver here: false.
    static bool sendDeepLinkURLToAppDelegateOnMainThread(const QUrl& url, const QVariantMap& extraInfo);

    void handleNonFirstOpenEventURL(const QUrl& url, double eventTimestampInSeconds);
    void handleOpenURL(const QUrl& url, std::optional<qint64> clickTimestampInMs, double eventTimestampInSeconds);
    void handleDeepLink(const QUrl& url, std::optional<qint64> clickTimestampInMs, double eventTimestampInSeconds);
    void handleOpenURLOnWorkerQueue(const QUrl& url, std::optional<qint64> clickTimestampInMs,
        double eventTimestampInSeconds, const QVariantMap& extraParameters);
    bool shouldAllowClickID();
    bool shouldAllowRequestDeferredDeepLink();
    void requestDeferredDeepLink();
    void handleDeferredDeepLinkInfo(const QVariantMap& info);
    // Set at start when the deferred deep link must wait for a fresh
    // configuration (an expired one with DMA consent on); the configuration
    // fetch asks for the link once it has adopted the new one.
    bool shouldRequestDeferredDeepLinkAfterConfigFetch() const { return requestDeferredDeepLinkAfterConfigFetch_; }
    void setShouldRequestDeferredDeepLinkAfterConfigFetch(bool value) { requestDeferredDeepLinkAfterConfigFetch_ = value; }

private:
    void deferredDeepLinkCompletionOnWorkerQueue(const platform::HttpResponse& response);

    APMEngineContext& shared_;
    APMMeasurement& engine_;
    bool requestDeferredDeepLinkAfterConfigFetch_ = false;
};
