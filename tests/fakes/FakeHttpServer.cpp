#include "fakes/FakeHttpServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QHash>
#include <QJsonDocument>
#include <QMutex>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <deque>
#include <map>

namespace fakes {

namespace {

bool sameName(const QByteArray& a, const QByteArray& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

// Requests larger than this are refused rather than buffered.
constexpr qsizetype kMaxHeadBytes = 64 * 1024;
constexpr qint64 kMaxBodyBytes = 64 * 1024 * 1024;

} // namespace

// ---- replies and recorded requests ----

FakeHttpServer::Reply FakeHttpServer::Reply::json(const QByteArray& body, int status)
{
    Reply reply;
    reply.status = status;
    reply.body = body;
    reply.headers.append(
        qMakePair(QByteArray("Content-Type"), QByteArray("application/json; charset=utf-8")));
    return reply;
}

FakeHttpServer::Reply FakeHttpServer::Reply::json(const QVariantMap& object, int status)
{
    return json(QJsonDocument::fromVariant(object).toJson(QJsonDocument::Compact), status);
}

FakeHttpServer::Reply FakeHttpServer::Reply::text(
    const QByteArray& body, int status, const QByteArray& contentType)
{
    Reply reply;
    reply.status = status;
    reply.body = body;
    if (!contentType.isEmpty())
        reply.headers.append(qMakePair(QByteArray("Content-Type"), contentType));
    return reply;
}

FakeHttpServer::Reply FakeHttpServer::Reply::neverAnswer()
{
    Reply reply;
    reply.mode = Mode::NeverAnswer;
    return reply;
}

FakeHttpServer::Reply FakeHttpServer::Reply::closeConnection()
{
    Reply reply;
    reply.mode = Mode::CloseConnection;
    return reply;
}

FakeHttpServer::Reply& FakeHttpServer::Reply::withHeader(const QByteArray& name, const QByteArray& value)
{
    headers.append(qMakePair(name, value));
    return *this;
}

FakeHttpServer::Reply& FakeHttpServer::Reply::after(int ms)
{
    delayMs = ms;
    return *this;
}

QString FakeHttpServer::Request::path() const
{
    const qsizetype question = target.indexOf('?');
    return QString::fromUtf8(question < 0 ? target : target.left(question));
}

QUrlQuery FakeHttpServer::Request::query() const
{
    const qsizetype question = target.indexOf('?');
    return QUrlQuery(question < 0 ? QString() : QString::fromUtf8(target.mid(question + 1)));
}

QByteArray FakeHttpServer::Request::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (sameName(key, name))
            return value;
    }
    return {};
}

bool FakeHttpServer::Request::hasHeader(const QByteArray& name) const
{
    return headerCount(name) > 0;
}

int FakeHttpServer::Request::headerCount(const QByteArray& name) const
{
    int count = 0;
    for (const auto& entry : headers)
        count += sameName(entry.first, name) ? 1 : 0;
    return count;
}

// ---- state shared between the test's thread and the server thread ----

struct FakeHttpServer::State {
    mutable QMutex mutex;
    QList<Request> requests;
    int connections = 0;
    std::map<std::pair<QByteArray, QString>, std::deque<Reply>> queued;
    std::map<std::pair<QByteArray, QString>, Reply> standing;
    Reply fallback = Reply::text("no reply scripted for this request\n", 404);

    // Records the request and picks its reply.
    Reply take(const Request& request)
    {
        QMutexLocker lock(&mutex);
        requests.append(request);
        const QString path = request.path();
        for (const QByteArray& method : { request.method, QByteArray("*") }) {
            auto it = queued.find({ method, path });
            if (it != queued.end() && !it->second.empty()) {
                Reply reply = it->second.front();
                it->second.pop_front();
                return reply;
            }
        }
        for (const QByteArray& method : { request.method, QByteArray("*") }) {
            auto it = standing.find({ method, path });
            if (it != standing.end())
                return it->second;
        }
        return fallback;
    }
};

// ---- the server, living on its own thread ----

class FakeHttpServer::Backend : public QObject {
public:
    explicit Backend(std::shared_ptr<State> state)
        : state_(std::move(state))
        , server_(new QTcpServer(this))
    {
        connect(server_, &QTcpServer::newConnection, this, [this] { accept(); });
    }

    quint16 listen() { return server_->listen(QHostAddress::LocalHost, 0) ? server_->serverPort() : 0; }

    void stop()
    {
        server_->close();
        for (auto it = connections_.begin(); it != connections_.end(); ++it) {
            it.key()->disconnect(this);
            it.key()->abort();
        }
        connections_.clear();
    }

private:
    struct Connection {
        int id = 0;
        QByteArray buffer;
        std::deque<std::pair<Request, Reply>> pending;
        bool busy = false; // a delayed reply is on its way
        bool stalled = false; // a reply that never comes holds up the rest
        bool closing = false;
    };

    void accept()
    {
        while (QTcpSocket* socket = server_->nextPendingConnection()) {
            Connection& connection = connections_[socket];
            {
                QMutexLocker lock(&state_->mutex);
                connection.id = ++state_->connections;
            }
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                connections_.remove(socket);
                socket->deleteLater();
            });
        }
    }

    void read(QTcpSocket* socket)
    {
        auto it = connections_.find(socket);
        if (it == connections_.end())
            return;
        Connection& connection = *it;
        connection.buffer += socket->readAll();
        while (!connection.closing) {
            if (!connection.buffer.isEmpty()
                && !(connection.buffer[0] >= 'A' && connection.buffer[0] <= 'Z')) {
                refuse(socket, 400); // not HTTP at all, a TLS handshake for one
                break;
            }
            const qsizetype headEnd = connection.buffer.indexOf("\r\n\r\n");
            if (headEnd < 0) {
                if (connection.buffer.size() > kMaxHeadBytes)
                    refuse(socket, 431);
                break;
            }
            Request request;
            request.connection = connection.id;
            qint64 bodyLength = 0;
            if (!parseHead(connection.buffer.left(headEnd), request, bodyLength)) {
                refuse(socket, request.method.isEmpty() ? 400 : 501);
                break;
            }
            if (connection.buffer.size() - (headEnd + 4) < bodyLength)
                break; // the body is still coming
            request.body = connection.buffer.mid(headEnd + 4, bodyLength);
            connection.buffer.remove(0, headEnd + 4 + bodyLength);
            Reply reply = state_->take(request);
            connection.pending.emplace_back(std::move(request), std::move(reply));
        }
        pump(socket);
    }

    // Reads the request line and the header fields; false for a request we
    // cannot read (bodies other than Content-Length ones included).
    static bool parseHead(const QByteArray& head, Request& request, qint64& bodyLength)
    {
        const QList<QByteArray> lines = head.split('\n');
        const QList<QByteArray> start = lines.value(0).trimmed().split(' ');
        if (start.size() != 3 || !start[2].startsWith("HTTP/1."))
            return false;
        request.method = start[0];
        request.target = start[1];
        request.version = start[2];
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0) {
                request.method.clear();
                return false;
            }
            request.headers.append(qMakePair(line.left(colon), line.mid(colon + 1).trimmed()));
        }
        if (request.hasHeader("Transfer-Encoding"))
            return false; // chunked request bodies: no client under test sends them
        if (request.hasHeader("Content-Length")) {
            bool ok = false;
            bodyLength = request.header("Content-Length").toLongLong(&ok);
            if (!ok || bodyLength < 0 || bodyLength > kMaxBodyBytes) {
                request.method.clear();
                return false;
            }
        }
        return true;
    }

    void refuse(QTcpSocket* socket, int status)
    {
        Connection& connection = connections_[socket];
        connection.closing = true;
        connection.pending.clear();
        socket->write("HTTP/1.1 " + QByteArray::number(status) + " " + reasonPhrase(status)
            + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
    }

    void pump(QTcpSocket* socket)
    {
        auto it = connections_.find(socket);
        if (it == connections_.end())
            return;
        Connection& connection = *it;
        while (
            !connection.busy && !connection.stalled && !connection.closing && !connection.pending.empty()) {
            auto [request, reply] = connection.pending.front();
            connection.pending.pop_front();
            switch (reply.mode) {
            case Reply::Mode::NeverAnswer:
                connection.stalled = true;
                return;
            case Reply::Mode::CloseConnection:
                connections_.remove(socket);
                socket->disconnect(this);
                socket->abort();
                socket->deleteLater();
                return;
            case Reply::Mode::Answer:
                break;
            }
            if (reply.delayMs > 0) {
                connection.busy = true;
                QPointer<QTcpSocket> guard(socket);
                QTimer::singleShot(reply.delayMs, this, [this, guard, request = request, reply = reply] {
                    if (!guard || !connections_.contains(guard))
                        return;
                    connections_[guard].busy = false;
                    write(guard, request, reply);
                    pump(guard);
                });
                return;
            }
            write(socket, request, reply);
        }
    }

    void write(QTcpSocket* socket, const Request& request, const Reply& reply)
    {
        const bool close = sameName(request.header("Connection"), "close")
            || (request.version == "HTTP/1.0" && !sameName(request.header("Connection"), "keep-alive"));
        QByteArray out
            = "HTTP/1.1 " + QByteArray::number(reply.status) + " " + reasonPhrase(reply.status) + "\r\n";
        bool hasLength = false;
        for (const auto& [name, value] : reply.headers) {
            hasLength = hasLength || sameName(name, "Content-Length");
            out += name + ": " + value + "\r\n";
        }
        if (!hasLength)
            out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
        if (close)
            out += "Connection: close\r\n";
        out += "\r\n";
        if (request.method != "HEAD")
            out += reply.body;
        socket->write(out);
        if (close) {
            connections_[socket].closing = true;
            socket->disconnectFromHost();
        }
    }

    std::shared_ptr<State> state_;
    QTcpServer* server_;
    QHash<QTcpSocket*, Connection> connections_;
};

// ---- the test's side ----

FakeHttpServer::FakeHttpServer()
    : state_(std::make_shared<State>())
    , thread_(new QThread())
    , backend_(new Backend(state_))
{
    thread_->setObjectName(QStringLiteral("FakeHttpServer"));
    backend_->moveToThread(thread_);
    thread_->start();
    Backend* backend = backend_;
    quint16 port = 0;
    QMetaObject::invokeMethod(
        backend, [backend, &port] { port = backend->listen(); }, Qt::BlockingQueuedConnection);
    port_ = port;
    if (port_ == 0)
        qWarning("FakeHttpServer: cannot listen on 127.0.0.1");
}

FakeHttpServer::~FakeHttpServer()
{
    Backend* backend = backend_;
    QMetaObject::invokeMethod(
        backend,
        [backend] {
            backend->stop();
            delete backend;
        },
        Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
    delete thread_;
}

QUrl FakeHttpServer::url(const QString& pathAndQuery) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(pathAndQuery));
}

void FakeHttpServer::on(const QByteArray& method, const QString& path, const Reply& reply)
{
    QMutexLocker lock(&state_->mutex);
    state_->standing[{ method, path }] = reply;
}

void FakeHttpServer::enqueue(const QByteArray& method, const QString& path, const Reply& reply)
{
    QMutexLocker lock(&state_->mutex);
    state_->queued[{ method, path }].push_back(reply);
}

void FakeHttpServer::setFallback(const Reply& reply)
{
    QMutexLocker lock(&state_->mutex);
    state_->fallback = reply;
}

QList<FakeHttpServer::Request> FakeHttpServer::requests() const
{
    QMutexLocker lock(&state_->mutex);
    return state_->requests;
}

int FakeHttpServer::requestCount() const
{
    QMutexLocker lock(&state_->mutex);
    return int(state_->requests.size());
}

int FakeHttpServer::connectionCount() const
{
    QMutexLocker lock(&state_->mutex);
    return state_->connections;
}

void FakeHttpServer::clearRequests()
{
    QMutexLocker lock(&state_->mutex);
    state_->requests.clear();
}

bool FakeHttpServer::waitForRequests(int count, int timeoutMs) const
{
    return waitUntil([this, count] { return requestCount() >= count; }, timeoutMs);
}

bool FakeHttpServer::waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            return condition();
        QEventLoop loop;
        QTimer::singleShot(int(std::min<qint64>(left, 5)), &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

} // namespace fakes
