#include "fakes/FakeDocumentOcrService.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QMessageAuthenticationCode>
#include <QRegularExpression>

#include <cstdlib>

namespace fakes {

const QString FakeDocumentOcrService::kPath = QStringLiteral("/v1/private/hh_ocr_recognize_doc");

namespace {

const QRegularExpression& documentOcrBase64()
{
    static const QRegularExpression pattern(
        QStringLiteral("^(?:[A-Za-z0-9+/]{4})*(?:[A-Za-z0-9+/]{2}==|[A-Za-z0-9+/]{3}=)?$"));
    return pattern;
}

// The picture of a body of the expected shape, with what is wrong with it.
QImage documentOcrBodyImage(const QByteArray& body, const QString& appId, QStringList* problems)
{
    auto problem = [&](const QString& text) {
        if (problems)
            problems->append(text);
    };
    const QJsonObject root = QJsonDocument::fromJson(body).object();
    const QJsonObject header = root.value(QStringLiteral("header")).toObject();
    if (header.value(QStringLiteral("app_id")).toString() != appId)
        problem(QStringLiteral("header.app_id is not the app id"));
    if (header.value(QStringLiteral("status")) != QJsonValue(3))
        problem(QStringLiteral("header.status is not 3"));
    const QJsonObject res = root.value(QStringLiteral("parameter"))
                                .toObject()
                                .value(QStringLiteral("hh_ocr_recognize_doc"))
                                .toObject()
                                .value(QStringLiteral("recognizeDocumentRes"))
                                .toObject();
    if (res.value(QStringLiteral("encoding")) != QJsonValue(QStringLiteral("utf8"))
        || res.value(QStringLiteral("compress")) != QJsonValue(QStringLiteral("raw"))
        || res.value(QStringLiteral("format")) != QJsonValue(QStringLiteral("json")))
        problem(QStringLiteral("recognizeDocumentRes is not utf8/raw/json"));
    const QJsonObject image
        = root.value(QStringLiteral("payload")).toObject().value(QStringLiteral("image")).toObject();
    if (image.value(QStringLiteral("encoding")) != QJsonValue(QStringLiteral("png"))
        || image.value(QStringLiteral("status")) != QJsonValue(3))
        problem(QStringLiteral("payload.image is not png with status 3"));
    const QString data = image.value(QStringLiteral("image")).toString();
    if (data.isEmpty() || !documentOcrBase64().match(data).hasMatch()) {
        problem(QStringLiteral("payload.image.image is not strict Base64"));
        return {};
    }
    QImage picture;
    if (!picture.loadFromData(QByteArray::fromBase64(data.toLatin1()), "PNG"))
        problem(QStringLiteral("payload.image.image is not a PNG"));
    return picture;
}

} // namespace

FakeDocumentOcrService::FakeDocumentOcrService(Credentials credentials)
    : credentials_(std::move(credentials))
{
    server_.setFallback(
        FakeHttpServer::Reply::json(R"({"header":{"code":10404,"message":"not scripted"}})", 404));
}

QString FakeDocumentOcrService::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(server_.port());
}

void FakeDocumentOcrService::reply(const FakeHttpServer::Reply& reply)
{
    server_.enqueue("POST", kPath, reply);
}

FakeHttpServer::Reply FakeDocumentOcrService::recognised(const QString& wholeText)
{
    const QByteArray inner = QJsonDocument(
        QJsonObject { { QStringLiteral("whole_text"),
            wholeText } }).toJson(QJsonDocument::Compact);
    const QJsonObject body {
        { QStringLiteral("header"),
            QJsonObject { { QStringLiteral("code"), 0 },
                { QStringLiteral("message"), QStringLiteral("success") },
                { QStringLiteral("sid"), QStringLiteral("ase0001") } } },
        { QStringLiteral("payload"),
            QJsonObject { { QStringLiteral("recognizeDocumentRes"),
                QJsonObject { { QStringLiteral("text"), QString::fromLatin1(inner.toBase64()) } } } } },
    };
    return FakeHttpServer::Reply::json(QJsonDocument(body).toJson(QJsonDocument::Compact));
}

FakeHttpServer::Reply FakeDocumentOcrService::error(qint64 code, const QString& message)
{
    const QJsonObject body { { QStringLiteral("header"),
        QJsonObject { { QStringLiteral("code"), code }, { QStringLiteral("message"), message } } } };
    return FakeHttpServer::Reply::json(QJsonDocument(body).toJson(QJsonDocument::Compact));
}

QList<QImage> FakeDocumentOcrService::received() const
{
    QList<QImage> result;
    for (const FakeHttpServer::Request& request : server_.requests()) {
        const QImage picture = documentOcrBodyImage(request.body, credentials_.appId, nullptr);
        if (!picture.isNull())
            result.append(picture);
    }
    return result;
}

QStringList FakeDocumentOcrService::problems() const
{
    QStringList problems;
    const QString expectedHost = QStringLiteral("127.0.0.1:%1").arg(server_.port());
    for (const FakeHttpServer::Request& request : server_.requests()) {
        const QString what = QString::fromLatin1(request.method + ' ' + request.path().toLatin1());
        auto problem = [&](const QString& text) { problems << what + QStringLiteral(": ") + text; };
        if (request.method != "POST")
            problem(QStringLiteral("method is not POST"));
        if (request.path() != kPath)
            problem(QStringLiteral("unknown path"));
        const QUrlQuery query = request.query();
        const QString host = query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded);
        const QString date = query.queryItemValue(QStringLiteral("date"), QUrl::FullyDecoded);
        if (host != expectedHost)
            problem(QStringLiteral("host is \"%1\"").arg(host));
        QDateTime sent = QLocale::c().toDateTime(date, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
        sent.setTimeSpec(Qt::UTC);
        if (!sent.isValid() || std::abs(sent.secsTo(QDateTime::currentDateTimeUtc())) > kMaxClockSkewSeconds)
            problem(QStringLiteral("date \"%1\" is not a current GMT date").arg(date));

        const QString authorization
            = query.queryItemValue(QStringLiteral("authorization"), QUrl::FullyDecoded);
        if (!documentOcrBase64().match(authorization).hasMatch()) {
            problem(QStringLiteral("authorization is not strict Base64"));
        } else {
            static const QRegularExpression items(QStringLiteral(
                R"re(^api_key="([^"]*)", algorithm="([^"]*)", headers="([^"]*)", signature="([^"]*)"$)re"));
            const QRegularExpressionMatch match
                = items.match(QString::fromUtf8(QByteArray::fromBase64(authorization.toLatin1())));
            if (!match.hasMatch()) {
                problem(QStringLiteral("authorization does not hold the four items in order"));
            } else {
                if (match.captured(1) != credentials_.apiKey)
                    problem(QStringLiteral("api_key is wrong"));
                if (match.captured(2) != QLatin1String("hmac-sha256"))
                    problem(QStringLiteral("algorithm is not hmac-sha256"));
                if (match.captured(3) != QLatin1String("host date request-line"))
                    problem(QStringLiteral("headers is not \"host date request-line\""));
                const QString signedText = QStringLiteral("host: ") + host + QStringLiteral("\ndate: ") + date
                    + QStringLiteral("\nPOST ") + kPath + QStringLiteral(" HTTP/1.1");
                const QByteArray signature = QMessageAuthenticationCode::hash(
                    signedText.toUtf8(), credentials_.apiSecret.toUtf8(), QCryptographicHash::Sha256)
                                                 .toBase64();
                if (match.captured(4).toLatin1() != signature)
                    problem(QStringLiteral("signature cannot be verified"));
            }
        }
        if (request.header("content-type") != "application/json")
            problem(QStringLiteral("content-type is not application/json"));
        QStringList bodyProblems;
        documentOcrBodyImage(request.body, credentials_.appId, &bodyProblems);
        for (const QString& text : bodyProblems)
            problem(text);
    }
    return problems;
}

} // namespace fakes
