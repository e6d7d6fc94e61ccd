#include "fakes/FakeConfigServer.h"

#include <QRegularExpression>
#include <QUrlQuery>

namespace fakes {

namespace config_service {

const QString kPathPrefix = QStringLiteral("/config/app/");
const QStringList kQueryKeys
    = { QStringLiteral("platform"), QStringLiteral("runtime_version"), QStringLiteral("vmp_version") };

QString queryValue(const QList<std::pair<QString, QString>>& items, const QString& key)
{
    for (const auto& [name, value] : items) {
        if (name == key)
            return value;
    }
    return QString();
}

} // namespace config_service

FakeConfigServer::Answer FakeConfigServer::Answer::configuration(
    const QByteArray& encoded, const QByteArray& eTag, const QByteArray& lastModified)
{
    Answer answer = withStatus(200, eTag, lastModified);
    answer.body = encoded;
    return answer;
}

FakeConfigServer::Answer FakeConfigServer::Answer::withStatus(
    int code, const QByteArray& eTag, const QByteArray& lastModified)
{
    Answer answer;
    answer.status = code;
    answer.eTag = eTag;
    answer.lastModified = lastModified;
    return answer;
}

FakeConfigServer::Answer FakeConfigServer::Answer::dropped()
{
    Answer answer;
    answer.drop = true;
    return answer;
}

FakeConfigServer::FakeConfigServer(const QString& appID, const QString& vmpVersion)
    : appID_(appID)
    , vmpVersion_(vmpVersion)
{
    setAnswer(Answer());
}

QUrl FakeConfigServer::url() const
{
    QUrl url = http_.url(QStringLiteral("/"));
    url.setPath(QString());
    return url;
}

void FakeConfigServer::setAnswer(const Answer& answer)
{
    if (answer.drop) {
        http_.setFallback(FakeHttpServer::Reply::closeConnection());
        return;
    }
    FakeHttpServer::Reply reply
        = FakeHttpServer::Reply::text(answer.body, answer.status, "application/x-protobuf");
    if (!answer.eTag.isEmpty())
        reply.withHeader("ETag", answer.eTag);
    if (!answer.lastModified.isEmpty())
        reply.withHeader("Last-Modified", answer.lastModified);
    http_.setFallback(reply);
}

QList<FakeConfigServer::Request> FakeConfigServer::requests() const
{
    QList<Request> decoded;
    for (const FakeHttpServer::Request& raw : http_.requests()) {
        Request request;
        const QString path = raw.path();
        if (path.startsWith(config_service::kPathPrefix))
            request.appID = QUrl::fromPercentEncoding(path.mid(config_service::kPathPrefix.size()).toUtf8());
        const auto items = raw.query().queryItems(QUrl::FullyDecoded);
        request.platform = config_service::queryValue(items, QStringLiteral("platform"));
        request.runtimeVersion = config_service::queryValue(items, QStringLiteral("runtime_version"));
        request.vmpVersion = config_service::queryValue(items, QStringLiteral("vmp_version"));
        request.hasIfModifiedSince = raw.hasHeader("If-Modified-Since");
        request.ifModifiedSince = raw.header("If-Modified-Since");
        request.hasIfNoneMatch = raw.hasHeader("If-None-Match");
        request.ifNoneMatch = raw.header("If-None-Match");
        decoded.append(request);
    }
    return decoded;
}

QStringList FakeConfigServer::problems() const
{
    QStringList found;
    static const QRegularExpression number(QStringLiteral("^-?[0-9]+$"));
    const QList<Request> decoded = requests();
    const QList<FakeHttpServer::Request> raw = http_.requests();
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const FakeHttpServer::Request& sent = raw[i];
        const Request& request = decoded[i];
        if (sent.method != "GET")
            found << QStringLiteral("method %1").arg(QString::fromLatin1(sent.method));
        if (!sent.path().startsWith(config_service::kPathPrefix) || request.appID != appID_)
            found << QStringLiteral("path %1").arg(sent.path());
        QStringList keys;
        for (const auto& item : sent.query().queryItems())
            keys << item.first;
        if (keys != config_service::kQueryKeys)
            found << QStringLiteral("query keys %1").arg(keys.join(QLatin1Char(',')));
        if (request.platform.isEmpty())
            found << QStringLiteral("no platform");
        if (!number.match(request.runtimeVersion).hasMatch())
            found << QStringLiteral("runtime_version %1").arg(request.runtimeVersion);
        if (request.vmpVersion != vmpVersion_)
            found << QStringLiteral("vmp_version %1").arg(request.vmpVersion);
        if (!sent.body.isEmpty())
            found << QStringLiteral("a body on a GET");
        for (const QByteArray& header : { QByteArray("If-Modified-Since"), QByteArray("If-None-Match") }) {
            if (sent.headerCount(header) > 1)
                found << QStringLiteral("%1 sent %2 times")
                             .arg(QString::fromLatin1(header))
                             .arg(sent.headerCount(header));
            if (sent.hasHeader(header) && sent.header(header).isEmpty())
                found << QStringLiteral("empty %1").arg(QString::fromLatin1(header));
        }
    }
    return found;
}

} // namespace fakes
