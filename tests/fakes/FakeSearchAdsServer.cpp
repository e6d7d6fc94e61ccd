#include "fakes/FakeSearchAdsServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

namespace fakes {

const QString FakeSearchAdsServer::kPath = QStringLiteral("/api/v1/");
const QString FakeSearchAdsServer::kTestIdentifier = QStringLiteral("1234567890");

FakeHttpServer::Reply FakeSearchAdsServer::attributed(
    const QString& campaignID, const QString& keywordID, const QString& adID)
{
    // The service sends its ids as numbers; a text id must work as well.
    QJsonObject object { { QStringLiteral("attribution"), true }, { QStringLiteral("orgId"), 40669820 },
        { QStringLiteral("conversionType"), QStringLiteral("Download") } };
    bool numeric = false;
    const qint64 campaign = campaignID.toLongLong(&numeric);
    object.insert(QStringLiteral("campaignId"), numeric ? QJsonValue(campaign) : QJsonValue(campaignID));
    object.insert(QStringLiteral("keywordId"), keywordID);
    object.insert(QStringLiteral("adId"), adID);
    return FakeHttpServer::Reply::json(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

FakeHttpServer::Reply FakeSearchAdsServer::notAttributed()
{
    return FakeHttpServer::Reply::json(QByteArrayLiteral("{\"attribution\":false}"));
}

FakeHttpServer::Reply FakeSearchAdsServer::testData()
{
    const QJsonObject object { { QStringLiteral("attribution"), true },
        { QStringLiteral("campaignId"), kTestIdentifier.toLongLong() }, { QStringLiteral("adId"), kTestIdentifier.toLongLong() },
        { QStringLiteral("keywordId"), 12323222 } };
    return FakeHttpServer::Reply::json(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

FakeHttpServer::Reply FakeSearchAdsServer::serverError(const QByteArray& jsonBody)
{
    return FakeHttpServer::Reply::json(jsonBody, 500);
}

FakeHttpServer::Reply FakeSearchAdsServer::malformed()
{
    return FakeHttpServer::Reply::json(QByteArrayLiteral("{\"attribution\": tru"));
}

FakeHttpServer::Reply FakeSearchAdsServer::emptyObject()
{
    return FakeHttpServer::Reply::json(QByteArrayLiteral("{}"));
}

FakeSearchAdsServer::FakeSearchAdsServer() = default;

QUrl FakeSearchAdsServer::url() const
{
    QUrl address = http_.url();
    address.setPath(QString());
    return address;
}

void FakeSearchAdsServer::expectToken(const QString& token)
{
    expectedToken_ = token.toUtf8();
}

void FakeSearchAdsServer::script(const QList<FakeHttpServer::Reply>& replies)
{
    for (const FakeHttpServer::Reply& reply : replies)
        http_.enqueue("POST", kPath, reply);
}

QList<FakeSearchAdsServer::Request> FakeSearchAdsServer::requests() const
{
    QList<Request> checked;
    for (const FakeHttpServer::Request& sent : http_.requests()) {
        Request request;
        request.body = sent.body;
        if (sent.method != "POST")
            request.problems << QStringLiteral("method %1").arg(QString::fromLatin1(sent.method));
        if (sent.target != kPath.toLatin1())
            request.problems << QStringLiteral("target %1").arg(QString::fromLatin1(sent.target));
        if (sent.header("content-type") != "text/plain")
            request.problems << QStringLiteral("content type %1").arg(QString::fromLatin1(sent.header("content-type")));
        if (sent.header("cache-control") != "no-cache")
            request.problems << QStringLiteral("cache control %1").arg(QString::fromLatin1(sent.header("cache-control")));
        QStringDecoder utf8(QStringDecoder::Utf8);
        (void)QString(utf8(sent.body));
        if (sent.body.isEmpty() || utf8.hasError())
            request.problems << QStringLiteral("body is not a UTF-8 token");
        if (sent.body != expectedToken_)
            request.problems << QStringLiteral("token %1").arg(QString::fromUtf8(sent.body));
        checked.append(request);
    }
    return checked;
}

} // namespace fakes
