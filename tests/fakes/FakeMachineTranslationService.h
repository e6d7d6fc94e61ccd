#pragma once

#include "fakes/FakeHttpServer.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace fakes {

// The mainland machine-translation service on 127.0.0.1: POST "/v2/ots".
//
// Every request is checked as the real service checks it, with digests and
// MACs computed here from what arrived: the Host header (the address the
// client was given), a GMT date within kMaxClockSkewSeconds of now, the
// SHA-256 digest of the body as sent, the authorization's key, algorithm,
// signed-header list and HMAC-SHA256 signature over host, date, request
// line and digest, the JSON content type, and the body: "common" with the
// app id, "business" with non-empty "from" and "to", "data" with non-empty
// strict Base64 of UTF-8 text. problems() lists everything the service would
// have refused.
//
// Replies come from a script, one per request in order (reply()); requests
// beyond the script get 404.
class FakeMachineTranslationService {
public:
    static constexpr int kMaxClockSkewSeconds = 300;

    struct Credentials {
        QString appId;
        QString apiKey;
        QString apiSecret;
    };

    // A request as the service understood it.
    struct Translation {
        QString from;
        QString to;
        QString text; // decoded from Base64
    };

    // How the client lays out its body: the nested objects described above,
    // or the flat form of the second client ({"appId", "srcLang", "tgtLang",
    // "text"} with the text as it is, not Base64).
    enum class BodyStyle { Nested, Flat };

    explicit FakeMachineTranslationService(Credentials credentials, BodyStyle style = BodyStyle::Nested);

    // "http://127.0.0.1:<port>": scheme, host and port the client is given.
    QString baseUrl() const;
    const Credentials& credentials() const { return credentials_; }
    FakeHttpServer& server() { return server_; }

    // The reply to the next request.
    void reply(const FakeHttpServer::Reply& reply);

    // {"code": 0, "data": {"result": {"trans_result": {"dst": ...}}}, ...}.
    static FakeHttpServer::Reply translation(const QString& dst, const QString& src = QStringLiteral("src"));
    // {"code": code, "message": message, "sid": ...}, with the status given.
    static FakeHttpServer::Reply error(qint64 code, const QString& message, int status = 200);

    // The requests that were well formed, in arrival order.
    QList<Translation> received() const;
    QStringList problems() const;

private:
    std::optional<Translation> nestedTranslation(const QByteArray& body, QStringList* problems) const;
    std::optional<Translation> flatTranslation(const QByteArray& body, QStringList* problems) const;

    Credentials credentials_;
    BodyStyle style_;
    FakeHttpServer server_;
};

} // namespace fakes
