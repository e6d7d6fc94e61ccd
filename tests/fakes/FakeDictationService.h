#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

class QTcpServer;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

namespace fakes {

// The streaming dictation service on 127.0.0.1 (a free port), on the thread
// that creates it; tests turn the event loop with FakeHttpServer::waitUntil.
//
// Every handshake is checked before the WebSocket upgrade: the path, the
// date, the host value (the whole endpoint string), the key, the algorithm,
// the signed headers and the HMAC-SHA256 signature, recomputed here from the
// query the client sent. A handshake that fails any check is answered
// "401 Unauthorized" and closed.
//
// Every frame is checked: a binary message holding a JSON object whose
// "data" has the status sequence 0, 1..., 2 and nothing after 2, the audio
// format and encoding, strict padded Base64 audio of whole 16-bit samples
// (none in the last frame); "common" with the app id and "business" (equal
// to the expected object, when one is set) on the first frame only. What is
// wrong goes to problems().
//
// Replies come from a script, one session per accepted connection in order
// (connections beyond the script get the default session: an empty last
// reply to the last frame, then close). A reply fires when the connection
// opens, after a number of audio frames, or on the last frame.
class FakeDictationService : public QObject {
public:
    struct Credentials {
        QString appId;
        QString apiKey;
        QString apiSecret;
    };

    struct Reply {
        enum class When { OnOpen, AfterAudioFrames, OnLastFrame };
        When when = When::OnLastFrame;
        int frames = 0; // AfterAudioFrames: the count of audio frames (first and middle) on the connection
        QByteArray message;
        bool closeAfter = false; // the service closes the connection once it is sent

        // A successful reply with the text split into word entries; pgs
        // "apd" or "rpl", or empty for none; rg only when given.
        static Reply result(const QString& text, const QString& pgs, bool last, int sn,
            std::optional<std::pair<int, int>> rg = std::nullopt);
        static Reply error(int code, const QString& message = QStringLiteral("error"));
        static Reply raw(const QByteArray& message);

        Reply& onOpen();
        Reply& afterAudioFrames(int count);
        Reply& onLastFrame();
        Reply& thenClose();
    };

    struct Session {
        int openDelayMs = 0; // the upgrade is answered this long after the handshake arrived
        QList<Reply> replies;
    };

    struct Frame {
        int status = -1;
        QByteArray audio;
    };

    struct Connection {
        QByteArray target; // the request target, as sent
        QString date; // the signed date
        QString rejectReason; // empty when the handshake was accepted
        bool open = false; // the upgrade was answered
        bool closed = false; // the connection has ended since
        QList<Frame> frames;
        QString appId; // of the first frame
        QJsonObject business; // of the first frame
        int audioFrames = 0;

        bool accepted() const { return rejectReason.isEmpty(); }
        QByteArray audio() const; // all audio of the connection, in order
    };

    explicit FakeDictationService(Credentials credentials, QObject* parent = nullptr);
    ~FakeDictationService() override;

    // "ws://127.0.0.1:<port>/v2/iat": what the back end would supply.
    QString endpoint() const;
    const Credentials& credentials() const { return credentials_; }

    // The business parameters every first frame must carry exactly.
    void expectBusiness(const QJsonObject& business) { expectedBusiness_ = business; }
    void addSession(const Session& session) { script_.append(session); }
    void setDefaultSession(const Session& session) { defaultSession_ = session; }
    // Sends a message on a connection (counting accepted and rejected from 1) that is still open.
    bool sendOn(int connection, const QByteArray& message);

    // Every handshake, accepted or not, in arrival order.
    const QList<Connection>& connections() const { return connections_; }
    int acceptedCount() const;
    int openCount() const; // connections upgraded and not yet closed
    QStringList problems() const { return problems_; }

private:
    void handshakeArrived(QTcpSocket* socket);
    QString checkHandshake(const QByteArray& head, Connection& connection) const;
    void upgrade(int index, QPointer<QTcpSocket> socket);
    void webSocketArrived();
    void frameArrived(int index, const QByteArray& message);
    void checkFrame(int index, const QByteArray& message);
    void fire(int index, Reply::When when, int frames = 0);
    void problem(int index, const QString& what);

    Credentials credentials_;
    QTcpServer* tcp_ = nullptr;
    QWebSocketServer* server_ = nullptr;
    std::optional<QJsonObject> expectedBusiness_;
    QList<Session> script_;
    Session defaultSession_;
    QList<Connection> connections_;
    QList<Session> sessions_; // per connection (empty for a rejected one)
    QHash<quint16, int> waitingUpgrade_; // client port -> connection index
    QHash<int, QPointer<QWebSocket>> sockets_;
    QStringList problems_;
};

} // namespace fakes
