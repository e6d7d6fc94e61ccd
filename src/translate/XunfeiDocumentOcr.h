#pragma once

#include "platform/HttpClient.h"
#include "translate/OcrResult.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <functional>

class MMUserInfo;

// The mainland document-recognition service: one signed HTTPS POST with the
// picture as PNG in Base64; the reply carries the recognised text, itself
// Base64 of a JSON text whose "whole_text" is the text. The signature is an
// HMAC-SHA256 under the API secret over the host, the date and the request
// line, sent with them in the query.
class XunfeiDocumentOcr {
public:
    using Callback = std::function<void(const OcrResult& result)>;

    static const QString kDefaultBaseUrl;
    static const char* const kBaseUrlVariable;
    static const QString kPath;
    static const QString kRequestLine;
    static const QString kSignedHeaders;
    static const QString kServiceErrorFormat;
    static const QString kUnreadableReply;
    static const QString kNoText;
    static constexpr double kTimeoutSeconds = 10;

    struct Credentials {
        QString appId; // always the mainland app id: the body carries it
        QString apiKey;
        QString apiSecret;
    };

    // Sends the picture (PNG bytes) and calls back once, on the main thread.
    static void recognize(
        const QByteArray& png, const MMUserInfo& user, const QString& baseUrl, Callback callback);

    // The mainland signing set when the region is exactly "cn", the overseas
    // one otherwise; the app id is the mainland one either way.
    static Credentials credentialsFor(const MMUserInfo& user);
    // kBaseUrlVariable when set, else kDefaultBaseUrl.
    static QString configuredBaseUrl();

    // The request body for a picture already in Base64.
    static QJsonObject getDic(const QString& appId, const QString& imageBase64);
    // The whole request for a date text (StringCoding::getTime).
    static platform::HttpRequest signedRequest(
        const Credentials& credentials, const QByteArray& png, const QString& baseUrl, const QString& date);
    // What a reply comes to: a code other than 0 is a service error
    // (kServiceErrorFormat); a reply without a header code, or whose text
    // cannot be read, is kUnreadableReply; an empty text is kNoText.
    static OcrResult readFromResponseDic(const platform::HttpResponse& response);
};
