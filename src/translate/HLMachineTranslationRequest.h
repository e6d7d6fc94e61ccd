#pragma once

#include "translate/HLMachineTranslationParam.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVariant>

#include <functional>

class MMUserInfo;

// The mainland machine-translation client: one signed HTTPS POST that carries
// a text and a pair of language codes and returns the translated text. No
// state; every request reads the credentials of the service region afresh.
//
// The signature follows the service's HTTP signing scheme: a SHA-256 digest
// of the exact body bytes, and an HMAC-SHA256 under the API secret over the
// host, the date, the request line and the digest.
class HLMachineTranslationRequest {
public:
    // Called exactly once, on the main thread: failed false with the
    // translation (possibly empty), or true with a text that says what went
    // wrong (kServiceErrorFormat for an error code of the service,
    // kRequestErrorFormat for everything else).
    using CallBack = std::function<void(bool failed, const QString& text)>;

    // Scheme, host and port of the service, and where the environment may
    // override them (local test doubles).
    static const QString kDefaultBaseUrl;
    static const char* const kBaseUrlVariable;
    static const QString kPath;
    static const QString kRequestLine;
    static const QString kAlgorithm;
    static const QString kSignedHeaders;
    static const QString kDigestFormat;
    static const QString kServiceErrorFormat;
    static const QString kRequestErrorFormat;
    static const QString kNoTranslation;

    struct Credentials {
        QString appId;
        QString apiKey;
        QString apiSecret;
    };

    // What goes on the wire: the address, the body and the header fields
    // that the signature covers or that describe the body.
    struct SignedRequest {
        QString url;
        QByteArray body;
        QMap<QString, QString> header;
    };

    // What a reply comes to.
    struct Outcome {
        bool failed = true;
        QString text;
    };

    // The caller fills business (from, to) and data (text, already Base64);
    // the request fills common.app_id. Uses the shared settings and the
    // configured address.
    static void getMachineTranslationWithParam(HLMachineTranslationParam param, CallBack callBack);
    // The same with the settings and the address given.
    static void getMachineTranslationWithParam(
        HLMachineTranslationParam param, const MMUserInfo& user, const QString& baseUrl, CallBack callBack);

    // The mainland set when the region is exactly "cn", the overseas set
    // otherwise. Missing values stay empty and reach the service as such.
    static Credentials credentialsFor(const MMUserInfo& user);
    // kBaseUrlVariable when set, else kDefaultBaseUrl.
    static QString configuredBaseUrl();

    // The signed request for a date text (StringCoding::getTime); the path
    // of baseUrl is replaced by kPath.
    static SignedRequest signedRequest(HLMachineTranslationParam param, const Credentials& credentials,
        const QString& baseUrl, const QString& date);
    // A parsed reply: a non-zero "code" is a service error, else the text at
    // data.result.trans_result.dst is the translation; a reply without it
    // is a failure.
    static Outcome transResultParseWithDic(const QVariant& reply);
};
