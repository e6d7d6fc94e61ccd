#include "voice/mmXFYunRequestBuilder.h"

#include "core/StringCoding.h"

#include <QJsonDocument>
#include <QUrl>

const QString mmXFYunRequestBuilder::kAccentKey = QStringLiteral("accent");
const QString mmXFYunRequestBuilder::kVadEosKey = QStringLiteral("vad_eos");
const QString mmXFYunRequestBuilder::kRlangKey = QStringLiteral("rlang");
const QString mmXFYunRequestBuilder::kDwaKey = QStringLiteral("dwa");
const QString mmXFYunRequestBuilder::kDynamicCorrection = QStringLiteral("wpgs");
const QString mmXFYunRequestBuilder::kMandarin = QStringLiteral("mandarin");
const QString mmXFYunRequestBuilder::kChineseFamily = QStringLiteral("zh_cn");
const QString mmXFYunRequestBuilder::kCantoneseTraditional = QStringLiteral("zh_cn_cantonese_traditional");
const QString mmXFYunRequestBuilder::kRlangTraditional = QStringLiteral("zh-hk");
const QString mmXFYunRequestBuilder::kRlangSimplified = QStringLiteral("zh-cn");

namespace {

const QString kPath = QStringLiteral("/v2/iat");

// JSON members of the frames.
const QString kCommon = QStringLiteral("common");
const QString kAppId = QStringLiteral("app_id");
const QString kBusiness = QStringLiteral("business");
const QString kRequestData = QStringLiteral("data");
const QString kStatus = QStringLiteral("status");
const QString kFormat = QStringLiteral("format");
const QString kEncoding = QStringLiteral("encoding");
const QString kAudio = QStringLiteral("audio");

// Business parameters.
const QString kLanguage = QStringLiteral("language");
const QString kDomain = QStringLiteral("domain");
const QString& kAccent = mmXFYunRequestBuilder::kAccentKey;
const QString kPtt = QStringLiteral("ptt");
const QString& kRlang = mmXFYunRequestBuilder::kRlangKey;
const QString kNunum = QStringLiteral("nunum");
const QString& kDwa = mmXFYunRequestBuilder::kDwaKey;

const QString kDomainIat = QStringLiteral("iat");
const QString& kCantoneseTraditional = mmXFYunRequestBuilder::kCantoneseTraditional;
const QString kTaiwanTraditional = QStringLiteral("zh_cn_taiwan_traditional");

// Dialects of the Chinese family, by a substring of the language code; the
// first that matches wins, so the longer codes come before their prefixes.
const std::pair<QString, QString> kAccents[] = {
    { QStringLiteral("zh_cn_cn_cantonese"), QStringLiteral("cn_cantonese") },
    { QStringLiteral("zh_cn_cn_lmz"), QStringLiteral("cn_lmz") },
    { QStringLiteral("zh_cn_henanese"), QStringLiteral("henanese") },
    { kCantoneseTraditional, QStringLiteral("cantonese") },
    { QStringLiteral("zh_cn_shanghainese"), QStringLiteral("shanghainese") },
    { QStringLiteral("zh_cn_nanchangnese"), QStringLiteral("nanchangnese") },
    { QStringLiteral("zh_cn_minnanese"), QStringLiteral("minnanese") },
    { QStringLiteral("zh_cn_lmz"), QStringLiteral("lmz") },
    { QStringLiteral("zh_cn_wuhanese"), QStringLiteral("wuhanese") },
    { QStringLiteral("zh_cn_hakkanese"), QStringLiteral("hakkanese") },
};

enum FrameStatus { kFirst = 0, kMiddle = 1, kRequestLast = 2 };

QByteArray serialise(const QJsonObject& frame)
{
    return QJsonDocument(frame).toJson(QJsonDocument::Indented);
}

} // namespace

const QString mmXFYunRequestBuilder::kRequestLine
    = QStringLiteral("GET ") + kPath + QStringLiteral(" HTTP/1.1");
const QString mmXFYunRequestBuilder::kAlgorithm = QStringLiteral("hmac-sha256");
const QString mmXFYunRequestBuilder::kSignedHeaders = QStringLiteral("host date request-line");
const QString mmXFYunRequestBuilder::kAudioFormat = QStringLiteral("audio/L16;rate=16000");
const QString mmXFYunRequestBuilder::kAudioEncoding = QStringLiteral("raw");

QString mmXFYunRequestBuilder::signatureOrigin(const QString& endpoint, const QString& date)
{
    return QStringLiteral("host: %1\ndate: %2\n%3").arg(endpoint, date, kRequestLine);
}

QString mmXFYunRequestBuilder::authorization(
    const QString& endpoint, const QString& date, const QString& apiKey, const QString& apiSecret)
{
    const QString signature = StringCoding::hmacSHA256WithSecret(apiSecret, signatureOrigin(endpoint, date));
    if (signature.isNull())
        return {};
    const QString text = QStringLiteral("api_key=\"%1\", algorithm=\"%2\", headers=\"%3\", signature=\"%4\"")
                             .arg(apiKey, kAlgorithm, kSignedHeaders, signature);
    return QString::fromLatin1(text.toUtf8().toBase64());
}

QString mmXFYunRequestBuilder::signedUrl(
    const QString& endpoint, const QString& date, const QString& apiKey, const QString& apiSecret)
{
    const QString auth = authorization(endpoint, date, apiKey, apiSecret);
    if (auth.isNull())
        return {};
    const QString text
        = QStringLiteral("%1?authorization=%2&date=%3&host=%4").arg(endpoint, auth, date, endpoint);
    // Letters, digits and "-._~" are never escaped; these are kept as well.
    static const QByteArray kQueryAllowed = "!$&'()*+,/:;=?@";
    return QString::fromLatin1(QUrl::toPercentEncoding(text, kQueryAllowed));
}

QString mmXFYunRequestBuilder::accentFor(const QString& language)
{
    for (const auto& [code, accent] : kAccents) {
        if (language.contains(code))
            return accent;
    }
    return kMandarin;
}

QJsonObject mmXFYunRequestBuilder::businessParameters(
    const QString& language, quint64 punctuation, DictationRegion region)
{
    const bool chinese = language.contains(kChineseFamily);
    const QString businessLanguage = chinese ? kChineseFamily : language;
    QString rlang;
    if (chinese) {
        const bool traditional = language == kCantoneseTraditional || language == kTaiwanTraditional;
        rlang = traditional ? kRlangTraditional : kRlangSimplified;
    }
    QJsonObject business {
        { kLanguage, businessLanguage },
        { kDomain, kDomainIat },
        { kAccent, chinese ? accentFor(language) : kMandarin },
        { kVadEosKey, kVadEos },
        { kPtt, punctuation != 0 ? 1 : 0 },
        { kRlang, rlang },
        { kNunum, 1 },
    };
    if (requestsDynamicCorrection(businessLanguage, region))
        business.insert(kDwa, kDynamicCorrection);
    return business;
}

bool mmXFYunRequestBuilder::requestsDynamicCorrection(const QString& businessLanguage, DictationRegion region)
{
    switch (region) {
    case DictationRegion::Mainland:
        return businessLanguage.contains(QLatin1String("cn"))
            && !businessLanguage.contains(QLatin1String("en"));
    case DictationRegion::Overseas:
        return !businessLanguage.contains(QLatin1String("zh"));
    }
    return false;
}

QJsonObject mmXFYunRequestBuilder::dataObject(int status, const QByteArray& pcm)
{
    return {
        { kStatus, status },
        { kFormat, kAudioFormat },
        { kEncoding, kAudioEncoding },
        { kAudio, QString::fromLatin1(pcm.toBase64()) },
    };
}

QByteArray mmXFYunRequestBuilder::firstFrame(
    const QString& appId, const QJsonObject& business, const QByteArray& pcm)
{
    return serialise({
        { kCommon, QJsonObject { { kAppId, appId } } },
        { kBusiness, business },
        { kRequestData, dataObject(kFirst, pcm) },
    });
}

QByteArray mmXFYunRequestBuilder::middleFrame(const QByteArray& pcm)
{
    return serialise({ { kRequestData, dataObject(kMiddle, pcm) } });
}

QByteArray mmXFYunRequestBuilder::lastFrame()
{
    return serialise({ { kRequestData, dataObject(kRequestLast, {}) } });
}
