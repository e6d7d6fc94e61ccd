#include "fakes/FakeTextTranslationService.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace fakes {

const QString FakeTextTranslationService::kPath = QStringLiteral("/translate");
const QString FakeTextTranslationService::kRegion = QStringLiteral("southeastasia");

namespace {

QString describeTextRequest(const FakeHttpServer::Request& request)
{
    return QString::fromLatin1(request.method + ' ' + request.target);
}

// The text of a body of the expected shape.
std::optional<QString> bodyText(const QByteArray& body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray() || document.array().size() != 1)
        return std::nullopt;
    const QJsonObject item = document.array().first().toObject();
    if (item.keys() != QStringList { QStringLiteral("Text") }
        || !item.value(QStringLiteral("Text")).isString())
        return std::nullopt;
    return item.value(QStringLiteral("Text")).toString();
}

} // namespace

FakeTextTranslationService::FakeTextTranslationService(QString subscriptionKey)
    : key_(std::move(subscriptionKey))
{
    server_.setFallback(FakeHttpServer::Reply::json(
        R"({"error":{"code":404000,"message":"The request is not scripted."}})", 404));
}

QString FakeTextTranslationService::address() const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(server_.port()).arg(kPath);
}

void FakeTextTranslationService::reply(const FakeHttpServer::Reply& reply)
{
    server_.enqueue("POST", kPath, reply);
}

FakeHttpServer::Reply FakeTextTranslationService::translation(const QString& text, const QString& to)
{
    const QJsonArray body { QJsonObject {
        { QStringLiteral("detectedLanguage"),
            QJsonObject {
                { QStringLiteral("language"), QStringLiteral("en") }, { QStringLiteral("score"), 1.0 } } },
        { QStringLiteral("translations"),
            QJsonArray { QJsonObject { { QStringLiteral("text"), text }, { QStringLiteral("to"), to } } } },
    } };
    return FakeHttpServer::Reply::json(QJsonDocument(body).toJson(QJsonDocument::Compact));
}

FakeHttpServer::Reply FakeTextTranslationService::error(qint64 code, const QString& message, int status)
{
    const QJsonObject body { { QStringLiteral("error"),
        QJsonObject { { QStringLiteral("code"), code }, { QStringLiteral("message"), message } } } };
    return FakeHttpServer::Reply::json(QJsonDocument(body).toJson(QJsonDocument::Compact), status);
}

QList<FakeTextTranslationService::Translation> FakeTextTranslationService::received() const
{
    QList<Translation> result;
    for (const FakeHttpServer::Request& request : server_.requests()) {
        if (const std::optional<QString> text = bodyText(request.body))
            result.append(
                { request.query().queryItemValue(QStringLiteral("to"), QUrl::FullyDecoded), *text });
    }
    return result;
}

QStringList FakeTextTranslationService::problems() const
{
    QStringList problems;
    for (const FakeHttpServer::Request& request : server_.requests()) {
        const QString what = describeTextRequest(request);
        auto problem = [&](const QString& text) { problems << what + QStringLiteral(": ") + text; };
        if (request.method != "POST")
            problem(QStringLiteral("method is not POST"));
        if (request.path() != kPath)
            problem(QStringLiteral("unknown path"));
        const QUrlQuery query = request.query();
        QStringList names;
        for (const auto& item : query.queryItems())
            names << item.first;
        names.sort();
        if (names != QStringList { QStringLiteral("api-version"), QStringLiteral("to") })
            problem(QStringLiteral("query names are %1").arg(names.join(u',')));
        if (query.queryItemValue(QStringLiteral("api-version")) != QLatin1String("3.0"))
            problem(QStringLiteral("api-version is not 3.0"));
        if (query.queryItemValue(QStringLiteral("to")).isEmpty())
            problem(QStringLiteral("no target language"));
        if (request.header("content-type") != "application/json")
            problem(QStringLiteral("content-type is \"%1\"")
                        .arg(QString::fromLatin1(request.header("content-type"))));
        if (request.headerCount("ocp-apim-subscription-key") != 1
            || request.header("ocp-apim-subscription-key") != key_.toUtf8())
            problem(QStringLiteral("subscription key is wrong"));
        if (request.header("ocp-apim-subscription-region") != kRegion.toUtf8())
            problem(QStringLiteral("subscription region is \"%1\"")
                        .arg(QString::fromLatin1(request.header("ocp-apim-subscription-region"))));
        if (!bodyText(request.body))
            problem(QStringLiteral("body is not [{\"Text\": text}]"));
    }
    return problems;
}

} // namespace fakes
