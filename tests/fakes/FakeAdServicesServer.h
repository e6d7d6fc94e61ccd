#pragma once

#include "fakes/FakeHttpServer.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

namespace fakes {

// The ad-services host's deferred deep-link lookup on 127.0.0.1: answers GET
// "/pagead/conversion/app/deeplink" from a script and checks every request:
// the method, the path, no body, and a query that carries each of
// sdk_version, rdid, id_type ("idfa"), bundleid and retry exactly once, the
// numbers as decimal digits, and no key the lookup does not know.
//
//     FakeAdServicesServer server;
//     server.script({ FakeAdServicesServer::Reply::json(R"({"deeplink":"pravik://x"})") });
//     ... engine asks server.url() ...
//     ASSERT_TRUE(server.waitForRequests(1));
//     EXPECT_TRUE(server.lookups()[0].problems.isEmpty());
class FakeAdServicesServer {
public:
    using Reply = FakeHttpServer::Reply;
    static const QString kPath; // "/pagead/conversion/app/deeplink"

    struct Lookup {
        QUrlQuery query;
        QStringList problems; // empty for a well-formed request
        QString value(const QString& key) const { return query.queryItemValue(key, QUrl::FullyDecoded); }
        bool has(const QString& key) const { return query.hasQueryItem(key); }
    };

    FakeAdServicesServer();
    FakeAdServicesServer(const FakeAdServicesServer&) = delete;
    FakeAdServicesServer& operator=(const FakeAdServicesServer&) = delete;

    // "http://127.0.0.1:<port>": the ad-services address to configure.
    QUrl url() const;
    // Replies for the next lookups, in order; after them the fallback.
    void script(const QList<Reply>& replies);
    // The reply when no scripted one is left (404 by default).
    void setFallback(const Reply& reply) { http_.setFallback(reply); }

    int requestCount() const { return http_.requestCount(); }
    bool waitForRequests(int count, int timeoutMs = 5000) const { return http_.waitForRequests(count, timeoutMs); }
    // Every request received, checked.
    QList<Lookup> lookups() const;

    // The check behind lookups(), for any request.
    static Lookup check(const FakeHttpServer::Request& request);

private:
    FakeHttpServer http_;
};

} // namespace fakes
