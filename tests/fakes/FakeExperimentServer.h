#pragma once

#include "fakes/FakeHttpServer.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

namespace fakes {

// The experiment service on 127.0.0.1: answers POST /sdk-exp from a script
// with encoded experiment responses, HTTP errors or malformed bodies, and
// reads back every request the client sent. The messages are written and
// read here with a small protobuf codec of its own, independent of the
// library's, after the schema: request {1 app property {1 platform, 4
// language, 5 bundle id, 6 from store, 7 version}, 2 client properties {1
// SDK name, 2 diversion key, 3 version, 4 app ID}}; response {1 snapshots,
// 2 SDK responses {1 SDK name, 2 status, 3 snapshot}}; snapshot {1 SDK
// name, 2 experiments {1 id, 2 flags {1 name, 2 int, 3 string, 4 double,
// 5 bool}}}.
class FakeExperimentServer {
public:
    // Flag name to value: qint64/int, double, QString or bool.
    using Flags = QMap<QString, QVariant>;
    struct Experiment {
        qint32 id = 0;
        Flags flags;
    };
    struct Snapshot {
        QString sdkName;
        QList<Experiment> experiments;
    };
    struct SdkResponse {
        QString sdkName;
        qint32 status = 0;
        std::optional<Snapshot> snapshot;
    };

    struct ClientProperty {
        QString sdkName;
        QString diversionKey;
        qint64 version = 0;
        QString appID;
    };
    struct Request {
        QString platform;
        qint64 clientVersion = 0;
        QList<ClientProperty> clients;
    };

    FakeExperimentServer();

    // The address the client is configured with (no path).
    QUrl address() const;

    // One-shot replies, in order; after them every request gets 404.
    void replyWithSnapshots(const QList<Snapshot>& snapshots, const QList<SdkResponse>& sdkResponses = {});
    void replyWithStatus(int status);
    void replyWithBody(const QByteArray& body, int status = 200);
    static QByteArray encodeResponse(const QList<Snapshot>& snapshots, const QList<SdkResponse>& sdkResponses);

    int requestCount() const { return http_.requestCount(); }
    bool waitForRequests(int count, int timeoutMs = 5000) const { return http_.waitForRequests(count, timeoutMs); }
    // Every request decoded; what was wrong with any of them (method, path,
    // content type, a body that does not decode) is listed by problems().
    QList<Request> requests() const;
    QStringList problems() const;

private:
    FakeHttpServer http_;
};

} // namespace fakes
