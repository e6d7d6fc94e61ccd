#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <QtGlobal>

#include <atomic>
#include <functional>

namespace platform {
struct HttpRequest;
struct HttpResponse;
} // namespace platform

class APMMeasurement;
struct APMEngineContext;

// When the next batch is due (retry, back-off and suspension included), how
// a batch is assembled and sent, and what a reply does; and the one network
// request at a time that uploads, configuration fetches and conversion
// queries share. Owns the network's busy marks, the suspension and the
// bundles in flight. Worker queue unless noted.
class APMUploadScheduler {
public:
    APMUploadScheduler(APMEngineContext& shared, APMMeasurement& engine);
    APMUploadScheduler(const APMUploadScheduler&) = delete;
    APMUploadScheduler& operator=(const APMUploadScheduler&) = delete;

    void updateSchedule();
    double nextUploadingTime();
    bool hasDataToUpload();
    void uploadData();
    bool isNetworkConnected() const;
    bool isNetworkReadyForRequest();
    void networkUploadCompletionHandlerWithResponse(const platform::HttpResponse& response);
    void uploadDataOrRegisterAlarm();
    // Any thread.
    void reachabilityDidChange();
    void terminateBackgroundTask();
    void handleEventsForBackgroundURLSessionID(const QString& identifier, std::function<void()> completion);
    // Sends the request with the network marked busy; the reply clears the
    // mark and goes to the completion on the worker queue while the engine
    // is there.
    void sendNetworkRequest(const platform::HttpRequest& request, const QString& blockID,
        std::function<void(const platform::HttpResponse&)> completion);

    bool isNetworkRequestPending() const { return isNetworkRequestPending_; }
    void setIsNetworkRequestPending(bool pending) { isNetworkRequestPending_ = pending; }
    // Boot clock; 0: not suspended.
    double suspendedUploadTimestamp() const { return suspendedUploadTimestamp_; }
    // Uploads and configuration fetches pause for an hour from now.
    void suspendUploads();
    void resumeUploads();
    const QList<qint64>& uploadingBundleIDs() const { return uploadingBundleIDs_; }

private:
    void stopSchedule();
    void setReachabilityDelegate(bool waiting);
    void incrementRetryCounter();
    void setUploadInProgressWithBundleIDs(const QList<qint64>& rowIDs);
    bool removeBundlesFromDatabaseWithIDs(const QList<qint64>& rowIDs);
    QUrl uploadURL() const;
    void finishBackgroundSessionEvents();

    APMEngineContext& shared_;
    APMMeasurement& engine_;
    bool isNetworkRequestPending_ = false;
    // From sending a request until its reply came back (main thread).
    std::atomic<bool> networkRequestInFlight_ { false };
    // Completions waiting for the request in flight.
    QList<std::function<void()>> backgroundSessionCompletions_;
    mutable bool loggedMissingCollectionURL_ = false;
    double suspendedUploadTimestamp_ = 0;
    QList<qint64> uploadingBundleIDs_;
};
