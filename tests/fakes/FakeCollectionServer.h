#pragma once

#include "fakes/FakeHttpServer.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <optional>

namespace fakes {

// The analytics collection service on 127.0.0.1: takes batch uploads (POST
// "/a", gzipped measurement batch), and answers each from a script. Every
// request is checked and decoded by a protobuf wire reader of its own (not
// the library's decoder): method, path, content headers, gzip framing, the
// batch and every bundle, event and user property in it. What does not
// conform is listed in the batch's problems.
//
//     FakeCollectionServer server;
//     server.script({ Answer::Unavailable, Answer::Ok });
//     ... engine uploads to server.url() ...
//     ASSERT_TRUE(server.waitForRequests(2));
//     EXPECT_EQ(server.acceptedEvents().size(), 3);
class FakeCollectionServer {
public:
    enum class Answer {
        Ok, // 200
        NoContent, // 204
        TooManyRequests, // 429
        ServerError, // 500
        Unavailable, // 503
        Timeout, // read the request, never answer
        Drop, // close the connection without an answer
    };

    struct Event {
        QString name;
        qint64 timestampMillis = 0;
        QVariantMap parameters; // qint64, double or QString values
    };
    // One audience's result in a bundle (field 29): which of its filters were
    // evaluated (status) and which matched (result), filter f being bit f % 64
    // of word f / 64.
    struct AudienceResult {
        qint32 audienceID = 0;
        QList<quint64> statusWords;
        QList<quint64> resultWords;
        bool hasPrevious = false;
        bool isNew = false; // field 4: no previous result existed
    };
    struct Bundle {
        QString appID; // field 14
        QString vireoAppID; // field 25
        QString appInstanceID; // field 21
        qint64 uploadTimestampMillis = 0; // field 4
        qint64 startTimestampMillis = 0; // field 5
        qint64 endTimestampMillis = 0; // field 6
        qint32 bundleIndex = 0; // field 23
        QString platform; // field 8
        QString osVersion; // field 9
        QString deviceModel; // field 10
        QString language; // field 11; null when absent
        std::optional<qint32> timeZoneOffsetMinutes; // field 12
        QList<Event> events;
        QVariantMap userProperties;
        QList<AudienceResult> audienceResults;
        // The result of one audience, or null when the bundle carries none.
        const AudienceResult* audienceResult(qint32 audienceID) const
        {
            for (const AudienceResult& result : audienceResults) {
                if (result.audienceID == audienceID)
                    return &result;
            }
            return nullptr;
        }
    };
    struct Batch {
        Answer answer = Answer::Ok; // what the server answered (or would have)
        QByteArray payload; // the inflated body: the encoded batch
        QList<Bundle> bundles;
        QStringList problems; // empty for a well-formed request
        // The server took the batch: it answered 200 or 204.
        bool accepted() const { return answer == Answer::Ok || answer == Answer::NoContent; }
    };

    FakeCollectionServer();
    FakeCollectionServer(const FakeCollectionServer&) = delete;
    FakeCollectionServer& operator=(const FakeCollectionServer&) = delete;

    // "http://127.0.0.1:<port>": the collection address to configure.
    QUrl url() const;
    // Answers for the next requests, in order; after them the standing answer.
    // Set both while no request is in flight.
    void script(const QList<Answer>& answers);
    void setStandingAnswer(Answer answer);

    int requestCount() const { return http_.requestCount(); }
    bool waitForRequests(int count, int timeoutMs = 5000) const { return http_.waitForRequests(count, timeoutMs); }
    // Every batch received, in arrival order, decoded.
    QList<Batch> batches() const;
    // The events of the accepted batches, in order.
    QList<Event> acceptedEvents() const;

    // The reader behind batches(), for any encoded batch.
    static Batch decodeBatch(const QByteArray& payload);
    static QByteArray inflate(const QByteArray& gzipped, QString* problem);

private:
    static FakeHttpServer::Reply replyFor(Answer answer);

    FakeHttpServer http_;
    Answer answerForRequest(qsizetype index) const;

    QList<Answer> scripted_; // every scripted answer, in the order requests take them
    // The standing answers, each from the request count at which it was set.
    QList<std::pair<int, Answer>> standing_ { { 0, Answer::Ok } };
};

} // namespace fakes
