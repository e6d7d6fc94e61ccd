#pragma once

#include "fakes/FakeHttpServer.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace fakes {

// The ad-attribution service on 127.0.0.1: takes an attribution token
// (POST "/api/v1/", plain text) and answers with the campaign as JSON, from a
// script. Every request is checked against what the service accepts: method,
// path, content type, no caching, and a body that is exactly the token the
// test expects; what does not conform is listed in the request's problems.
//
//     FakeSearchAdsServer server;
//     server.expectToken("tok-1");
//     server.script({ FakeSearchAdsServer::attributed("c-7", "k-9") });
//     ... reporter posts to server.url() ...
//     EXPECT_TRUE(server.requests()[0].problems.isEmpty());
class FakeSearchAdsServer {
public:
    static const QString kPath; // "/api/v1/"
    static const QString kTestIdentifier; // "1234567890", the service's test answer

    struct Request {
        QByteArray body;
        QStringList problems; // empty for a well-formed request
    };

    // Answers the service gives.
    static FakeHttpServer::Reply attributed(const QString& campaignID, const QString& keywordID,
        const QString& adID = QStringLiteral("555"));
    static FakeHttpServer::Reply notAttributed();
    // The service's test answer: ad and campaign ids "1234567890".
    static FakeHttpServer::Reply testData();
    static FakeHttpServer::Reply serverError(const QByteArray& jsonBody = "{\"attribution\":false}");
    static FakeHttpServer::Reply malformed();
    static FakeHttpServer::Reply emptyObject();

    FakeSearchAdsServer();
    FakeSearchAdsServer(const FakeSearchAdsServer&) = delete;
    FakeSearchAdsServer& operator=(const FakeSearchAdsServer&) = delete;

    // "http://127.0.0.1:<port>": the service address to configure.
    QUrl url() const;
    // The token the next requests must carry.
    void expectToken(const QString& token);
    // Replies for the next requests, in order; after them a 404.
    void script(const QList<FakeHttpServer::Reply>& replies);

    int requestCount() const { return http_.requestCount(); }
    bool waitForRequests(int count, int timeoutMs = 5000) const { return http_.waitForRequests(count, timeoutMs); }
    QList<Request> requests() const;

private:
    FakeHttpServer http_;
    QByteArray expectedToken_;
};

} // namespace fakes
