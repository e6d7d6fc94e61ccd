#include "fakes/FakeDictationService.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QMessageAuthenticationCode>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtWebSockets/QWebSocket>
#include <QtWebSockets/QWebSocketServer>

#include <algorithm>

namespace fakes {

namespace {

const QByteArray kDictationPath = "/v2/iat";

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

// --- Replies ---

FakeDictationService::Reply FakeDictationService::Reply::result(
    const QString& text, const QString& pgs, bool last, int sn, std::optional<std::pair<int, int>> rg)
{
    // Two characters a word, as the service splits text into several entries.
    QJsonArray words;
    for (qsizetype i = 0; i < text.size(); i += 2) {
        words.append(QJsonObject {
            { QStringLiteral("bg"), 0 },
            { QStringLiteral("cw"),
                QJsonArray {
                    QJsonObject { { QStringLiteral("w"), text.mid(i, 2) }, { QStringLiteral("sc"), 0 } } } },
        });
    }
    QJsonObject result {
        { QStringLiteral("sn"), sn },
        { QStringLiteral("ls"), last },
        { QStringLiteral("bg"), 0 },
        { QStringLiteral("ed"), 0 },
        { QStringLiteral("ws"), words },
    };
    if (!pgs.isEmpty())
        result.insert(QStringLiteral("pgs"), pgs);
    if (rg)
        result.insert(QStringLiteral("rg"), QJsonArray { rg->first, rg->second });
    Reply reply;
    reply.message = compact({
        { QStringLiteral("code"), 0 },
        { QStringLiteral("message"), QStringLiteral("success") },
        { QStringLiteral("sid"), QStringLiteral("iat000fake") },
        { QStringLiteral("data"),
            QJsonObject {
                { QStringLiteral("status"), last ? 2 : 1 }, { QStringLiteral("result"), result } } },
    });
    return reply;
}

FakeDictationService::Reply FakeDictationService::Reply::error(int code, const QString& message)
{
    Reply reply;
    reply.message = compact({
        { QStringLiteral("code"), code },
        { QStringLiteral("message"), message },
        { QStringLiteral("sid"), QStringLiteral("iat000fake") },
    });
    return reply;
}

FakeDictationService::Reply FakeDictationService::Reply::raw(const QByteArray& message)
{
    Reply reply;
    reply.message = message;
    return reply;
}

FakeDictationService::Reply& FakeDictationService::Reply::onOpen()
{
    when = When::OnOpen;
    return *this;
}

FakeDictationService::Reply& FakeDictationService::Reply::afterAudioFrames(int count)
{
    when = When::AfterAudioFrames;
    frames = count;
    return *this;
}

FakeDictationService::Reply& FakeDictationService::Reply::onLastFrame()
{
    when = When::OnLastFrame;
    return *this;
}

FakeDictationService::Reply& FakeDictationService::Reply::thenClose()
{
    closeAfter = true;
    return *this;
}

QByteArray FakeDictationService::Connection::audio() const
{
    QByteArray all;
    for (const Frame& frame : frames)
        all += frame.audio;
    return all;
}

// --- Server ---

FakeDictationService::FakeDictationService(Credentials credentials, QObject* parent)
    : QObject(parent)
    , credentials_(std::move(credentials))
    , tcp_(new QTcpServer(this))
    , server_(new QWebSocketServer(QStringLiteral("fake dictation"), QWebSocketServer::NonSecureMode, this))
{
    defaultSession_.replies = { Reply::result(QString(), QString(), true, 1).onLastFrame().thenClose() };
    if (!tcp_->listen(QHostAddress::LocalHost))
        qFatal("FakeDictationService: cannot listen on 127.0.0.1");
    connect(tcp_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = tcp_->nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { handshakeArrived(socket); });
            if (socket->bytesAvailable() > 0)
                handshakeArrived(socket);
        }
    });
    connect(server_, &QWebSocketServer::newConnection, this, &FakeDictationService::webSocketArrived);
}

FakeDictationService::~FakeDictationService()
{
    // The WebSockets wrap TCP sockets of the TCP server: they go first.
    for (const QPointer<QWebSocket>& socket : std::as_const(sockets_)) {
        if (socket) {
            socket->disconnect(this);
            socket->abort();
            delete socket.data();
        }
    }
    delete server_;
    delete tcp_;
}

QString FakeDictationService::endpoint() const
{
    return QStringLiteral("ws://127.0.0.1:%1%2").arg(tcp_->serverPort()).arg(QString::fromLatin1(kDictationPath));
}

int FakeDictationService::acceptedCount() const
{
    return int(std::count_if(
        connections_.begin(), connections_.end(), [](const Connection& c) { return c.accepted(); }));
}

int FakeDictationService::openCount() const
{
    return int(std::count_if(
        connections_.begin(), connections_.end(), [](const Connection& c) { return c.open && !c.closed; }));
}

bool FakeDictationService::sendOn(int connection, const QByteArray& message)
{
    const QPointer<QWebSocket> socket = sockets_.value(connection - 1);
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return false;
    socket->sendTextMessage(QString::fromUtf8(message));
    return true;
}

void FakeDictationService::handshakeArrived(QTcpSocket* socket)
{
    // Peek, so that the WebSocket server reads the same request afterwards.
    const QByteArray head = socket->peek(socket->bytesAvailable());
    if (!head.contains("\r\n\r\n"))
        return;
    socket->disconnect(this);

    Connection connection;
    connection.rejectReason = checkHandshake(head, connection);
    connections_.append(connection);
    const int index = int(connections_.size()) - 1;
    if (!connection.accepted()) {
        sessions_.append(Session {});
        socket->write("HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        connections_[index].closed = true;
        return;
    }
    sessions_.append(script_.isEmpty() ? defaultSession_ : script_.takeFirst());
    const int delay = sessions_[index].openDelayMs;
    if (delay > 0)
        QTimer::singleShot(delay, this, [this, index, s = QPointer(socket)] { upgrade(index, s); });
    else
        upgrade(index, socket);
}

QString FakeDictationService::checkHandshake(const QByteArray& head, Connection& connection) const
{
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    if (requestLine.size() != 3 || requestLine[0] != "GET" || requestLine[2] != "HTTP/1.1")
        return QStringLiteral("bad request line");
    connection.target = requestLine[1];
    const qsizetype question = connection.target.indexOf('?');
    if (question < 0 || connection.target.left(question) != kDictationPath)
        return QStringLiteral("bad path");

    // The query values, each exactly once, percent-decoded ("+" stays "+").
    QHash<QByteArray, QString> query;
    for (const QByteArray& pair : connection.target.mid(question + 1).split('&')) {
        const qsizetype equals = pair.indexOf('=');
        if (equals < 0)
            return QStringLiteral("query item without a value");
        const QByteArray key = pair.left(equals);
        if (query.contains(key))
            return QStringLiteral("repeated query item");
        query.insert(key, QString::fromUtf8(QByteArray::fromPercentEncoding(pair.mid(equals + 1))));
    }
    if (query.size() != 3 || !query.contains("authorization") || !query.contains("date")
        || !query.contains("host"))
        return QStringLiteral("query items");

    const QString host = query.value("host");
    if (host != endpoint())
        return QStringLiteral("host is not the endpoint");
    connection.date = query.value("date");
    const QDateTime date
        = QLocale::c().toDateTime(connection.date, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
    if (!date.isValid())
        return QStringLiteral("date");

    const auto decoded = QByteArray::fromBase64Encoding(
        query.value("authorization").toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return QStringLiteral("authorization is not Base64");
    static const QRegularExpression form(QString::fromLatin1(
        R"re(^api_key="([^"]*)", algorithm="([^"]*)", headers="([^"]*)", signature="([^"]*)"$)re"));
    const QRegularExpressionMatch match = form.match(QString::fromUtf8(*decoded));
    if (!match.hasMatch())
        return QStringLiteral("authorization form");
    if (match.captured(1) != credentials_.apiKey)
        return QStringLiteral("api_key");
    if (match.captured(2) != QLatin1String("hmac-sha256"))
        return QStringLiteral("algorithm");
    if (match.captured(3) != QLatin1String("host date request-line"))
        return QStringLiteral("headers");
    const QByteArray origin
        = "host: " + host.toUtf8() + "\ndate: " + connection.date.toUtf8() + "\nGET " + kDictationPath + " HTTP/1.1";
    const QByteArray expected = QMessageAuthenticationCode::hash(
        origin, credentials_.apiSecret.toUtf8(), QCryptographicHash::Sha256)
                                    .toBase64();
    if (match.captured(4).toLatin1() != expected)
        return QStringLiteral("signature");
    return {};
}

void FakeDictationService::upgrade(int index, QPointer<QTcpSocket> socket)
{
    if (!socket || socket->state() != QAbstractSocket::ConnectedState) {
        connections_[index].closed = true;
        return;
    }
    waitingUpgrade_.insert(socket->peerPort(), index);
    server_->handleConnection(socket);
}

void FakeDictationService::webSocketArrived()
{
    while (QWebSocket* socket = server_->nextPendingConnection()) {
        const int index = waitingUpgrade_.take(socket->peerPort());
        sockets_.insert(index, socket);
        connections_[index].open = true;
        connect(socket, &QWebSocket::binaryMessageReceived, this,
            [this, index](const QByteArray& message) { frameArrived(index, message); });
        connect(socket, &QWebSocket::textMessageReceived, this, [this, index](const QString&) {
            problem(index, QStringLiteral("a text frame; frames are binary"));
        });
        connect(
            socket, &QWebSocket::disconnected, this, [this, index] { connections_[index].closed = true; });
        fire(index, Reply::When::OnOpen);
    }
}

void FakeDictationService::frameArrived(int index, const QByteArray& message)
{
    const int before = int(connections_[index].frames.size());
    checkFrame(index, message);
    if (connections_[index].frames.size() == before)
        return; // not a frame at all
    const Frame& frame = connections_[index].frames.last();
    if (frame.status == 2)
        fire(index, Reply::When::OnLastFrame);
    else
        fire(index, Reply::When::AfterAudioFrames, connections_[index].audioFrames);
}

void FakeDictationService::checkFrame(int index, const QByteArray& message)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(message, &error);
    if (!document.isObject()) {
        problem(index, QStringLiteral("not a JSON object"));
        return;
    }
    const QJsonObject frame = document.object();
    const QJsonObject data = frame.value(QStringLiteral("data")).toObject();
    const QJsonValue statusValue = data.value(QStringLiteral("status"));
    const int status = statusValue.isDouble() ? statusValue.toInt(-1) : -1;
    if (status < 0 || status > 2) {
        problem(index, QStringLiteral("status"));
        return;
    }
    if (data.value(QStringLiteral("format")).toString() != QLatin1String("audio/L16;rate=16000"))
        problem(index, QStringLiteral("format"));
    if (data.value(QStringLiteral("encoding")).toString() != QLatin1String("raw"))
        problem(index, QStringLiteral("encoding"));
    const QJsonValue audioValue = data.value(QStringLiteral("audio"));
    const auto audio = QByteArray::fromBase64Encoding(
        audioValue.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!audioValue.isString() || !audio || audio.decoded.toBase64() != audioValue.toString().toLatin1())
        problem(index, QStringLiteral("audio is not padded standard Base64"));

    Connection& connection = connections_[index];
    const int previous = connection.frames.isEmpty() ? -1 : connection.frames.last().status;
    if (previous == 2)
        problem(index, QStringLiteral("a frame after the last frame"));
    else if (previous == -1 && status == 1)
        problem(index, QStringLiteral("a middle frame first"));
    else if (previous == -1 && status == 2)
        problem(index, QStringLiteral("a last frame without audio before it"));
    else if (previous != -1 && status == 0)
        problem(index, QStringLiteral("a second first frame"));

    const bool hasCommon = frame.contains(QStringLiteral("common"));
    const bool hasBusiness = frame.contains(QStringLiteral("business"));
    if (status == 0) {
        connection.appId
            = frame.value(QStringLiteral("common")).toObject().value(QStringLiteral("app_id")).toString();
        connection.business = frame.value(QStringLiteral("business")).toObject();
        if (connection.appId != credentials_.appId)
            problem(index, QStringLiteral("app_id"));
        if (expectedBusiness_ && connection.business != *expectedBusiness_)
            problem(index, QStringLiteral("business: ") + QString::fromUtf8(compact(connection.business)));
    } else if (hasCommon || hasBusiness) {
        problem(index, QStringLiteral("common or business after the first frame"));
    }

    const QByteArray pcm = audio ? audio.decoded : QByteArray();
    if (status == 2 && !pcm.isEmpty())
        problem(index, QStringLiteral("audio in the last frame"));
    if (status != 2 && (pcm.isEmpty() || pcm.size() % 2 != 0))
        problem(index, QStringLiteral("audio of %1 bytes").arg(pcm.size()));
    connection.frames.append({ status, pcm });
    if (status != 2)
        ++connection.audioFrames;
}

void FakeDictationService::fire(int index, Reply::When when, int frames)
{
    const QPointer<QWebSocket> socket = sockets_.value(index);
    for (const Reply& reply : std::as_const(sessions_[index].replies)) {
        if (reply.when != when || (when == Reply::When::AfterAudioFrames && reply.frames != frames))
            continue;
        if (!socket || socket->state() != QAbstractSocket::ConnectedState)
            return;
        socket->sendTextMessage(QString::fromUtf8(reply.message));
        if (reply.closeAfter) {
            socket->close();
            return;
        }
    }
}

void FakeDictationService::problem(int index, const QString& what)
{
    problems_.append(QStringLiteral("connection %1: %2").arg(index + 1).arg(what));
}

} // namespace fakes
