#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

namespace platform {

struct HttpRequest {
    QByteArray method = "GET";
    QUrl url;
    QList<QPair<QByteArray, QByteArray>> headers; // sent as given, in order
    QByteArray body;
    double timeoutSeconds = 30; // the whole exchange, connection included; must be positive
    // Called on the main thread while the body goes out (bytes sent, bytes in all);
    // asynchronous sends only.
    std::function<void(qint64, qint64)> uploadProgress;
};

struct HttpResponse {
    enum class Error {
        None, // a reply arrived (any status code)
        Transport, // connection refused, DNS, TLS verification, ...
        Timeout, // no complete reply within the request's timeout
        InvalidRequest,
    };
    Error error = Error::None;
    QString errorString;
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    bool isSuccessStatus() const { return error == Error::None && status >= 200 && status <= 299; }
    QByteArray header(const QByteArray& name) const; // case-insensitive; empty when absent
    bool hasHeader(const QByteArray& name) const;
};

// HTTP(S) with TLS certificates and host names always verified.
class HttpClient {
public:
    using Completion = std::function<void(const HttpResponse&)>;

    virtual ~HttpClient() = default;

    // Starts the request and returns at once; the completion runs on the main
    // thread, exactly once.
    virtual void send(const HttpRequest& request, Completion completion) = 0;
    // Blocks the calling thread until the reply or the request's timeout,
    // never longer. May be called on any thread, the main thread included.
    virtual HttpResponse sendBlocking(const HttpRequest& request) = 0;

    // The process-wide client (Qt network backend).
    static HttpClient& shared();
};

} // namespace platform
