#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <QUrlQuery>
#include <QVariantMap>

#include <functional>
#include <memory>

class QThread;

namespace fakes {

// An HTTP/1.1 server on 127.0.0.1 (a free port) for tests. It runs on a
// thread of its own, so blocking client calls from any thread, the main one
// included, are served; asynchronous client calls need the caller's event
// loop, which waitForRequests() and waitUntil() turn.
//
// Every request is recorded (method, path and query, headers, body). Replies
// come from a script: per method and path, queued one-shot replies first,
// then the standing reply set with on(), then the fallback (404). Requests on
// one connection are answered in order (keep-alive and pipelining); a reply
// that never answers holds up the rest of its connection.
//
//     FakeHttpServer server;
//     server.on("POST", "/v2/ots", FakeHttpServer::Reply::json(R"({"code":0})"));
//     client.send({"POST", server.url("/v2/ots"), ...});
//     ASSERT_TRUE(server.waitForRequests(1));
//     EXPECT_EQ(server.requests()[0].header("content-type"), "application/json");
class FakeHttpServer {
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    struct Reply {
        enum class Mode {
            Answer,
            NeverAnswer, // read the request, then stay silent (client timeouts)
            CloseConnection, // drop the connection without a reply (transport errors)
        };
        Mode mode = Mode::Answer;
        int status = 200;
        Headers headers; // Content-Length is added unless given here
        QByteArray body;
        int delayMs = 0; // wait this long before answering

        static Reply json(const QByteArray& body, int status = 200);
        static Reply json(const QVariantMap& object, int status = 200);
        static Reply text(const QByteArray& body, int status = 200,
            const QByteArray& contentType = "text/plain; charset=utf-8");
        static Reply neverAnswer();
        static Reply closeConnection();

        Reply& withHeader(const QByteArray& name, const QByteArray& value);
        Reply& after(int ms);
    };

    struct Request {
        QByteArray method;
        QByteArray target; // path and query, as sent
        QByteArray version;
        Headers headers; // in the order sent, names as sent
        QByteArray body;
        int connection = 0; // which connection carried it, counting from 1

        QString path() const; // the target without its query, as sent
        QUrlQuery query() const;
        QByteArray header(const QByteArray& name) const; // case-insensitive; empty when absent
        bool hasHeader(const QByteArray& name) const;
        int headerCount(const QByteArray& name) const;
    };

    FakeHttpServer();
    ~FakeHttpServer();
    FakeHttpServer(const FakeHttpServer&) = delete;
    FakeHttpServer& operator=(const FakeHttpServer&) = delete;

    quint16 port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by the path (and query) given.
    QUrl url(const QString& pathAndQuery = QStringLiteral("/")) const;

    // The standing reply for a method ("*" for any) and a path (no query).
    void on(const QByteArray& method, const QString& path, const Reply& reply);
    // A reply for the next matching request only; queued before the standing one.
    void enqueue(const QByteArray& method, const QString& path, const Reply& reply);
    // The reply when nothing else matches (404 by default).
    void setFallback(const Reply& reply);

    QList<Request> requests() const;
    int requestCount() const;
    int connectionCount() const;
    void clearRequests();
    // Turns the caller's event loop until at least count requests have
    // arrived; false on timeout.
    bool waitForRequests(int count, int timeoutMs = 5000) const;

    // Turns the calling thread's event loop until the condition holds or the
    // time is up; returns the condition's last value.
    static bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);

private:
    struct State;
    class Backend;

    std::shared_ptr<State> state_;
    QThread* thread_ = nullptr;
    Backend* backend_ = nullptr;
    quint16 port_ = 0;
};

} // namespace fakes
