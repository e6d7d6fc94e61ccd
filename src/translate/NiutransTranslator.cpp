#include "translate/NiutransTranslator.h"

#include "core/MMUserInfo.h"
#include "core/SecureEndpoint.h"
#include "core/StringCoding.h"
#include "core/XunfeiSignature.h"
#include "platform/MainQueue.h"
#include "translate/HLMachineTranslationRequest.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QUrl>

const QString NiutransTranslator::kPath = QStringLiteral("/v2/ots");
const QString NiutransTranslator::kNoTranslation = QStringLiteral("The reply holds no translation");

NiutransTranslator& NiutransTranslator::sharedInstance()
{
    static NiutransTranslator shared(MMUserInfo::sharedMMUserInfo(), platform::HttpClient::shared(),
        HLMachineTranslationRequest::configuredBaseUrl());
    return shared;
}

NiutransTranslator::NiutransTranslator(const MMUserInfo& user, platform::HttpClient& http, QString baseURL)
    : user_(user)
    , http_(http)
    , baseURL_(std::move(baseURL))
{
}

QByteArray NiutransTranslator::requestBody(
    const QString& appId, const QString& text, const QString& sourceLanguage, const QString& targetLanguage)
{
    const QJsonObject body { { QStringLiteral("appId"), appId }, { QStringLiteral("srcLang"), sourceLanguage },
        { QStringLiteral("tgtLang"), targetLanguage }, { QStringLiteral("text"), text } };
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

QString NiutransTranslator::getCurrentDateRFC1123Format()
{
    return StringCoding::currentRFC1123DateString();
}

QString NiutransTranslator::sha256AndBase64Encode(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toBase64());
}

QString NiutransTranslator::hmacSha256AndBase64Encode(const QString& text, const QString& key)
{
    return QString::fromLatin1(
        QMessageAuthenticationCode::hash(text.toUtf8(), key.toUtf8(), QCryptographicHash::Sha256).toBase64());
}

QString NiutransTranslator::currentTimestamp()
{
    return QString::number(QDateTime::currentSecsSinceEpoch());
}

QString NiutransTranslator::hostField() const
{
    return XunfeiSignature::hostField(QUrl(baseURL_));
}

QString NiutransTranslator::generateSignatureWithBody(const QString& body, const QString& date) const
{
    const QString digest = QStringLiteral("SHA-256=") + sha256AndBase64Encode(body);
    const QString signedText = QStringLiteral("host: %1\ndate: %2\n%3\ndigest: %4")
                                   .arg(hostField(), date, HLMachineTranslationRequest::kRequestLine, digest);
    return hmacSha256AndBase64Encode(signedText, apiSecret_);
}

platform::HttpRequest NiutransTranslator::signedRequest(const QByteArray& body, const QString& date) const
{
    const QString bodyText = QString::fromUtf8(body);
    const QString digest = QStringLiteral("SHA-256=") + sha256AndBase64Encode(bodyText);
    const QString authorization = XunfeiSignature::authorization(
        apiKey_, HLMachineTranslationRequest::kSignedHeaders, generateSignatureWithBody(bodyText, date));
    platform::HttpRequest request;
    request.method = "POST";
    QUrl url(baseURL_);
    url.setPath(kPath);
    request.url = url;
    request.body = body;
    request.headers = { { "Content-Type", "application/json" }, { "Host", hostField().toUtf8() },
        { "Date", date.toUtf8() }, { "Digest", digest.toUtf8() }, { "Authorization", authorization.toUtf8() } };
    return request;
}

void NiutransTranslator::translateText(const QString& text, const QString& sourceLanguage,
    const QString& targetLanguage, Completion completion)
{
    if (!completion)
        completion = [](const QString&, const QString&) {};
    const mmApiKeyItem keys = user_.apikeyItem().value_or(mmApiKeyItem());
    appId_ = keys.ots_appid;
    apiKey_ = keys.ots_appkey;
    apiSecret_ = keys.ots_appsecret;

    if (const QString refusal = SecureEndpoint::refusal(QUrl(baseURL_)); !refusal.isNull()) {
        platform::MainQueue::shared().async([completion, refusal] { completion(QString(), refusal); });
        return;
    }
    const QByteArray body = requestBody(appId_, text, sourceLanguage, targetLanguage);
    http_.send(signedRequest(body, getCurrentDateRFC1123Format()),
        [completion](const platform::HttpResponse& response) {
            if (response.error != platform::HttpResponse::Error::None) {
                completion(QString(), response.errorString);
                return;
            }
            if (!response.isSuccessStatus()) {
                completion(QString(), QStringLiteral("HTTP status %1").arg(response.status));
                return;
            }
            const QJsonValue translated
                = QJsonDocument::fromJson(response.body).object().value(QStringLiteral("translatedText"));
            if (!translated.isString()) {
                completion(QString(), kNoTranslation);
                return;
            }
            completion(translated.toString(), QString());
        });
}
