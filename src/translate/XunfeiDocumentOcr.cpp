#include "translate/XunfeiDocumentOcr.h"

#include "core/HLParamTools.h"
#include "core/MMImage.h"
#include "core/MMUserInfo.h"
#include "core/SecureEndpoint.h"
#include "core/StringCoding.h"
#include "core/XunfeiSignature.h"
#include "platform/GlobalQueue.h"
#include "platform/MainQueue.h"

#include <QJsonDocument>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

#include <cmath>

const QString XunfeiDocumentOcr::kDefaultBaseUrl = QStringLiteral("https://api.xf-yun.com");
const char* const XunfeiDocumentOcr::kBaseUrlVariable = "PRAVIK_DOCUMENT_OCR_URL";
const QString XunfeiDocumentOcr::kPath = QStringLiteral("/v1/private/hh_ocr_recognize_doc");
const QString XunfeiDocumentOcr::kRequestLine
    = QStringLiteral("POST /v1/private/hh_ocr_recognize_doc HTTP/1.1");
const QString XunfeiDocumentOcr::kSignedHeaders = QStringLiteral("host date request-line");
const QString XunfeiDocumentOcr::kServiceError = QStringLiteral("识别服务返回错误码 %@。");
const QString& XunfeiDocumentOcr::kHttpError = OcrResult::kHttpError;
const QString& XunfeiDocumentOcr::kTransportError = OcrResult::kTransportError;
const QString XunfeiDocumentOcr::kRefusedAddress = QStringLiteral("识别服务地址不可用：%@");
const QString& XunfeiDocumentOcr::kNoText = OcrResult::kNoText;
const QString& XunfeiDocumentOcr::kUnreadableReply = OcrResult::kUnreadableReply;

void XunfeiDocumentOcr::recognize(
    const QImage& image, const MMUserInfo& user, const QString& baseUrl, Callback callback)
{
    if (!callback)
        callback = [](const OcrResult&) {};
    if (const QString refusal = SecureEndpoint::refusal(QUrl(baseUrl)); !refusal.isNull()) {
        platform::MainQueue::shared().async([callback = std::move(callback), refusal] {
            callback(OcrResult::failure(kRefusedAddress, refusal));
        });
        return;
    }
    // The settings are read here, on the main thread; the worker gets copies.
    platform::GlobalQueue::async(
        [image, credentials = credentialsFor(user), baseUrl, callback = std::move(callback)] {
            const platform::HttpRequest request
                = signedRequest(credentials, MMImage(image).mm_PNGData(), baseUrl, StringCoding::getTime());
            platform::HttpClient::shared().send(
                request, [callback](const platform::HttpResponse& response) {
                    callback(readFromResponseDic(response));
                });
        });
}

XunfeiDocumentOcr::Credentials XunfeiDocumentOcr::credentialsFor(const MMUserInfo& user)
{
    const mmApiKeyItem keys = user.apikeyItem().value_or(mmApiKeyItem());
    if (user.ipCountry() == MMUserInfo::kMainlandRegion)
        return { keys.ocr_appid, keys.ocr_appkey, keys.ocr_appsecret };
    return { keys.ocr_appid, keys.int_ocr_appkey, keys.int_ocr_appsecret };
}

QString XunfeiDocumentOcr::configuredBaseUrl()
{
    const QString fromEnvironment = qEnvironmentVariable(kBaseUrlVariable);
    return fromEnvironment.isEmpty() ? kDefaultBaseUrl : fromEnvironment;
}

QJsonObject XunfeiDocumentOcr::getDic(const QString& appId, const QString& imageBase64)
{
    return QJsonObject {
        { QStringLiteral("header"),
            QJsonObject { { QStringLiteral("app_id"), appId }, { QStringLiteral("status"), 3 } } },
        { QStringLiteral("parameter"),
            QJsonObject { { QStringLiteral("hh_ocr_recognize_doc"),
                QJsonObject { { QStringLiteral("recognizeDocumentRes"),
                    QJsonObject { { QStringLiteral("encoding"), QStringLiteral("utf8") },
                        { QStringLiteral("compress"), QStringLiteral("raw") },
                        { QStringLiteral("format"), QStringLiteral("json") } } } } } } },
        { QStringLiteral("payload"),
            QJsonObject { { QStringLiteral("image"),
                QJsonObject { { QStringLiteral("encoding"), QStringLiteral("png") },
                    { QStringLiteral("status"), 3 }, { QStringLiteral("image"), imageBase64 } } } } },
    };
}

platform::HttpRequest XunfeiDocumentOcr::signedRequest(
    const Credentials& credentials, const QByteArray& png, const QString& baseUrl, const QString& date)
{
    QUrl url(baseUrl);
    url.setPath(kPath);
    url.setFragment(QString());
    const QString host = XunfeiSignature::hostField(url);
    const QString signedText
        = QStringLiteral("host: ") + host + QStringLiteral("\ndate: ") + date + u'\n' + kRequestLine;
    const QString signature = HLParamTools::hmacSHA256WithSecret(credentials.apiSecret, signedText);
    const QString authorization
        = XunfeiSignature::authorization(credentials.apiKey, kSignedHeaders, signature);
    // Every value fully percent-encoded, so that the "+", "/" and "=" of the
    // Base64 texts reach the service as they are meant.
    auto encoded = [](const QString& value) { return QString::fromLatin1(QUrl::toPercentEncoding(value)); };
    url.setQuery(
        QStringLiteral("host=%1&date=%2&authorization=%3")
            .arg(encoded(host), encoded(date), encoded(HLParamTools::base64EncodeString(authorization))),
        QUrl::StrictMode);

    platform::HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.timeoutSeconds = kTimeoutSeconds;
    request.headers = { { "Content-Type", "application/json" } };
    request.body = QJsonDocument(getDic(credentials.appId, QString::fromLatin1(png.toBase64())))
                       .toJson(QJsonDocument::Compact);
    return request;
}

OcrResult XunfeiDocumentOcr::readFromResponseDic(const platform::HttpResponse& response)
{
    if (response.error != platform::HttpResponse::Error::None)
        return OcrResult::failure(kTransportError, response.errorString);
    const QJsonDocument reply = QJsonDocument::fromJson(response.body);
    const QJsonValue code
        = reply.object().value(QStringLiteral("header")).toObject().value(QStringLiteral("code"));
    if (!code.isDouble())
        return response.isSuccessStatus() ? OcrResult::failure(kUnreadableReply)
                                          : OcrResult::failure(kHttpError, QString::number(response.status));
    if (code.toDouble() != 0) {
        const double value = code.toDouble();
        const bool whole = value == std::trunc(value) && std::abs(value) < 9.0e15;
        return OcrResult::failure(
            kServiceError, whole ? QString::number(qint64(value)) : QString::number(value));
    }
    const QJsonValue text = reply.object()
                                .value(QStringLiteral("payload"))
                                .toObject()
                                .value(QStringLiteral("recognizeDocumentRes"))
                                .toObject()
                                .value(QStringLiteral("text"));
    if (!text.isString())
        return OcrResult::failure(kUnreadableReply);
    const auto decoded
        = QByteArray::fromBase64Encoding(text.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return OcrResult::failure(kUnreadableReply);
    const QJsonValue whole = QJsonDocument::fromJson(*decoded).object().value(QStringLiteral("whole_text"));
    if (!whole.isString())
        return OcrResult::failure(kUnreadableReply);
    if (whole.toString().isEmpty())
        return OcrResult::failure(kNoText);
    return OcrResult::success(whole.toString());
}
