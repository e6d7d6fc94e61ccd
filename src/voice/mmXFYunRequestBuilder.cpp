#include "voice/mmXFYunRequestBuilder.h"

#include "core/StringCoding.h"
#include "core/XunfeiSignature.h"

#include <QJsonDocument>
#include <QUrl>

#include <cstring>

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

namespace xfyun_request {

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
const QString kPtt = QStringLiteral("ptt");
const QString kNunum = QStringLiteral("nunum");
const QString kDomainIat = QStringLiteral("iat");
const QString kTaiwanTraditional = QStringLiteral("zh_cn_taiwan_traditional");

// Dialects of the Chinese family, by a substring of the language code; the
// first that matches wins, so the longer codes come before their prefixes.
const std::pair<QString, QString> kAccents[] = {
    { QStringLiteral("zh_cn_cn_cantonese"), QStringLiteral("cn_cantonese") },
    { QStringLiteral("zh_cn_cn_lmz"), QStringLiteral("cn_lmz") },
    { QStringLiteral("zh_cn_henanese"), QStringLiteral("henanese") },
    { mmXFYunRequestBuilder::kCantoneseTraditional, QStringLiteral("cantonese") },
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

// A frame that carries only the data member, split around its audio text. The
// parts come from the JSON writer itself (once, with empty audio), so a frame
// put together from them is the writer's output byte for byte: Base64 text
// needs no escaping, and the writer escapes nothing of it.
struct DataFrameTemplate {
    QByteArray head; // up to and including the audio's opening quote
    QByteArray tail; // from the audio's closing quote to the end

    explicit DataFrameTemplate(const QJsonObject& frame)
    {
        // The writer's indented member with an empty text: "audio": ""
        const QByteArray emptyAudio = '"' + kAudio.toLatin1() + "\": \"\"";
        const QByteArray text = serialise(frame);
        const qsizetype at = text.indexOf(emptyAudio);
        Q_ASSERT(at >= 0 && text.indexOf(emptyAudio, at + 1) < 0);
        const qsizetype split = at + emptyAudio.size() - 1;
        head = text.left(split);
        tail = text.mid(split);
    }
};

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The two Base64 characters of every 12-bit value: half a group of three bytes
// in one look-up.
struct Base64Pairs {
    char pairs[4096][2] = {};

    constexpr Base64Pairs()
    {
        for (int value = 0; value < 4096; ++value) {
            pairs[value][0] = kBase64Alphabet[value >> 6];
            pairs[value][1] = kBase64Alphabet[value & 63];
        }
    }
};

constexpr Base64Pairs kBase64Pairs;

constexpr qsizetype base64Length(qsizetype bytes)
{
    return (bytes + 2) / 3 * 4;
}

// Standard padded Base64 of `size` bytes into `out`, which takes base64Length(size) characters.
void encodeBase64(const uchar* in, qsizetype size, char* out)
{
    qsizetype i = 0;
    for (; i + 3 <= size; i += 3, out += 4) {
        const quint32 group = quint32(in[i]) << 16 | quint32(in[i + 1]) << 8 | in[i + 2];
        std::memcpy(out, kBase64Pairs.pairs[group >> 12], 2);
        std::memcpy(out + 2, kBase64Pairs.pairs[group & 0xFFF], 2);
    }
    if (i == size)
        return;
    const bool two = size - i == 2;
    const quint32 group = quint32(in[i]) << 16 | (two ? quint32(in[i + 1]) << 8 : 0);
    out[0] = kBase64Alphabet[group >> 18];
    out[1] = kBase64Alphabet[(group >> 12) & 63];
    out[2] = two ? kBase64Alphabet[(group >> 6) & 63] : '=';
    out[3] = '=';
}

// The frame of `pieces` with the audio of `pcm` in place: one allocation, no
// intermediate texts.
QByteArray dataFrame(const DataFrameTemplate& pieces, const QByteArray& pcm)
{
    const qsizetype audio = base64Length(pcm.size());
    QByteArray frame(pieces.head.size() + audio + pieces.tail.size(), Qt::Uninitialized);
    char* out = frame.data();
    std::memcpy(out, pieces.head.constData(), size_t(pieces.head.size()));
    out += pieces.head.size();
    encodeBase64(reinterpret_cast<const uchar*>(pcm.constData()), pcm.size(), out);
    out += audio;
    std::memcpy(out, pieces.tail.constData(), size_t(pieces.tail.size()));
    return frame;
}

} // namespace xfyun_request

const QString mmXFYunRequestBuilder::kRequestLine
    = QStringLiteral("GET ") + xfyun_request::kPath + QStringLiteral(" HTTP/1.1");
const QString mmXFYunRequestBuilder::kAlgorithm = XunfeiSignature::algorithm();
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
    const QString text = XunfeiSignature::authorization(apiKey, kSignedHeaders, signature);
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
    for (const auto& [code, accent] : xfyun_request::kAccents) {
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
        const bool traditional
            = language == kCantoneseTraditional || language == xfyun_request::kTaiwanTraditional;
        rlang = traditional ? kRlangTraditional : kRlangSimplified;
    }
    QJsonObject business {
        { xfyun_request::kLanguage, businessLanguage },
        { xfyun_request::kDomain, xfyun_request::kDomainIat },
        { kAccentKey, chinese ? accentFor(language) : kMandarin },
        { kVadEosKey, kVadEos },
        { xfyun_request::kPtt, punctuation != 0 ? 1 : 0 },
        { kRlangKey, rlang },
        { xfyun_request::kNunum, 1 },
    };
    if (requestsDynamicCorrection(businessLanguage, region))
        business.insert(kDwaKey, kDynamicCorrection);
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
        { xfyun_request::kStatus, status },
        { xfyun_request::kFormat, kAudioFormat },
        { xfyun_request::kEncoding, kAudioEncoding },
        { xfyun_request::kAudio, QString::fromLatin1(pcm.toBase64()) },
    };
}

QByteArray mmXFYunRequestBuilder::firstFrame(
    const QString& appId, const QJsonObject& business, const QByteArray& pcm)
{
    return xfyun_request::serialise({
        { xfyun_request::kCommon, QJsonObject { { xfyun_request::kAppId, appId } } },
        { xfyun_request::kBusiness, business },
        { xfyun_request::kRequestData, dataObject(xfyun_request::kFirst, pcm) },
    });
}

QByteArray mmXFYunRequestBuilder::middleFrame(const QByteArray& pcm)
{
    static const xfyun_request::DataFrameTemplate kPieces(
        { { xfyun_request::kRequestData, dataObject(xfyun_request::kMiddle, {}) } });
    return xfyun_request::dataFrame(kPieces, pcm);
}

QByteArray mmXFYunRequestBuilder::lastFrame()
{
    static const xfyun_request::DataFrameTemplate kPieces(
        { { xfyun_request::kRequestData, dataObject(xfyun_request::kRequestLast, {}) } });
    return xfyun_request::dataFrame(kPieces, {});
}
