#pragma once

#include "platform/HttpClient.h"

#include <QByteArray>
#include <QString>

#include <functional>

class MMUserInfo;

// A second client of the mainland machine-translation service: the same
// signed POST to "/v2/ots" as HLMachineTranslationRequest, with a flat body
// ({"appId", "srcLang", "tgtLang", "text"}, the text as it is) and the
// translation read from the reply's "translatedText". It always signs with
// the mainland translation credentials, whatever the service region.
//
// Nothing in the application sends through it; it is kept usable and tested.
class NiutransTranslator {
public:
    // Exactly once, on the main thread: a translation and a null error, or a
    // null translation and what went wrong. Unlike the first client's
    // callers, this one is told about HTTP errors and replies without a
    // translation instead of getting nothing at all.
    using Completion = std::function<void(const QString& translation, const QString& error)>;

    static const QString kPath; // "/v2/ots"
    static const QString kNoTranslation;

    // The process-wide client: shared settings, shared HTTP client and the
    // service address of HLMachineTranslationRequest::configuredBaseUrl().
    static NiutransTranslator& sharedInstance();

    NiutransTranslator(const MMUserInfo& user, platform::HttpClient& http, QString baseURL);

    QString appId() const { return appId_; }
    QString apiKey() const { return apiKey_; }
    QString apiSecret() const { return apiSecret_; }
    QString baseURL() const { return baseURL_; }

    void translateText(const QString& text, const QString& sourceLanguage, const QString& targetLanguage,
        Completion completion);

    // The signed request for a date text, with the credentials taken by the
    // last translateText() (tests).
    platform::HttpRequest signedRequest(const QByteArray& body, const QString& date) const;
    // The flat body, compact JSON.
    static QByteArray requestBody(
        const QString& appId, const QString& text, const QString& sourceLanguage, const QString& targetLanguage);

    static QString getCurrentDateRFC1123Format();
    static QString sha256AndBase64Encode(const QString& text);
    static QString hmacSha256AndBase64Encode(const QString& text, const QString& key);
    // The Base64 HMAC-SHA256 under apiSecret of host, date, request line and
    // digest of the body text.
    QString generateSignatureWithBody(const QString& body, const QString& date) const;
    // Seconds since 1970 as decimal text.
    static QString currentTimestamp();

private:
    QString hostField() const;

    const MMUserInfo& user_;
    platform::HttpClient& http_;
    QString appId_;
    QString apiKey_;
    QString apiSecret_;
    QString baseURL_;
};
