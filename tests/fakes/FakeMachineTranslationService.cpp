#include "fakes/FakeMachineTranslationService.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QMessageAuthenticationCode>
#include <QRegularExpression>
#include <QStringDecoder>

#include <cstdlib>

namespace fakes {

namespace {

const QString kMtPath = QStringLiteral("/v2/ots");

QString describeMtRequest(const FakeHttpServer::Request& request)
{
    return QString::fromLatin1(request.method + ' ' + request.target);
}

std::optional<QDateTime> parseDate(const QByteArray& text)
{
    QDateTime date = QLocale::c().toDateTime(
        QString::fromLatin1(text), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
    if (!date.isValid())
        return std::nullopt;
    date.setTimeSpec(Qt::UTC);
    return date;
}

// The items of an authorization value: name="value", separated by ", ".
std::optional<QList<QPair<QString, QString>>> authorizationItems(const QByteArray& value)
{
    static const QRegularExpression item(QStringLiteral(R"re(^([a-z_]+)="([^"]*)"$)re"));
    QList<QPair<QString, QString>> items;
    for (const QString& part : QString::fromUtf8(value).split(QStringLiteral(", "))) {
        const QRegularExpressionMatch match = item.match(part);
        if (!match.hasMatch())
            return std::nullopt;
        items.append({ match.captured(1), match.captured(2) });
    }
    return items;
}

// Strict Base64 (standard alphabet, padded, no line breaks) of UTF-8 text.
std::optional<QString> decodedText(const QJsonValue& value)
{
    static const QRegularExpression base64(
        QStringLiteral("^(?:[A-Za-z0-9+/]{4})*(?:[A-Za-z0-9+/]{2}==|[A-Za-z0-9+/]{3}=)?$"));
    if (!value.isString() || !base64.match(value.toString()).hasMatch())
        return std::nullopt;
    const QByteArray bytes = QByteArray::fromBase64(value.toString().toLatin1());
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(bytes);
    if (utf8.hasError())
        return std::nullopt;
    return text;
}

bool isNonEmptyString(const QJsonValue& value)
{
    return value.isString() && !value.toString().isEmpty();
}

} // namespace

FakeMachineTranslationService::FakeMachineTranslationService(Credentials credentials, BodyStyle style)
    : credentials_(std::move(credentials))
    , style_(style)
{
    server_.setFallback(FakeHttpServer::Reply::json(R"({"code":10404,"message":"not scripted"})", 404));
}

QString FakeMachineTranslationService::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(server_.port());
}

void FakeMachineTranslationService::reply(const FakeHttpServer::Reply& reply)
{
    server_.enqueue("POST", kMtPath, reply);
}

FakeHttpServer::Reply FakeMachineTranslationService::translation(const QString& dst, const QString& src)
{
    const QJsonObject result { { QStringLiteral("from"), QStringLiteral("cn") },
        { QStringLiteral("to"), QStringLiteral("en") },
        { QStringLiteral("trans_result"),
            QJsonObject { { QStringLiteral("src"), src }, { QStringLiteral("dst"), dst } } } };
    const QJsonObject body { { QStringLiteral("code"), 0 },
        { QStringLiteral("message"), QStringLiteral("success") },
        { QStringLiteral("sid"), QStringLiteral("its0001") },
        { QStringLiteral("data"), QJsonObject { { QStringLiteral("result"), result } } } };
    return FakeHttpServer::Reply::json(QJsonDocument(body).toJson(QJsonDocument::Compact));
}

FakeHttpServer::Reply FakeMachineTranslationService::error(qint64 code, const QString& message, int status)
{
    const QJsonObject body { { QStringLiteral("code"), code }, { QStringLiteral("message"), message },
        { QStringLiteral("sid"), QStringLiteral("its0002") } };
    return FakeHttpServer::Reply::json(QJsonDocument(body).toJson(QJsonDocument::Compact), status);
}

QList<FakeMachineTranslationService::Translation> FakeMachineTranslationService::received() const
{
    QList<Translation> result;
    for (const FakeHttpServer::Request& request : server_.requests()) {
        const std::optional<Translation> translation = style_ == BodyStyle::Flat
            ? flatTranslation(request.body, nullptr)
            : nestedTranslation(request.body, nullptr);
        if (translation)
            result.append(*translation);
    }
    return result;
}

std::optional<FakeMachineTranslationService::Translation> FakeMachineTranslationService::nestedTranslation(
    const QByteArray& bytes, QStringList* problems) const
{
    QStringList found;
    const QJsonObject body = QJsonDocument::fromJson(bytes).object();
    const QJsonObject common = body.value(QStringLiteral("common")).toObject();
    const QJsonObject business = body.value(QStringLiteral("business")).toObject();
    if (body.size() != 3)
        found << QStringLiteral("body has keys %1").arg(body.keys().join(u','));
    if (common.value(QStringLiteral("app_id")).toString() != credentials_.appId)
        found << QStringLiteral("unknown app_id");
    if (!isNonEmptyString(business.value(QStringLiteral("from")))
        || !isNonEmptyString(business.value(QStringLiteral("to"))))
        found << QStringLiteral("business lacks from or to");
    const std::optional<QString> text
        = decodedText(body.value(QStringLiteral("data")).toObject().value(QStringLiteral("text")));
    if (!text || text->isEmpty())
        found << QStringLiteral("data.text is not Base64 of UTF-8 text");
    if (problems)
        *problems << found;
    if (!text)
        return std::nullopt;
    return Translation { business.value(QStringLiteral("from")).toString(),
        business.value(QStringLiteral("to")).toString(), *text };
}

std::optional<FakeMachineTranslationService::Translation> FakeMachineTranslationService::flatTranslation(
    const QByteArray& bytes, QStringList* problems) const
{
    QStringList found;
    const QJsonObject body = QJsonDocument::fromJson(bytes).object();
    const QStringList keys { QStringLiteral("appId"), QStringLiteral("srcLang"), QStringLiteral("tgtLang"),
        QStringLiteral("text") };
    QStringList sortedKeys = keys;
    sortedKeys.sort();
    if (body.keys() != sortedKeys)
        found << QStringLiteral("body has keys %1").arg(body.keys().join(u','));
    if (body.value(QStringLiteral("appId")).toString() != credentials_.appId)
        found << QStringLiteral("unknown appId");
    if (!isNonEmptyString(body.value(QStringLiteral("srcLang")))
        || !isNonEmptyString(body.value(QStringLiteral("tgtLang"))))
        found << QStringLiteral("body lacks srcLang or tgtLang");
    if (!isNonEmptyString(body.value(QStringLiteral("text"))))
        found << QStringLiteral("text is missing or empty");
    if (problems)
        *problems << found;
    if (!body.value(QStringLiteral("text")).isString())
        return std::nullopt;
    return Translation { body.value(QStringLiteral("srcLang")).toString(),
        body.value(QStringLiteral("tgtLang")).toString(), body.value(QStringLiteral("text")).toString() };
}

QStringList FakeMachineTranslationService::problems() const
{
    QStringList problems;
    const QByteArray expectedHost = QByteArray("127.0.0.1:") + QByteArray::number(server_.port());
    for (const FakeHttpServer::Request& request : server_.requests()) {
        const QString what = describeMtRequest(request);
        auto problem = [&](const QString& text) { problems << what + QStringLiteral(": ") + text; };
        if (request.method != "POST")
            problem(QStringLiteral("method is not POST"));
        if (request.target != kMtPath.toLatin1())
            problem(QStringLiteral("unknown target"));
        if (request.header("content-type") != "application/json")
            problem(QStringLiteral("content-type is \"%1\"")
                        .arg(QString::fromLatin1(request.header("content-type"))));
        if (request.headerCount("host") != 1 || request.header("host") != expectedHost)
            problem(QStringLiteral("host is \"%1\"").arg(QString::fromLatin1(request.header("host"))));

        const QByteArray date = request.header("date");
        if (const std::optional<QDateTime> parsed = parseDate(date); !parsed)
            problem(QStringLiteral("date \"%1\" is not an HTTP date in GMT").arg(QString::fromLatin1(date)));
        else if (std::abs(parsed->secsTo(QDateTime::currentDateTimeUtc())) > kMaxClockSkewSeconds)
            problem(QStringLiteral("date \"%1\" is too far from now").arg(QString::fromLatin1(date)));

        const QByteArray digest
            = "SHA-256=" + QCryptographicHash::hash(request.body, QCryptographicHash::Sha256).toBase64();
        if (request.header("digest") != digest)
            problem(QStringLiteral("digest does not match the body"));

        const auto items = authorizationItems(request.header("authorization"));
        const QStringList names { QStringLiteral("api_key"), QStringLiteral("algorithm"),
            QStringLiteral("headers"), QStringLiteral("signature") };
        QStringList seen;
        if (items) {
            for (const auto& entry : *items)
                seen << entry.first;
        }
        if (!items || seen != names) {
            problem(QStringLiteral("authorization is malformed"));
        } else {
            if ((*items)[0].second != credentials_.apiKey)
                problem(QStringLiteral("unknown api_key"));
            if ((*items)[1].second != QLatin1String("hmac-sha256"))
                problem(QStringLiteral("algorithm is not hmac-sha256"));
            if ((*items)[2].second != QLatin1String("host date request-line digest"))
                problem(QStringLiteral("signed headers are \"%1\"").arg((*items)[2].second));
            const QByteArray signedText = "host: " + request.header("host") + "\ndate: " + date + '\n'
                + request.method + ' ' + request.target + ' ' + request.version
                + "\ndigest: " + request.header("digest");
            const QByteArray signature = QMessageAuthenticationCode::hash(
                signedText, credentials_.apiSecret.toUtf8(), QCryptographicHash::Sha256)
                                             .toBase64();
            if ((*items)[3].second.toLatin1() != signature)
                problem(QStringLiteral("signature cannot be verified"));
        }

        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(request.body, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            problem(QStringLiteral("body is not a JSON object"));
            continue;
        }
        QStringList bodyProblems;
        if (style_ == BodyStyle::Flat)
            flatTranslation(request.body, &bodyProblems);
        else
            nestedTranslation(request.body, &bodyProblems);
        for (const QString& text : bodyProblems)
            problem(text);
    }
    return problems;
}

} // namespace fakes
