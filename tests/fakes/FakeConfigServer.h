#pragma once

#include "fakes/FakeHttpServer.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace fakes {

// The analytics configuration service on 127.0.0.1: answers the
// configuration GET "/config/app/<app ID>?platform=..&runtime_version=..
// &vmp_version=.." with the answer set (an encoded configuration with its
// validators, 304, 404, an error status, a dropped connection or any body),
// and reads back every request. Whatever does not conform (method, path and
// app ID, the query's keys, order and values, a body, conditional headers
// that are empty or repeated) is listed by problems().
//
//     FakeConfigServer server(appID);
//     server.setAnswer(FakeConfigServer::Answer::configuration(bytes, "\"v2\""));
//     ... engine fetches from server.url() ...
//     EXPECT_EQ(server.requests()[0].ifNoneMatch, "\"v1\"");
class FakeConfigServer {
public:
    struct Answer {
        int status = 404;
        QByteArray body;
        QByteArray eTag; // sent as "ETag" when not empty
        QByteArray lastModified; // sent as "Last-Modified" when not empty
        bool drop = false; // close the connection without an answer

        // 200 with the encoded configuration.
        static Answer configuration(
            const QByteArray& encoded, const QByteArray& eTag = {}, const QByteArray& lastModified = {});
        static Answer withStatus(int code, const QByteArray& eTag = {}, const QByteArray& lastModified = {});
        static Answer dropped();
    };

    struct Request {
        QString appID; // from the path, percent-decoded
        QString platform;
        QString runtimeVersion;
        QString vmpVersion;
        QByteArray ifModifiedSince; // empty when not sent
        QByteArray ifNoneMatch;
        bool hasIfModifiedSince = false;
        bool hasIfNoneMatch = false;
    };

    // The app ID and library version every request must carry.
    FakeConfigServer(const QString& appID, const QString& vmpVersion);

    // "http://127.0.0.1:<port>": the configuration address to configure.
    QUrl url() const;
    // The answer to every request from now on (404 at first). Set it while
    // no request is in flight.
    void setAnswer(const Answer& answer);

    int requestCount() const { return http_.requestCount(); }
    bool waitForRequests(int count, int timeoutMs = 5000) const
    {
        return http_.waitForRequests(count, timeoutMs);
    }
    QList<Request> requests() const;
    QStringList problems() const;

private:
    FakeHttpServer http_;
    QString appID_;
    QString vmpVersion_;
};

} // namespace fakes
