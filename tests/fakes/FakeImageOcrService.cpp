#include "fakes/FakeImageOcrService.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace fakes {

const QString FakeImageOcrService::kPath = QStringLiteral("/vision/v3.2/ocr");
const QString FakeImageOcrService::kPath31 = QStringLiteral("/vision/v3.1/ocr");

FakeImageOcrService::FakeImageOcrService(QString subscriptionKey)
    : key_(std::move(subscriptionKey))
{
    server_.setFallback(
        FakeHttpServer::Reply::json(R"({"error":{"code":"NotFound","message":"not scripted"}})", 404));
}

QString FakeImageOcrService::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(server_.port());
}

void FakeImageOcrService::reply(const FakeHttpServer::Reply& reply)
{
    server_.enqueue("POST", kPath, reply);
}

FakeHttpServer::Reply FakeImageOcrService::recognised(
    const QString& language, const QList<QList<QStringList>>& regions)
{
    QJsonArray regionArray;
    for (const QList<QStringList>& region : regions) {
        QJsonArray lines;
        for (const QStringList& line : region) {
            QJsonArray words;
            for (const QString& word : line)
                words.append(QJsonObject { { QStringLiteral("boundingBox"), QStringLiteral("0,0,10,10") },
                    { QStringLiteral("text"), word } });
            lines.append(QJsonObject { { QStringLiteral("words"), words } });
        }
        regionArray.append(QJsonObject { { QStringLiteral("lines"), lines } });
    }
    const QJsonObject body { { QStringLiteral("language"), language },
        { QStringLiteral("orientation"), QStringLiteral("Up") }, { QStringLiteral("regions"), regionArray } };
    return FakeHttpServer::Reply::json(QJsonDocument(body).toJson(QJsonDocument::Compact));
}

QList<QImage> FakeImageOcrService::received() const
{
    QList<QImage> result;
    for (const FakeHttpServer::Request& request : server_.requests()) {
        QImage picture;
        if (picture.loadFromData(request.body, request.target == kPath31.toLatin1() ? "PNG" : "JPEG"))
            result.append(picture);
    }
    return result;
}

QStringList FakeImageOcrService::problems() const
{
    QStringList problems;
    for (const FakeHttpServer::Request& request : server_.requests()) {
        const QString what = QString::fromLatin1(request.method + ' ' + request.target);
        auto problem = [&](const QString& text) { problems << what + QStringLiteral(": ") + text; };
        if (request.method != "POST")
            problem(QStringLiteral("method is not POST"));
        const bool older = request.target == kPath31.toLatin1();
        if (request.target != kPath.toLatin1() && !older)
            problem(QStringLiteral("unknown target"));
        if (request.headerCount("ocp-apim-subscription-key") != 1
            || request.header("ocp-apim-subscription-key") != key_.toUtf8())
            problem(QStringLiteral("subscription key is wrong"));
        if (request.header("content-type") != "application/octet-stream")
            problem(QStringLiteral("content-type is not application/octet-stream"));
        if (!older && request.header("accept") != "application/json")
            problem(QStringLiteral("accept is not application/json"));
        QImage picture;
        if (!picture.loadFromData(request.body, older ? "PNG" : "JPEG"))
            problem(older ? QStringLiteral("body is not a PNG picture") : QStringLiteral("body is not a JPEG picture"));
    }
    return problems;
}

} // namespace fakes
