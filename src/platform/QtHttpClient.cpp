#include "platform/QtHttpClient.h"

#include "platform/MainQueue.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QThread>
#include <QTimer>
#if QT_CONFIG(ssl)
#include <QSslConfiguration>
#include <QSslSocket>
#endif

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <utility>

namespace platform {

namespace {

// Longest wait we arm a timer for (about 24 days, the reach of an int of milliseconds).
constexpr double kMaxTimeoutSeconds = std::numeric_limits<int>::max() / 1000.0;

int timeoutMs(double seconds)
{
    const double ms = std::ceil(std::min(seconds, kMaxTimeoutSeconds) * 1000.0);
    return ms >= double(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max() : int(ms);
}

bool isToken(const QByteArray& text)
{
    if (text.isEmpty())
        return false;
    for (char c : text) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
            || QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
        if (!ok)
            return false;
    }
    return true;
}

// Why the request cannot be sent, or an empty text when it can.
QString invalidReason(const HttpRequest& request)
{
    if (!isToken(request.method))
        return QStringLiteral("Invalid HTTP method");
    if (!request.url.isValid() || request.url.host().isEmpty())
        return QStringLiteral("Invalid URL: %1").arg(request.url.toString());
    const QString scheme = request.url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return QStringLiteral("Unsupported URL scheme: %1").arg(scheme);
    if (!(request.timeoutSeconds > 0)) // also rejects NaN
        return QStringLiteral("The timeout must be positive");
    for (const auto& [name, value] : request.headers) {
        if (!isToken(name) || value.contains('\r') || value.contains('\n'))
            return QStringLiteral("Invalid header field: %1").arg(QString::fromLatin1(name));
    }
    return {};
}

HttpResponse failed(HttpResponse::Error error, const QString& message)
{
    HttpResponse response;
    response.error = error;
    response.errorString = message;
    return response;
}

// Errors that Qt raises for a complete reply with a 4xx/5xx status: for
// us these are replies, not transport failures.
bool isStatusError(QNetworkReply::NetworkError error)
{
    const int code = int(error);
    return error == QNetworkReply::NoError
        || (code >= QNetworkReply::ContentAccessDenied && code <= QNetworkReply::UnknownContentError)
        || error == QNetworkReply::ProtocolInvalidOperationError
        || (code >= QNetworkReply::InternalServerError && code <= QNetworkReply::UnknownServerError);
}

HttpResponse responseFrom(QNetworkReply* reply, bool timedOut, double timeoutSeconds)
{
    if (timedOut) {
        return failed(HttpResponse::Error::Timeout,
            QStringLiteral("No complete reply within %1 s").arg(timeoutSeconds));
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() || !isStatusError(reply->error()))
        return failed(HttpResponse::Error::Transport, reply->errorString());
    HttpResponse response;
    response.status = status.toInt();
    for (const auto& pair : reply->rawHeaderPairs())
        response.headers.append(pair);
    response.body = reply->readAll();
    return response;
}

QNetworkRequest networkRequest(const HttpRequest& request)
{
    QNetworkRequest result(request.url);
    result.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
#if QT_CONFIG(ssl)
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    result.setSslConfiguration(tls);
#endif
    for (const auto& [name, value] : request.headers)
        result.setRawHeader(name, value);
    // Qt labels an unlabelled POST as a form anyway, with a warning; say it ourselves.
    if (request.method.compare("POST", Qt::CaseInsensitive) == 0 && !result.hasRawHeader("Content-Type"))
        result.setRawHeader("Content-Type", "application/x-www-form-urlencoded");
    return result;
}

// Starts the request on the manager (on the manager's thread) and calls
// done exactly once, on that thread, when it ends.
QNetworkReply* startRequest(QNetworkAccessManager& manager, const HttpRequest& request,
    std::function<void(HttpResponse)> done, bool reportProgress)
{
    const QNetworkRequest req = networkRequest(request);
    const QByteArray method = request.method.toUpper();
    QNetworkReply* reply = nullptr;
    if (request.body.isEmpty() && method == "GET")
        reply = manager.get(req);
    else if (request.body.isEmpty() && method == "HEAD")
        reply = manager.head(req);
    else if (request.body.isEmpty() && method == "DELETE")
        reply = manager.deleteResource(req);
    else if (method == "POST")
        reply = manager.post(req, request.body);
    else if (method == "PUT")
        reply = manager.put(req, request.body);
    else
        reply = manager.sendCustomRequest(req, request.method, request.body);

    auto timedOut = std::make_shared<bool>(false);
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, reply, [reply, timedOut] {
        *timedOut = true;
        reply->abort();
    });
    timer->start(timeoutMs(request.timeoutSeconds));

    if (reportProgress && request.uploadProgress) {
        // Qt ends every upload with a (0, 0) report; only real progress goes on.
        QObject::connect(reply, &QNetworkReply::uploadProgress, reply,
            [progress = request.uploadProgress](qint64 sent, qint64 total) {
                if (total > 0)
                    progress(sent, total);
            });
    }
    const double timeoutSeconds = request.timeoutSeconds;
    QObject::connect(reply, &QNetworkReply::finished, reply,
        [reply, timer, timedOut, timeoutSeconds, done = std::move(done)] {
            timer->stop();
            HttpResponse response = responseFrom(reply, *timedOut, timeoutSeconds);
            reply->deleteLater();
            done(std::move(response));
        });
    return reply;
}

struct BlockingCall {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    HttpResponse response;
    QPointer<QNetworkReply> reply; // worker thread only
};

QtHttpClient* sharedClient = nullptr;

void shutDownSharedClient()
{
    if (sharedClient)
        sharedClient->shutdown();
}

} // namespace

QtHttpClient::QtHttpClient()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        moveToThread(app->thread());
}

QtHttpClient::~QtHttpClient()
{
    shutdown();
}

void QtHttpClient::completeLater(HttpResponse response, Completion completion)
{
    QMetaObject::invokeMethod(
        this, [response = std::move(response), completion = std::move(completion)] { completion(response); },
        Qt::QueuedConnection);
}

void QtHttpClient::send(const HttpRequest& request, Completion completion)
{
    if (!completion)
        completion = [](const HttpResponse&) {};
    if (MainQueue::isMainThread()) {
        start(request, std::move(completion));
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, request, completion = std::move(completion)] { start(request, completion); },
        Qt::QueuedConnection);
}

void QtHttpClient::start(const HttpRequest& request, Completion completion)
{
    if (shutDown_) {
        completeLater(failed(HttpResponse::Error::Transport, QStringLiteral("The HTTP client is shut down")),
            std::move(completion));
        return;
    }
    if (const QString reason = invalidReason(request); !reason.isEmpty()) {
        completeLater(failed(HttpResponse::Error::InvalidRequest, reason), std::move(completion));
        return;
    }
    if (!manager_)
        manager_ = new QNetworkAccessManager(this);
    auto reply = std::make_shared<QNetworkReply*>(nullptr);
    *reply = startRequest(
        *manager_, request,
        [this, reply, completion = std::move(completion)](HttpResponse response) {
            running_.remove(*reply);
            completion(response);
        },
        true);
    running_.insert(*reply);
}

bool QtHttpClient::postToWorker(std::function<void(QObject* context)> task)
{
    // Posting under the lock keeps shutdown() from stopping the worker in between.
    std::lock_guard lock(workerMutex_);
    if (workerStopped_ || !QCoreApplication::instance())
        return false;
    if (!worker_) {
        worker_ = new QThread();
        worker_->setObjectName(QStringLiteral("HttpClient blocking worker"));
        workerContext_ = new QObject();
        workerContext_->moveToThread(worker_);
        connect(worker_, &QThread::finished, workerContext_, &QObject::deleteLater);
        worker_->start();
    }
    QObject* context = workerContext_;
    QMetaObject::invokeMethod(
        context, [context, task = std::move(task)] { task(context); }, Qt::QueuedConnection);
    return true;
}

HttpResponse QtHttpClient::sendBlocking(const HttpRequest& request)
{
    if (const QString reason = invalidReason(request); !reason.isEmpty())
        return failed(HttpResponse::Error::InvalidRequest, reason);

    auto call = std::make_shared<BlockingCall>();
    const bool posted = postToWorker([request, call](QObject* context) {
        auto* manager = context->findChild<QNetworkAccessManager*>();
        if (!manager)
            manager = new QNetworkAccessManager(context);
        call->reply = startRequest(
            *manager, request,
            [call](HttpResponse response) {
                std::lock_guard lock(call->mutex);
                call->response = std::move(response);
                call->done = true;
                call->changed.notify_all();
            },
            false);
    });
    if (!posted)
        return failed(HttpResponse::Error::Transport, QStringLiteral("The HTTP client is shut down"));

    const double waitSeconds = std::min(request.timeoutSeconds, kMaxTimeoutSeconds) + kBlockingMarginSeconds;
    const auto deadline = std::chrono::steady_clock::now()
        + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(waitSeconds));
    std::unique_lock lock(call->mutex);
    if (call->changed.wait_until(lock, deadline, [&] { return call->done; }))
        return call->response;
    lock.unlock();
    // The worker did not answer in time (it should have timed the request out
    // itself); give up on the request and do not wait any longer.
    postToWorker([call](QObject*) {
        if (call->reply)
            call->reply->abort();
    });
    return failed(HttpResponse::Error::Timeout,
        QStringLiteral("No complete reply within %1 s").arg(request.timeoutSeconds));
}

void QtHttpClient::shutdown()
{
    shutDown_ = true;
    const QSet<QNetworkReply*> running = running_;
    for (QNetworkReply* reply : running)
        reply->abort(); // each completion runs now and reports a transport error

    QThread* worker = nullptr;
    {
        std::lock_guard lock(workerMutex_);
        workerStopped_ = true;
        worker = worker_;
        worker_ = nullptr;
        if (worker) {
            QObject* context = std::exchange(workerContext_, nullptr);
            QMetaObject::invokeMethod(
                context,
                [context] {
                    for (QNetworkReply* reply : context->findChildren<QNetworkReply*>())
                        reply->abort();
                },
                Qt::BlockingQueuedConnection);
        }
    }
    if (worker) {
        worker->quit();
        worker->wait();
        delete worker;
    }
}

HttpClient& HttpClient::shared()
{
    static QtHttpClient* client = [] {
        sharedClient = new QtHttpClient(); // lives as long as the process
        qAddPostRoutine(shutDownSharedClient);
        return sharedClient;
    }();
    return *client;
}

} // namespace platform
