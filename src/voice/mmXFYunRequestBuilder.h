#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QtGlobal>

// Which of the dictation service's two deployments a client talks to; they
// differ in which languages ask for dynamic correction.
enum class DictationRegion {
    Mainland,
    Overseas,
};

// The pure parts of the streaming-dictation protocol: the signed connection
// URL and the JSON frames the client sends. No state, no network.
class mmXFYunRequestBuilder {
public:
    // The request the signature covers, always this path whatever the endpoint.
    static const QString kRequestLine;
    static const QString kAlgorithm;
    static const QString kSignedHeaders;

    // Business parameters the earlier clients set differently.
    static const QString kAccentKey; // "accent"
    static const QString kVadEosKey; // "vad_eos"
    static const QString kRlangKey; // "rlang"
    static const QString kDwaKey; // "dwa"
    static const QString kDynamicCorrection; // "wpgs"
    static const QString kMandarin; // "mandarin"
    static const QString kChineseFamily; // "zh_cn"
    static const QString kCantoneseTraditional; // "zh_cn_cantonese_traditional"
    static const QString kRlangTraditional; // "zh-hk"
    static const QString kRlangSimplified; // "zh-cn"

    static const QString kAudioFormat;
    static const QString kAudioEncoding;
    // Trailing silence, in milliseconds, after which the service ends a session.
    static constexpr int kVadEos = 1500;

    // The signed text: "host: <endpoint>\ndate: <date>\n<request line>". The
    // host line carries the whole endpoint string as configured, scheme and
    // path included.
    static QString signatureOrigin(const QString& endpoint, const QString& date);
    // Base64 of the UTF-8 authorization text naming the key, the algorithm,
    // the signed headers and the HMAC-SHA256 signature (Base64) of the signed
    // text under the secret. Null when the secret cannot key the MAC (it must
    // be ASCII).
    static QString authorization(
        const QString& endpoint, const QString& date, const QString& apiKey, const QString& apiSecret);
    // "<endpoint>?authorization=…&date=…&host=<endpoint>", percent-encoded as a
    // URL query: ASCII letters, digits and !$&'()*+,-./:;=?@_~ stay, every
    // other byte of the UTF-8 text is escaped. Null when authorization() is.
    static QString signedUrl(
        const QString& endpoint, const QString& date, const QString& apiKey, const QString& apiSecret);

    // The "business" object of the first frame for a recognition language.
    // punctuation is the settings value (0 off, anything else on).
    static QJsonObject businessParameters(
        const QString& language, quint64 punctuation, DictationRegion region);
    // Whether the first frame asks for dynamic correction ("dwa"), given the
    // "language" value of the business parameters.
    static bool requestsDynamicCorrection(const QString& businessLanguage, DictationRegion region);

    // The three frames, pretty-printed UTF-8 JSON, each sent as one binary
    // message. The audio goes in as standard padded Base64.
    static QByteArray firstFrame(const QString& appId, const QJsonObject& business, const QByteArray& pcm);
    static QByteArray middleFrame(const QByteArray& pcm);
    static QByteArray lastFrame();

private:
    static QJsonObject dataObject(int status, const QByteArray& pcm);
    static QString accentFor(const QString& language);
};
