#include "translate/HLMachineTranslationRequest.h"

#include "core/HLBaseResponse.h"
#include "core/HLHttpManager.h"
#include "core/HLParamTools.h"
#include "core/LGNLocalizedString.h"
#include "core/MMUserInfo.h"
#include "core/SecureEndpoint.h"
#include "core/StringCoding.h"
#include "core/XunfeiSignature.h"
#include "platform/MainQueue.h"

#include <QCryptographicHash>
#include <QUrl>
#include <QVariantMap>

const QString HLMachineTranslationRequest::kDefaultBaseUrl = QStringLiteral("https://ntrans.xfyun.cn");
const char* const HLMachineTranslationRequest::kBaseUrlVariable = "PRAVIK_OTS_URL";
const QString HLMachineTranslationRequest::kPath = QStringLiteral("/v2/ots");
const QString HLMachineTranslationRequest::kRequestLine = QStringLiteral("POST /v2/ots HTTP/1.1");
const QString HLMachineTranslationRequest::kAlgorithm = XunfeiSignature::algorithm();
const QString HLMachineTranslationRequest::kSignedHeaders = QStringLiteral("host date request-line digest");
const QString HLMachineTranslationRequest::kDigestFormat = QStringLiteral("SHA-256=%1");
const QString HLMachineTranslationRequest::kServiceErrorFormat = QStringLiteral("翻译错误，错误码：%1。");
const QString HLMachineTranslationRequest::kRequestErrorFormat = QStringLiteral("翻译错误：%1");
const QString HLMachineTranslationRequest::kNoTranslation = QStringLiteral("The reply holds no translation");

namespace {

const QString kCodeKey = QStringLiteral("code");

// The error texts are shown in the result window: in the interface language.
QString serviceError(qint64 code)
{
    return LGNLocalizedString::lgnAppLocalizedString(HLMachineTranslationRequest::kServiceErrorFormat).arg(code);
}

QString requestError(const QString& reason)
{
    return LGNLocalizedString::lgnAppLocalizedString(HLMachineTranslationRequest::kRequestErrorFormat).arg(reason);
}

void deliverLater(HLMachineTranslationRequest::CallBack callBack, bool failed, QString text)
{
    platform::MainQueue::shared().async(
        [callBack = std::move(callBack), failed, text = std::move(text)] { callBack(failed, text); });
}

// The text for a request that got no usable reply: the service's error code
// when the reply carries one, else what went wrong.
QString failureText(const HttpFailure& failure)
{
    if (failure.reply.typeId() == QMetaType::QVariantMap) {
        const qint64 code = HLBaseResponse::integerValue(failure.reply.toMap().value(kCodeKey));
        if (code != 0)
            return serviceError(code);
    }
    return requestError(failure.message);
}

} // namespace

void HLMachineTranslationRequest::getMachineTranslationWithParam(
    HLMachineTranslationParam param, CallBack callBack)
{
    getMachineTranslationWithParam(
        std::move(param), MMUserInfo::sharedMMUserInfo(), configuredBaseUrl(), std::move(callBack));
}

void HLMachineTranslationRequest::getMachineTranslationWithParam(
    HLMachineTranslationParam param, const MMUserInfo& user, const QString& baseUrl, CallBack callBack)
{
    if (!callBack)
        callBack = [](bool, const QString&) {};
    if (const QString refusal = SecureEndpoint::refusal(QUrl(baseUrl)); !refusal.isNull()) {
        qWarning("HLMachineTranslationRequest: %s", qPrintable(refusal));
        deliverLater(std::move(callBack), true, requestError(refusal));
        return;
    }
    const SignedRequest request
        = signedRequest(std::move(param), credentialsFor(user), baseUrl, StringCoding::getTime());
    HLHttpManager::POSTBODY(
        request.url, request.body, request.header,
        [callBack](const QVariant& reply) {
            const Outcome outcome = transResultParseWithDic(reply);
            callBack(outcome.failed, outcome.text);
        },
        [callBack](const HttpFailure& failure) {
            qWarning("HLMachineTranslationRequest: %s", qPrintable(failure.message));
            callBack(true, failureText(failure));
        });
}

HLMachineTranslationRequest::Credentials HLMachineTranslationRequest::credentialsFor(const MMUserInfo& user)
{
    const mmApiKeyItem keys = user.apikeyItem().value_or(mmApiKeyItem());
    if (user.ipCountry() == MMUserInfo::kMainlandRegion)
        return { keys.ots_appid, keys.ots_appkey, keys.ots_appsecret };
    return { keys.int_ots_appid, keys.int_ots_appkey, keys.int_ots_appsecret };
}

QString HLMachineTranslationRequest::configuredBaseUrl()
{
    const QString fromEnvironment = qEnvironmentVariable(kBaseUrlVariable);
    return fromEnvironment.isEmpty() ? kDefaultBaseUrl : fromEnvironment;
}

HLMachineTranslationRequest::SignedRequest HLMachineTranslationRequest::signedRequest(
    HLMachineTranslationParam param, const Credentials& credentials, const QString& baseUrl,
    const QString& date)
{
    param.common.app_id = credentials.appId;
    QUrl url(baseUrl);
    url.setPath(kPath);
    url.setQuery(QString());
    url.setFragment(QString());

    SignedRequest request;
    request.url = url.toString(QUrl::FullyEncoded);
    request.body = param.toJSONString();
    // The digest covers the very bytes that are sent.
    const QString digest = kDigestFormat.arg(
        HLParamTools::base64WithData(QCryptographicHash::hash(request.body, QCryptographicHash::Sha256)));
    const QString host = XunfeiSignature::hostField(url);
    const QString signedText = QStringLiteral("host: ") + host + QStringLiteral("\ndate: ") + date + u'\n'
        + kRequestLine + QStringLiteral("\ndigest: ") + digest;
    const QString signature = HLParamTools::hmacSHA256WithSecret(credentials.apiSecret, signedText);
    const QString authorization = XunfeiSignature::authorization(credentials.apiKey, kSignedHeaders, signature);

    request.header.insert(QStringLiteral("Host"), host);
    request.header.insert(QStringLiteral("Date"), date);
    request.header.insert(QStringLiteral("Digest"), digest);
    request.header.insert(QStringLiteral("Authorization"), authorization);
    request.header.insert(QStringLiteral("Content-Type"), QStringLiteral("application/json"));
    return request;
}

HLMachineTranslationRequest::Outcome HLMachineTranslationRequest::transResultParseWithDic(
    const QVariant& reply)
{
    if (reply.typeId() != QMetaType::QVariantMap)
        return { true, requestError(kNoTranslation) };
    const QVariantMap dic = reply.toMap();
    const qint64 code = HLBaseResponse::integerValue(dic.value(kCodeKey));
    if (code != 0)
        return { true, serviceError(code) };
    const QVariant dst = dic.value(QStringLiteral("data"))
                             .toMap()
                             .value(QStringLiteral("result"))
                             .toMap()
                             .value(QStringLiteral("trans_result"))
                             .toMap()
                             .value(QStringLiteral("dst"));
    if (dst.typeId() != QMetaType::QString)
        return { true, requestError(kNoTranslation) };
    return { false, dst.toString() };
}
