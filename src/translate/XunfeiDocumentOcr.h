#pragma once

#include "platform/HttpClient.h"
#include "translate/OcrResult.h"

#include <QByteArray>
#include <QImage>
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
    // Failure reasons (interface-string keys; see OcrResult).
    static const QString kServiceError; // detail: the service's code
    static const QString& kHttpError;
    static const QString& kTransportError;
    static const QString kRefusedAddress; // detail: why the address is refused
    static const QString& kUnreadableReply;
    static const QString& kNoText;
    static constexpr double kTimeoutSeconds = 10;

    struct Credentials {
        QString appId; // always the mainland app id: the body carries it
        QString apiKey;
        QString apiSecret;
    };

    // Sends the picture and calls back once, on the main thread. The picture
    // is encoded (PNG, then Base64) and the request built on a worker: for a
    // large screen that takes seconds.
    static void recognize(
        const QImage& image, const MMUserInfo& user, const QString& baseUrl, Callback callback);

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
    // (kServiceError); a reply without a header code, or whose text cannot be
    // read, is kUnreadableReply (kHttpError when the status was not a
    // success); an empty text is kNoText.
    static OcrResult readFromResponseDic(const platform::HttpResponse& response);
};
