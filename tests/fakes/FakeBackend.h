#pragma once

#include "fakes/FakeHttpServer.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace fakes {

// The maker's back end on 127.0.0.1: the credentials request
// "/api/system/v2/getKey", the product-information request
// "/api/system/v1/authOpenKey" and the update check
// "/api/system/v1/setAppUpdate" (a POST with "fr_id=31", an empty body and
// the JSON content type).
//
// Answers come from a per-serial script, one answer per expected request, in
// the order the requests reach the server (a test that needs a particular
// order waits for each request before it causes the next). Every request is
// checked as the real back end would check it: the serial it was scripted for,
// customer "zorvane", product "KZ31" (credentials) or pm_id "2" (product
// information), and the header fields each request carries. problems() lists
// everything a real back end would have refused; a request nobody scripted
// gets 404 and is listed too.
//
// Credential documents are scrambled the way the back end does it: each byte
// of the JSON text XOR the key's low eight bits as two lower-case hex digits,
// followed by one trailer pair that is not payload.
class FakeBackend {
public:
    static constexpr int kScrambleKey = 742;
    static constexpr qint64 kUnknownDeviceErrCode = 10404;

    // What a product-information answer holds; absent fields are left out.
    struct ProductInfo {
        qint64 code = 0;
        qint64 errCode = 0;
        std::optional<QString> country;
        std::optional<QString> openkey;
        std::optional<QString> product; // data.product_model.product
    };

    FakeBackend();

    // "http://127.0.0.1:<port>", what the client is configured with.
    QString baseUrl() const;
    FakeHttpServer& server() { return server_; }

    // The next credentials request must be for this serial and gets the reply.
    void expectGetKey(const QString& serial, const FakeHttpServer::Reply& reply);
    // The next product-information request must be for this serial.
    void expectAuthOpenKey(const QString& serial, const FakeHttpServer::Reply& reply);

    // The next update check gets the reply.
    void expectAppUpdate(const FakeHttpServer::Reply& reply);
    // {"code": 0, "data": {"ver": version, "url": url}}.
    static FakeHttpServer::Reply appUpdate(const QString& version, const QString& url);

    // {"errCode": 0, "data": <scrambled credential document>}.
    static FakeHttpServer::Reply credentials(const QJsonObject& document, int key = kScrambleKey);
    // {"errCode": kUnknownDeviceErrCode, "msg": ..., "data": ""}.
    static FakeHttpServer::Reply unknownDevice();
    static FakeHttpServer::Reply productInfo(const ProductInfo& info);
    // The scrambled hex text of the bytes, trailer pair included.
    static QByteArray scramble(const QByteArray& plain, int key = kScrambleKey);

    // Requests of one path that reached the server so far.
    QList<FakeHttpServer::Request> requestsTo(const QString& path) const;
    // Everything the real back end would have refused, one line each; empty
    // when every request was as expected.
    QStringList problems() const;

private:
    struct Expectation {
        QString path;
        QString serial;
    };

    FakeHttpServer server_;
    QList<Expectation> expected_;
};

} // namespace fakes
