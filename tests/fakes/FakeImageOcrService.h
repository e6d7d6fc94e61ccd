#pragma once

#include "fakes/FakeHttpServer.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

namespace fakes {

// The overseas OCR service on 127.0.0.1: POST "/vision/v3.2/ocr" and the
// older "/vision/v3.1/ocr".
//
// Every request is checked as the real service checks it: the subscription
// key header, once; the octet-stream content type; a body that is a picture
// (JPEG, PNG on the older path); JSON accepted on the newer path.
// problems() lists everything it would refuse. Replies come from a script,
// one per request in order (reply(), or server().enqueue() for the older path).
class FakeImageOcrService {
public:
    static const QString kPath;
    static const QString kPath31;

    explicit FakeImageOcrService(QString subscriptionKey);

    // "http://127.0.0.1:<port>": the OCR base address the back end hands out.
    QString baseUrl() const;
    FakeHttpServer& server() { return server_; }
    void reply(const FakeHttpServer::Reply& reply);

    // {"language": language, "regions": [{"lines": [{"words": [{"text"}...]}...]}...]}.
    static FakeHttpServer::Reply recognised(
        const QString& language, const QList<QList<QStringList>>& regions);

    // The pictures of the requests, in arrival order.
    QList<QImage> received() const;
    QStringList problems() const;

private:
    QString key_;
    FakeHttpServer server_;
};

} // namespace fakes
