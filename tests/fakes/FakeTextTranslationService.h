#pragma once

#include "fakes/FakeHttpServer.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace fakes {

// The overseas text-translation service on 127.0.0.1: POST "/translate".
//
// Every request is checked as the real service checks it: the query holds
// exactly "api-version=3.0" and a non-empty "to" (the service detects the
// source language, so "from" must not be there), the subscription key and
// region headers, the JSON content type, and a body that is an array of one
// object whose only key is "Text", a text. problems() lists everything the
// service would have refused.
//
// Replies come from a script, one per request in order (reply()); requests
// beyond the script get 404.
class FakeTextTranslationService {
public:
    static const QString kPath;
    static const QString kRegion;

    struct Translation {
        QString to;
        QString text;
    };

    explicit FakeTextTranslationService(QString subscriptionKey);

    // "http://127.0.0.1:<port>/translate": what the back end hands out as
    // the translation address.
    QString address() const;
    FakeHttpServer& server() { return server_; }

    void reply(const FakeHttpServer::Reply& reply);

    // [{"detectedLanguage": ..., "translations": [{"text": text, "to": to}]}].
    static FakeHttpServer::Reply translation(const QString& text, const QString& to = QStringLiteral("en"));
    // {"error": {"code": code, "message": message}} with the status given.
    static FakeHttpServer::Reply error(qint64 code, const QString& message, int status);

    // The requests that were well formed, in arrival order.
    QList<Translation> received() const;
    QStringList problems() const;

private:
    QString key_;
    FakeHttpServer server_;
};

} // namespace fakes
