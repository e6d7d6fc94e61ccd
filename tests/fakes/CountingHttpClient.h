#pragma once

#include "platform/HttpClient.h"

#include <QMutex>
#include <QList>
#include <QUrl>

#include <atomic>

namespace fakes {

// Passes requests to the real client and counts them as they are sent and
// as their replies are handed back, so a test knows at once whether a
// request went out (before it reaches a server) and when its answer was seen.
class CountingHttpClient final : public platform::HttpClient {
public:
    void send(const platform::HttpRequest& request, Completion completion) override
    {
        record(request);
        platform::HttpClient::shared().send(request, [this, completion](const platform::HttpResponse& response) {
            completion(response);
            ++replies;
        });
    }
    platform::HttpResponse sendBlocking(const platform::HttpRequest& request) override
    {
        record(request);
        platform::HttpResponse response = platform::HttpClient::shared().sendBlocking(request);
        ++replies;
        return response;
    }

    // The requests sent so far to the server (scheme, host and port) given.
    int sentTo(const QUrl& server) const
    {
        const QMutexLocker lock(&mutex_);
        int count = 0;
        for (const QUrl& url : urls_)
            count += url.scheme() == server.scheme() && url.host() == server.host() && url.port() == server.port();
        return count;
    }

    std::atomic<int> sent { 0 };
    std::atomic<int> replies { 0 };

private:
    void record(const platform::HttpRequest& request)
    {
        {
            const QMutexLocker lock(&mutex_);
            urls_.append(request.url);
        }
        ++sent;
    }

    mutable QMutex mutex_;
    QList<QUrl> urls_;
};

} // namespace fakes
