#pragma once

#include "fakes/FakeHttpServer.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

namespace fakes {

// The mainland document-recognition service on 127.0.0.1:
// POST "/v1/private/hh_ocr_recognize_doc".
//
// Every request is checked as the real service checks it, the MAC computed
// here from what arrived: the query's host (the address the client was
// given), a GMT date within kMaxClockSkewSeconds of now, and the
// authorization, Base64 of api_key, algorithm "hmac-sha256", headers
// "host date request-line" and an HMAC-SHA256 signature under the API
// secret over host, date and request line; a JSON body with the app id,
// status 3 in header and image, the document parameters, and a PNG in
// strict Base64. problems() lists everything the service would refuse.
//
// Replies come from a script, one per request in order (reply()); requests
// beyond the script get 404.
class FakeDocumentOcrService {
public:
    static const QString kPath;
    static constexpr int kMaxClockSkewSeconds = 300;

    struct Credentials {
        QString appId;
        QString apiKey;
        QString apiSecret;
    };

    explicit FakeDocumentOcrService(Credentials credentials);

    QString baseUrl() const;
    FakeHttpServer& server() { return server_; }
    void reply(const FakeHttpServer::Reply& reply);

    // {"header": {"code": 0, ...}, "payload": {"recognizeDocumentRes":
    // {"text": Base64 of {"whole_text": text}}}}.
    static FakeHttpServer::Reply recognised(const QString& wholeText);
    // {"header": {"code": code, "message": message}}.
    static FakeHttpServer::Reply error(qint64 code, const QString& message);

    // The pictures of the well-formed requests, in arrival order.
    QList<QImage> received() const;
    QStringList problems() const;

private:
    Credentials credentials_;
    FakeHttpServer server_;
};

} // namespace fakes
